#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "control/Device.h"
#include "control/Messages.h"
#include "control/DeviceDoc.h"
#include "platform/TextMode.h"
#include "platform/DataSource.h"
#include "support/FakeLink.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "Harness.h"

namespace bv {
namespace {

using test::readFile;

using test::FakeLink;
using test::makeFrame;
using test::ScriptedPrompt;
using test::TempDir;

struct DeviceBench : test::Bench {
    FakeLink link;
    ScriptedPrompt prompt;
    CDevice device{scheduler, prompt};

    DeviceBench() { device.Init(64, 113, "Brivane", &link); }
    // The window's heartbeat: received frames first, then one time message.
    void heartbeat()
    {
        while (!link.incoming.empty()) {
            const FRAME f = link.incoming.front();
            link.incoming.pop_front();
            scheduler.Dispatch(BusMessage(f));
        }
        tick();
    }
    void runReadyCheck()
    {
        device.StartReadyCheck();
        for (int i = 0; i < 200 && device.m_ReadyCheck.IsRunning(); ++i)
            heartbeat();
    }
};

TEST(ReadyCheck, PassesOnTheAnswer)
{
    DeviceBench b;
    b.link.onSend = [&](const FakeLink::Sent&) { b.link.inject(64, 113, "Ready 1"); };
    b.runReadyCheck();
    EXPECT_EQ(b.device.m_ReadyCheck.Status(), "OK");
    ASSERT_EQ(b.link.sent.size(), 1u);
    EXPECT_EQ(b.link.sent[0].source, 64);
    EXPECT_EQ(b.link.sent[0].destination, 113);
    EXPECT_EQ(b.link.sent[0].payload, "qr");
}

TEST(ReadyCheck, ThreeSilentTriesOfOneSecondThenFehler1)
{
    DeviceBench b;
    const uint32_t start = b.clock.now();
    b.runReadyCheck();
    EXPECT_EQ(b.device.m_ReadyCheck.Status(), "FEHLER1");
    EXPECT_EQ(b.link.sent.size(), 3u);
    const uint32_t took = b.clock.now() - start;
    EXPECT_GE(took, 3000u);
    EXPECT_LE(took, 3500u);
}

TEST(ReadyCheck, AnswerFromAnotherAddressDoesNotCountButALateTryDoes)
{
    DeviceBench b;
    b.link.onSend = [&](const FakeLink::Sent&) {
        b.link.inject(64, 112, "Ready");  // another device
        if (b.link.sent.size() == 3)
            b.link.inject(64, 113, "Ready");
    };
    b.runReadyCheck();
    EXPECT_EQ(b.device.m_ReadyCheck.Status(), "OK");
    EXPECT_EQ(b.link.sent.size(), 3u);
}

TEST(Device, SendGoesThroughTheLinkFromOwnToDevice)
{
    ScriptedPrompt prompt;
    ManualClock clock;
    CScheduler scheduler(clock);
    CDevice device(scheduler, prompt);
    EXPECT_EQ(device.m_iTypeCode, -1);
    EXPECT_EQ(device.Send("ql"), LinkResult::NotOpen);  // no link yet
    FakeLink link;
    device.Init(64, 7, nullptr, &link);
    EXPECT_EQ(device.m_bInitialised, 1);
    EXPECT_EQ(device.m_sName, "");
    const uint8_t plc[7] = {'s', 'o', 0xFF, 0xFF, 0x04, 0x00, 0x00};
    EXPECT_EQ(device.Send(plc, 7), LinkResult::Ok);
    link.sendResult = LinkResult::Failed;
    EXPECT_EQ(device.Send("elp 1", 5), LinkResult::Failed);
    ASSERT_EQ(link.sent.size(), 2u);
    EXPECT_EQ(link.sent[0].payload, std::string(reinterpret_cast<const char*>(plc), 7));
    EXPECT_EQ(link.sent[1].destination, 7);

    clock.set(4242);
    device.MarkAlive();
    EXPECT_EQ(device.m_bAnswerSeen, 1);
    EXPECT_EQ(device.m_dwLastAnswer, 4242u);
    device.ClearAlive();
    EXPECT_EQ(device.m_bAnswerSeen, 0);
    EXPECT_EQ(device.m_dwLastAnswer, 4242u);
}

TEST(AnswerReaders, FindKey)
{
    const FRAME f = makeFrame(64, 113, "Fl=  3.20 PL=12.5");
    EXPECT_EQ(CDevice::FindKey("Fl=", &f), 0);
    EXPECT_EQ(CDevice::FindKey("PL=", &f), 10);
    EXPECT_EQ(CDevice::FindKey("pl=", &f), -1);
    EXPECT_EQ(CDevice::FindKey("Te=", &f), -1);
    const FRAME shortFrame = makeFrame(64, 113, "Fl");
    EXPECT_EQ(CDevice::FindKey("Fl=", &shortFrame), -1);
    EXPECT_EQ(CDevice::FindKey("Fl=", nullptr), -1);  // a time message has no frame
}

TEST(AnswerReaders, ReadNumberStaysInsideThePayload)
{
    const FRAME f = makeFrame(64, 113, "PL=  12.50 W");
    EXPECT_DOUBLE_EQ(CDevice::ReadNumber(&f, CDevice::FindKey("PL=", &f) + 3, 10), 12.5);
    EXPECT_DOUBLE_EQ(CDevice::ReadNumber(&f, 3, 4), 12.0);     // width cuts the text
    EXPECT_DOUBLE_EQ(CDevice::ReadNumber(&f, 5, 100), 12.5);   // cut at the payload end
    EXPECT_DOUBLE_EQ(CDevice::ReadNumber(&f, 11, 10), 0.0);    // "W": no number
    EXPECT_DOUBLE_EQ(CDevice::ReadNumber(&f, -1, 10), 0.0);
    EXPECT_DOUBLE_EQ(CDevice::ReadNumber(&f, 12, 10), 0.0);
    EXPECT_DOUBLE_EQ(CDevice::ReadNumber(&f, 5000, 10), 0.0);
    EXPECT_DOUBLE_EQ(CDevice::ReadNumber(nullptr, 0, 10), 0.0);
    const FRAME signs = makeFrame(64, 113, "-0.75+3");
    EXPECT_DOUBLE_EQ(CDevice::ReadNumber(&signs, 0, 5), -0.75);
    EXPECT_DOUBLE_EQ(CDevice::ReadNumber(&signs, 5, 2), 3.0);
    // A missing key reads from offset - 1, which may well lie inside.
    const FRAME noKey = makeFrame(64, 113, "ab7.5");
    EXPECT_DOUBLE_EQ(CDevice::ReadNumber(&noKey, CDevice::FindKey("PL=", &noKey) + 3, 10), 7.5);
}

TEST(AnswerReaders, NumbersIgnoreTheProcessLocale)
{
    const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    if (!german)
        GTEST_SKIP() << "no German locale installed";
    const FRAME f = makeFrame(64, 113, "12.50");
    const double value = CDevice::ReadNumber(&f, 0, 10);
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(PrintTextMode(file, "%.2f\n", 1.5));
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_DOUBLE_EQ(value, 12.5);
    std::rewind(file);
    char buf[16] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf - 1, file), 6u);
    EXPECT_STREQ(buf, "1.50\r\n");
    std::fclose(file);
}

TEST(AnswerReaders, CopyPayloadAndCharAt)
{
    const FRAME f = makeFrame(64, 113, "shutter=O");
    char buf[8] = {'#', '#', '#', '#', '#', '#', '#', '#'};
    EXPECT_EQ(CDevice::CopyPayload(&f, 6, 8, buf), 3);
    EXPECT_EQ(std::string(buf, 4), "r=O#");
    EXPECT_EQ(CDevice::CopyPayload(&f, 9, 8, buf), 0);
    EXPECT_EQ(CDevice::CopyPayload(&f, -1, 8, buf), 0);
    EXPECT_EQ(CDevice::CharAt(&f, CDevice::FindKey("shutter=", &f) + 8), 'O');
    EXPECT_EQ(CDevice::CharAt(&f, 9), '\0');
    EXPECT_EQ(CDevice::CharAt(nullptr, 0), '\0');
}

struct Listener : IDeviceListener {
    std::vector<std::pair<int, long>> calls;
    std::function<void()> during;
    void OnDeviceChanged(int code, long parameter) override
    {
        calls.emplace_back(code, parameter);
        if (during)
            during();
    }
};

TEST(Device, NotifyCallsEachListenerOnceAndStoresTheParameter)
{
    DeviceBench b;
    b.device.Notify(kNotifyMeasuringEnded, 2);
    EXPECT_EQ(b.device.m_lLastParameter, 2);

    Listener one, two;
    b.device.AddListener(&one);
    b.device.AddListener(&one);
    b.device.AddListener(&two);
    one.during = [&] { b.device.RemoveListener(&two); };
    b.device.Notify(kNotifyIdentificationEnded, 0);
    EXPECT_EQ(one.calls, (std::vector<std::pair<int, long>>{{1125, 0}}));
    EXPECT_TRUE(two.calls.empty());  // removed before its turn
    EXPECT_EQ(b.device.m_lLastParameter, 0);
}

struct FakeSource : IDataSource {
    std::vector<std::string>* opened;
    int* closed;
    bool result;
    FakeSource(std::vector<std::string>* o, int* c, bool r) : opened(o), closed(c), result(r) {}
    bool open(const std::string& connection) override
    {
        opened->push_back(connection);
        return result;
    }
    void close() override { ++*closed; }
    bool isOpen() const override { return result; }
    std::string lastError() const override { return "refused"; }
};

struct FakeSources : IDataSourceFactory {
    std::vector<std::string> opened;
    int closed = 0;
    bool result = true;
    std::unique_ptr<IDataSource> create() override
    {
        return std::make_unique<FakeSource>(&opened, &closed, result);
    }
};

class ProtocolDevice : public CDevice {
public:
    using CDevice::CDevice;
    bool WriteProtocolLine(std::FILE* file, int a, int b) override
    {
        ++lines;
        if (tornAfter >= 0) {
            // A disk that fills up within the line.
            const std::string line = std::to_string(a) + "\t" + std::to_string(b) + "\r\n";
            std::fwrite(line.data(), 1, std::min<size_t>(static_cast<size_t>(tornAfter), line.size()), file);
            return false;
        }
        return lineOk && PrintTextMode(file, "%d\t%d\n", a, b);
    }
    bool WriteProtocolRecord(IDataSource&, int, int) override
    {
        ++records;
        return recordOk;
    }
    int lines = 0, records = 0;
    bool lineOk = true, recordOk = true;
    int tornAfter = -1;  // bytes of the line written before the write fails
};

struct ProtocolBench {
    ManualClock clock;
    CScheduler scheduler{clock};
    ScriptedPrompt prompt;
    ProtocolDevice device{scheduler, prompt};
    FakeSources sources;
    TempDir dir;
    ProtocolBench() { device.SetDataSourceFactory(&sources); }
};

TEST(WriteProtocol, BothSwitchesOffTouchNothing)
{
    ProtocolBench b;
    b.device.m_sProtocolPath = b.dir.file("p.txt");
    EXPECT_EQ(b.device.WriteProtocol(0, 0), 1);
    EXPECT_FALSE(std::filesystem::exists(b.device.m_sProtocolPath));
    EXPECT_EQ(b.device.lines + b.device.records, 0);
    EXPECT_TRUE(b.sources.opened.empty());
    EXPECT_TRUE(b.prompt.shown.empty());
}

TEST(WriteProtocol, AppendsWithCrLfAndKeepsWhatWasThere)
{
    ProtocolBench b;
    b.device.m_sProtocolPath = b.dir.file("p.txt");
    b.device.m_bProtocolToFile = 1;
    std::ofstream(b.device.m_sProtocolPath, std::ios::binary) << "old\r\n";
    EXPECT_EQ(b.device.WriteProtocol(1, 2), 1);
    EXPECT_EQ(b.device.WriteProtocol(3, 4), 1);
    EXPECT_EQ(readFile(b.device.m_sProtocolPath), "old\r\n1\t2\r\n3\t4\r\n");
    std::filesystem::remove(b.device.m_sProtocolPath);
    EXPECT_EQ(b.device.WriteProtocol(5, 6), 1);  // created when missing
    EXPECT_EQ(readFile(b.device.m_sProtocolPath), "5\t6\r\n");
    b.device.lineOk = false;
    EXPECT_EQ(b.device.WriteProtocol(7, 8), 0);
    EXPECT_TRUE(b.prompt.shown.empty());
}

struct StatusLines final : IDeviceListener {
    explicit StatusLines(CDevice& d) : device(d) { d.AddListener(this); }
    ~StatusLines() override { device.RemoveListener(this); }
    void OnDeviceChanged(int code, long kind) override
    {
        if (code == kNotifyStatusLine)
            lines.emplace_back(std::to_string(kind) + " " + device.StatusText());
    }
    CDevice& device;
    std::vector<std::string> lines;
};

TEST(WriteProtocol, FailedWriteLeavesNoTornLineAndIsReportedOncePerOutage)
{
    ProtocolBench b;
    StatusLines status(b.device);
    b.device.m_sProtocolPath = b.dir.file("p.txt");
    b.device.m_bProtocolToFile = 1;
    EXPECT_EQ(b.device.WriteProtocol(1, 2), 1);
    b.device.tornAfter = 2;
    EXPECT_EQ(b.device.WriteProtocol(3, 4), 0);
    EXPECT_EQ(b.device.WriteProtocol(5, 6), 0);
    EXPECT_EQ(readFile(b.device.m_sProtocolPath), "1\t2\r\n");
    b.device.tornAfter = -1;
    EXPECT_EQ(b.device.WriteProtocol(7, 8), 1);
    EXPECT_EQ(readFile(b.device.m_sProtocolPath), "1\t2\r\n7\t8\r\n");
    const std::string path = b.device.m_sProtocolPath;
    EXPECT_EQ(status.lines, (std::vector<std::string>{
                                "0 Protocol file " + path + " cannot be written: lines are lost",
                                "2 Protocol file " + path + " is written again"}));

    // A real full disk: the line stays in the stream's buffer until the flush fails.
    b.device.m_sProtocolPath = "/dev/full";
    EXPECT_EQ(b.device.WriteProtocol(9, 10), 0);
    EXPECT_EQ(status.lines.size(), 3u);
    EXPECT_TRUE(b.prompt.shown.empty());
}

TEST(WriteProtocol, UnopenableFileShows6117AndReturns0)
{
    ProtocolBench b;
    b.device.m_bProtocolToFile = 1;
    b.device.m_bProtocolToDatabase = 1;
    for (const std::string& path : {b.dir.file("missing/p.txt"), b.dir.path()}) {
        b.device.m_sProtocolPath = path;
        EXPECT_EQ(b.device.WriteProtocol(0, 0), 0);
    }
    EXPECT_EQ(b.prompt.texts(), (std::vector<std::string>{"Cannot open Database !", "Cannot open Database !"}));
    EXPECT_EQ(b.device.lines, 0);
    EXPECT_TRUE(b.sources.opened.empty());  // stops before the database
}

TEST(WriteProtocol, DatabaseOpenedWrittenAndClosed)
{
    ProtocolBench b;
    b.device.m_bProtocolToDatabase = 1;
    b.device.m_sDatabaseConnection = "DSN=Brivane";
    EXPECT_EQ(b.device.WriteProtocol(0, 0), 1);
    EXPECT_EQ(b.sources.opened, (std::vector<std::string>{"ODBC;DSN=Brivane"}));
    EXPECT_EQ(b.sources.closed, 1);
    EXPECT_EQ(b.device.records, 1);
    b.device.recordOk = false;
    EXPECT_EQ(b.device.WriteProtocol(0, 0), 0);
    EXPECT_TRUE(b.prompt.shown.empty());

    b.sources.result = false;
    EXPECT_EQ(b.device.WriteProtocol(0, 0), 0);
    EXPECT_EQ(b.device.records, 2);
    b.device.SetDataSourceFactory(nullptr);
    EXPECT_EQ(b.device.WriteProtocol(0, 0), 0);
    EXPECT_EQ(b.prompt.texts(), (std::vector<std::string>{"Cannot open Database !", "Cannot open Database !"}));
}

struct DocListener : IDocListener {
    std::vector<std::pair<int, CDeviceDoc*>> calls;
    void OnDocChanged(int hint, CDeviceDoc* doc) override { calls.emplace_back(hint, doc); }
};

TEST(DeviceDoc, NotifiesEveryListenerOnce)
{
    CDeviceDoc doc;
    DocListener a, c;
    doc.NotifyAll(3);
    EXPECT_EQ(doc.LastHint(), 3);
    doc.AddListener(&a);
    doc.AddListener(&a);
    doc.AddListener(&c);
    doc.NotifyAll(7);
    doc.RemoveListener(&c);
    doc.NotifyAll(8);
    EXPECT_EQ(a.calls, (std::vector<std::pair<int, CDeviceDoc*>>{{7, &doc}, {8, &doc}}));
    EXPECT_EQ(c.calls, (std::vector<std::pair<int, CDeviceDoc*>>{{7, &doc}}));
    EXPECT_EQ(doc.LastHint(), 8);
}

} // namespace
} // namespace bv
