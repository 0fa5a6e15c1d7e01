#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "MeterBench.h"
#include "devices/ProtocolLine.h"
#include "support/OdbcFixture.h"
#include "support/TempDir.h"

namespace bv::test {
namespace {

using test::readFile;

const char* const kCannotOpen = "Cannot open Database !";
const std::string kExampleLine = "14:05:09 31/01/2019\t\t12.35\tW\t2.500000\tl/min\t21.50\t\xB0\t0.75\xB0\t\r\n";

std::time_t localTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

MeasurePoint examplePoint()
{
    MeasurePoint p;
    p.power = 12.345;
    p.flow = 2.5;
    p.te = 21.5;
    p.td = 0.75;
    return p;
}

class Protocol : public MeterBench {
protected:
    Protocol()
    {
        meter.SetWallClock([] { return localTime(2019, 1, 31, 14, 5, 9); });
        meter.m_sProtocolPath = dir.file("protocol.txt");
        meter.m_bProtocolToFile = 1;
    }
    TempDir dir;
};

TEST_F(Protocol, ExampleLineByteForByte)
{
    meter.Store().AddMesswert(examplePoint(), 0);
    EXPECT_EQ(meter.WriteProtocol(0, 0), 1);
    EXPECT_EQ(readFile(meter.m_sProtocolPath), kExampleLine);
    EXPECT_TRUE(prompt.shown.empty());

    // The line carries the point's stamp (the second its milliseconds fall
    // in), not the clock's time when it is written.
    std::filesystem::remove(meter.m_sProtocolPath);
    MeasurePoint stamped = examplePoint();
    stamped.timeMs = static_cast<int64_t>(localTime(2019, 1, 31, 14, 5, 9)) * 1000 + 999;
    meter.Store().AddMesswert(stamped, 0);
    meter.SetWallClock([] { return localTime(2019, 1, 31, 14, 5, 12); });
    EXPECT_EQ(meter.WriteProtocol(0, 0), 1);
    EXPECT_EQ(readFile(meter.m_sProtocolPath), kExampleLine);
}

TEST_F(Protocol, EcColumnsOnlyWithTheFlagAndValidEcValues)
{
    MeasurePoint p = examplePoint();
    p.ecPower = 998.76;
    p.ecVoltage = 229.6;
    p.ecCurrent = 4.35;
    p.heaterState = 1;
    p.heaterValue = 0;  // made EC valid by the store
    meter.Store().AddMesswert(p, 0);
    const std::string head = kExampleLine.substr(0, kExampleLine.size() - 2);

    EXPECT_EQ(FormatProtocolLine(*meter.Store().pGetLastMeasureValue(), false), head + "\n");
    EXPECT_EQ(FormatProtocolLine(*meter.Store().pGetLastMeasureValue(), true),
              head + "\t998.76\tW\t230\tV\t4.350\tA\n");
    p.heaterValue = 4;  // not EC valid
    meter.Store().AddMesswert(p, 0);
    EXPECT_EQ(FormatProtocolLine(*meter.Store().pGetLastMeasureValue(), true), head + "\n");

    // The device writes what its flag says, in text mode.
    meter.m_bEcProtocol = 1;
    meter.Store().AddMesswert(*meter.Store().pGetMeaureValue(0), 0);
    ASSERT_EQ(meter.WriteProtocol(0, 0), 1);
    EXPECT_EQ(readFile(meter.m_sProtocolPath), head + "\t998.76\tW\t230\tV\t4.350\tA\r\n");
}

TEST_F(Protocol, ExistingFileIsExtended)
{
    std::ofstream(meter.m_sProtocolPath, std::ios::binary) << "earlier line\r\n";
    meter.Store().AddMesswert(examplePoint(), 0);
    ASSERT_EQ(meter.WriteProtocol(0, 0), 1);
    ASSERT_EQ(meter.WriteProtocol(0, 0), 1);
    EXPECT_EQ(readFile(meter.m_sProtocolPath), "earlier line\r\n" + kExampleLine + kExampleLine);
}

TEST_F(Protocol, EmptyStoreWritesNothing)
{
    EXPECT_EQ(meter.WriteProtocol(0, 0), 0);
    EXPECT_EQ(readFile(meter.m_sProtocolPath), "");
}

TEST_F(Protocol, EveryCycleWritesItsPointAndUnwritablePathIsRetried)
{
    ScriptedDevice device(kMeterAddress);
    device.answer("ql", {"al PL=    12.345 Fl=     2.500 Te=    21.500 Td=     0.750 shutter=O"});
    bus.attach(device);
    useSerialBus();
    meter.m_iShutterState = kShutterOpen;
    meter.m_sProtocolPath = dir.file("later/protocol.txt");

    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    ASSERT_TRUE(heart.runUntil([&] { return meter.Store().GetCount() == 2; }, 5000));
    EXPECT_EQ(prompt.texts(), (std::vector<std::string>{kCannotOpen, kCannotOpen}));

    std::filesystem::create_directory(dir.file("later"));
    ASSERT_TRUE(heart.runUntil([&] { return meter.Store().GetCount() == 4; }, 5000));
    EXPECT_EQ(readFile(meter.m_sProtocolPath), kExampleLine + kExampleLine);
    EXPECT_EQ(prompt.shown.size(), 2u);
    EXPECT_TRUE(meter.m_Measuring.IsRunning());
}

// Counts what the protocol does with the data sources it gets.
class CountingSources final : public IDataSourceFactory {
public:
    class Source final : public IDataSource {
    public:
        Source(CountingSources& owner) : m_owner(owner) {}
        bool open(const std::string& connection) override
        {
            const bool ok = m_real.open(connection);
            (ok ? m_owner.opened : m_owner.failed)++;
            return ok;
        }
        void close() override
        {
            if (m_real.isOpen())
                m_owner.closed++;
            m_real.close();
        }
        bool isOpen() const override { return m_real.isOpen(); }
        std::string lastError() const override { return m_real.lastError(); }
        ~Source() override
        {
            if (m_real.isOpen())
                m_owner.leftOpen++;
        }

    private:
        CountingSources& m_owner;
        OdbcDataSource m_real;
    };

    std::unique_ptr<IDataSource> create() override { return std::make_unique<Source>(*this); }
    int opened = 0, failed = 0, closed = 0, leftOpen = 0;
};

// One source for the whole program: the driver manager keeps the ini paths it
// saw first, so a second temporary directory would not be looked at.
SqliteDataSource& sqliteSource()
{
    static SqliteDataSource source;
    return source;
}

class DatabaseProtocol : public MeterBench {
protected:
    DatabaseProtocol()
    {
        sim::SimMeterConfig c = modelConfig(sim::MeterModel::Plain);
        device = std::make_unique<sim::SimMeter>(c);
        useFakeLink([this](std::string_view t, uint32_t now) { return device->command(t, now); });
        meter.m_iShutterState = kShutterClosed;
        meter.m_bProtocolToDatabase = 1;
    }
    SqliteDataSource& source = sqliteSource();
    std::unique_ptr<sim::SimMeter> device;
};

TEST_F(DatabaseProtocol, EachPointOpensAndClosesTheRealSource)
{
    meter.m_sDatabaseConnection = "BrivaneTest";
    std::filesystem::remove(source.database);
    meter.Store().AddMesswert(MeasurePoint{}, 0);
    // The device's own factory reaches the real driver.
    EXPECT_EQ(meter.WriteProtocol(0, 0), 1);
    EXPECT_TRUE(std::filesystem::exists(source.database));

    CountingSources sources;
    meter.SetDataSourceFactory(&sources);
    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    ASSERT_TRUE(heart.runUntil([&] { return meter.Store().GetCount() == 4; }, 5000));
    EXPECT_EQ(sources.opened, 3);
    EXPECT_EQ(sources.closed, 3);
    EXPECT_EQ(sources.leftOpen, 0);
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(DatabaseProtocol, UnknownSourceIsReportedAndMeasuringGoesOn)
{
    CountingSources sources;
    meter.SetDataSourceFactory(&sources);
    meter.m_sDatabaseConnection = "NoSuchSource";
    meter.StartMeasuring(MeasuringMode::Continuous, 1);
    ASSERT_TRUE(heart.runUntil([&] { return meter.Store().GetCount() == 3; }, 5000));
    EXPECT_EQ(sources.failed, 3);
    EXPECT_EQ(prompt.texts(), (std::vector<std::string>{kCannotOpen, kCannotOpen, kCannotOpen}));
    EXPECT_TRUE(meter.m_Measuring.IsRunning());
}

} // namespace
} // namespace bv::test
