#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/SimMeter.h"
#include "sim/SimPlc.h"

using namespace bv::sim;

namespace {

// The output command as the program builds it for one channel.
std::string setOutput(int channel)
{
    const unsigned mask = 1u << (channel - 1);
    return std::string{'s', 'o', '\xFF', '\xFF', static_cast<char>(mask & 0xFF),
                       static_cast<char>(mask >> 8), '\0'};
}

// The program's reading of the "ai" answer; -1 when it is too short to tell.
long inputWord(const std::vector<Reply>& replies)
{
    EXPECT_EQ(replies.size(), 1u);
    if (replies.empty())
        return -1;
    const std::string& p = replies.front().payload;
    EXPECT_EQ(p.rfind("ai", 0), 0u);
    if (p.size() < 5)
        return -1;
    return 0xFFFF - (static_cast<uint8_t>(p[4]) * 256 + static_cast<uint8_t>(p[3]));
}

struct PlcRig {
    PlcRig()
    {
        SimMeterConfig c;
        c.model = MeterModel::Compact;
        meter = std::make_unique<SimMeter>(c);
        plc = std::make_unique<SimPlc>(kDefaultPlcAddress, PlcWiring{3, 4, 5, 6}, meter.get());
    }
    std::unique_ptr<SimMeter> meter;
    std::unique_ptr<SimPlc> plc;
};

} // namespace

TEST(SimPlc, OutputsMoveTheShutterAndInputsReportWhereItRests)
{
    PlcRig rig;
    EXPECT_EQ(inputWord(rig.plc->command("qi", 0)), 1 << 5); // closed sensor, channel 6

    EXPECT_TRUE(rig.plc->onFrame(64, setOutput(3), 100).empty());
    EXPECT_EQ(rig.plc->outputs(), 0x0004);
    EXPECT_EQ(inputWord(rig.plc->command("qi", 300)), 0); // on its way, no sensor
    EXPECT_EQ(inputWord(rig.plc->onFrame(64, "qi", 1100)), 1 << 4);
    EXPECT_EQ(rig.meter->shutterPosition(1100), ShutterPosition::Open);
    EXPECT_NEAR(rig.meter->absorbedPower(1100), 1500.0, 1e-9);

    rig.plc->command(setOutput(4), 2000);
    EXPECT_EQ(rig.plc->outputs(), 0x0008);
    EXPECT_EQ(inputWord(rig.plc->command("qi", 3000)), 1 << 5);
    EXPECT_EQ(rig.meter->absorbedPower(3000), 0.0);
}

TEST(SimPlc, OnlyAClearOrderMovesTheActuator)
{
    PlcRig rig;
    const std::string both{'s', 'o', '\xFF', '\xFF', 0x0C, 0x00, 0x00};
    rig.plc->command(both, 0);
    EXPECT_EQ(rig.meter->shutterPosition(5000), ShutterPosition::Closed);
    const std::string none{'s', 'o', '\xFF', '\xFF', 0x00, 0x00, 0x00};
    rig.plc->command(none, 5000);
    EXPECT_EQ(rig.meter->shutterPosition(10000), ShutterPosition::Closed);
    // Outputs outside the change mask keep their state.
    const std::string lamp{'s', 'o', '\xFF', '\xFF', 0x00, '\x80', 0x00};
    rig.plc->command(lamp, 10000);
    const std::string masked{'s', 'o', '\x04', '\x00', 0x0C, 0x00, 0x00};
    rig.plc->command(masked, 10000);
    EXPECT_EQ(rig.plc->outputs(), 0x8004);
    EXPECT_EQ(rig.meter->shutterPosition(12000), ShutterPosition::Open);
}

TEST(SimPlc, FaultsShowAsAWrongInputWord)
{
    PlcRig rig;
    rig.meter->failShutterMoves(1);
    rig.plc->command(setOutput(3), 0);
    EXPECT_EQ(inputWord(rig.plc->command("qi", 1000)), 0);
    EXPECT_EQ(inputWord(rig.plc->command("qi", 5000)), 0); // stuck between the sensors

    rig.plc->command(setOutput(4), 6000);
    rig.plc->setOtherInputs(0x8000);
    EXPECT_EQ(inputWord(rig.plc->command("qi", 8000)), 0x8000 | (1 << 5));

    rig.plc->setSilent(true);
    EXPECT_TRUE(rig.plc->command("qi", 9000).empty());
}

TEST(SimPlc, WorksWithoutAMeterAndRefusesUnknownCommands)
{
    SimPlc plc(170);
    EXPECT_EQ(plc.address(), 170);
    plc.setOtherInputs(0x0003);
    EXPECT_EQ(inputWord(plc.command("qi", 0)), 3);
    EXPECT_EQ(plc.command("xx", 0).at(0).payload.rfind("Error", 0), 0u);
}
