#include <gtest/gtest.h>

#include "MeterBench.h"
#include "link/UsbListing.h"
#include "sim/SimUsb.h"

namespace bv::test {
namespace {

// Link mode 2 end to end: the real USB link over the simulated adapter, set
// up as the link selection does it, then identification and one reading.
class UsbLink : public MeterBench {
protected:
    // The device's link talks to the adapter, which goes first.
    ~UsbLink() override { meter.SetUsbLink(nullptr); }

    void connect(sim::SimUsbConfig config)
    {
        adapter = std::make_unique<sim::SimUsbAdapter>(clock, std::move(config));
        adapter->attachMeter(device);
        auto link = ListAndCreateUsbLink(*adapter, meter.UsbLink() != nullptr);
        ASSERT_TRUE(link);
        ASSERT_EQ(link->Open(), 0);
        meter.SetUsbLink(std::move(link));
        meter.SetLink(meter.UsbLink());
        readTheMetersLink();
    }
    bool settled(uint32_t limitMs = 5000)
    {
        return heart.runUntil([this] {
            return !meter.m_Identification.IsRunning() && !meter.m_Measuring.IsRunning();
        }, limitMs);
    }

    sim::SimMeter device{modelConfig(sim::MeterModel::EC)};
    std::unique_ptr<sim::SimUsbAdapter> adapter;
};

TEST_F(UsbLink, IdentifiesAndReadsThroughTheAdapter)
{
    connect({});
    meter.StartIdentification();
    meter.StartMeasuring(MeasuringMode::Single, 1);
    ASSERT_TRUE(settled());

    EXPECT_EQ(meter.m_Identification.Status(), kEndOk);
    EXPECT_EQ(meter.Kind(), MeterKind::EC);
    EXPECT_EQ(meter.m_bType34, 1);
    EXPECT_FALSE(meter.UsbLink()->busConverterPresent());
    ASSERT_EQ(meter.Store().GetCount(), 1);
    EXPECT_NEAR(meter.Store().pGetLastMeasureValue()->flow, 4.5, 0.2);
    EXPECT_EQ(notes.count(kNotifySingleReading), 1);

    std::vector<std::string> texts;
    for (const auto& t : adapter->textsFromPc())
        texts.push_back(t.text);
    // Without a bus lock the reading does not wait for the identification.
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"info", "ql", "qr"}));
}

TEST_F(UsbLink, BusConverterIsRecognised)
{
    sim::SimUsbConfig config;
    config.kind = sim::SimUsbKind::BusConverter;
    connect(config);
    meter.StartIdentification();
    ASSERT_TRUE(settled());
    EXPECT_TRUE(meter.UsbLink()->busConverterPresent());
}

} // namespace
} // namespace bv::test
