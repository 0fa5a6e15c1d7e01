#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "sim/SimMeter.h"

using namespace bv::sim;

namespace {

// The program's answer readers: first occurrence of a key, and a number of at most
// `width` characters at a position, converted as far as it looks like a number.
int findKey(const std::string& payload, const std::string& key)
{
    if (key.size() > payload.size())
        return -1;
    const auto p = payload.find(key);
    return p == std::string::npos ? -1 : static_cast<int>(p);
}

double readNumber(const std::string& payload, int position, int width)
{
    if (position < 0 || position >= static_cast<int>(payload.size()))
        return 0.0;
    const std::string field = payload.substr(position, width);
    return std::strtod(field.c_str(), nullptr);
}

double keyed(const std::string& payload, const std::string& key, int offset, int width)
{
    return readNumber(payload, findKey(payload, key) + offset, width);
}

char shutterOf(const std::string& payload)
{
    const int p = findKey(payload, "shutter=") + 8;
    return p < static_cast<int>(payload.size()) ? payload[p] : '\0';
}

std::string only(const std::vector<Reply>& replies)
{
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? std::string() : replies.front().payload;
}

// The frame the EC model sends by itself behind its "al" answer.
std::string pelOf(const std::vector<Reply>& replies)
{
    EXPECT_EQ(replies.size(), 2u);
    return replies.size() == 2 ? replies[1].payload : std::string();
}

SimMeterConfig config(MeterModel model, bool open = true)
{
    SimMeterConfig c;
    c.model = model;
    c.shutterStartsOpen = open;
    return c;
}

class EveryModel : public ::testing::TestWithParam<MeterModel> {};

} // namespace

TEST_P(EveryModel, IdentificationAnswersReadAsTheProgramReadsThem)
{
    const MeterModelInfo& info = meterModel(GetParam());
    SimMeter meter(config(GetParam(), false));
    const std::string ready = only(meter.command("qr", 0));
    EXPECT_EQ(ready.rfind("Ready", 0), 0u);
    const bool compact = findKey(ready, "CompactBrivane") >= 0 && findKey(ready, "V 2.") >= 0;
    const bool ec = !compact && findKey(ready, "EC-Brivane") >= 0;
    EXPECT_EQ(compact, GetParam() == MeterModel::Compact);
    EXPECT_EQ(ec, GetParam() == MeterModel::EC);

    const std::string answer = only(meter.command("info", 100));
    EXPECT_EQ(answer.rfind("Typ", 0), 0u) << answer;
    const int p = findKey(answer, "Typ ");
    EXPECT_EQ(readNumber(answer, p + 4, 1), info.typeDigits[0] - '0');
    EXPECT_EQ(readNumber(answer, p + 6, 1), info.typeDigits[2] - '0');
    const bool type34 = readNumber(answer, p + 4, 1) == 3 && readNumber(answer, p + 6, 1) == 4;
    EXPECT_EQ(type34, GetParam() == MeterModel::EC);
    EXPECT_DOUBLE_EQ(keyed(answer, "FlowMin ", 8, 6), info.flowMinimum);
    EXPECT_EQ(shutterOf(answer), 'C');
}

TEST_P(EveryModel, MeasuringAnswerCarriesEveryValueInItsField)
{
    SimMeter meter(config(GetParam()));
    const double flow = meterModel(GetParam()).nominalFlow;
    const std::string al = only(meter.command("ql", 0));
    EXPECT_EQ(al.rfind("al", 0), 0u);
    EXPECT_NEAR(keyed(al, "PL=", 3, 10), 1500.0, 20.0) << al;
    EXPECT_NEAR(keyed(al, "Fl=", 3, 10), flow, 0.1);
    EXPECT_NEAR(keyed(al, "Te=", 3, 10), 21.0, 0.1);
    EXPECT_NEAR(keyed(al, "Td=", 3, 10), 1500.0 / (flow / 60 * 4186), 0.05);
    EXPECT_EQ(shutterOf(al), 'O');
    EXPECT_EQ(findKey(al, "Pel"), -1);
}

INSTANTIATE_TEST_SUITE_P(Models, EveryModel,
                         ::testing::Values(MeterModel::Plain, MeterModel::EC, MeterModel::Compact));

TEST(SimMeter, AnswersComeWellInsideTheProgramsTimeOut)
{
    SimMeter meter(config(MeterModel::EC));
    uint32_t now = 0;
    for (const char* cmd : {"qr", "info", "ql", "elp 1", "ql", "elp 0", "xyz"}) {
        for (const Reply& r : meter.command(cmd, now += 1000)) {
            EXPECT_GE(r.delayMs, 30u) << cmd;
            EXPECT_LT(r.delayMs, 300u) << cmd;
        }
    }
}

TEST(SimMeter, UnknownCommandsAndModelsWithoutTheFeatureAnswerError)
{
    SimMeter plain(config(MeterModel::Plain));
    EXPECT_EQ(only(plain.command("qx", 0)).rfind("Error", 0), 0u);
    EXPECT_EQ(only(plain.command("elp 1", 0)).rfind("Error", 0), 0u);
    EXPECT_EQ(only(plain.command(std::string("qr\r\n\0", 5), 0)).rfind("Ready", 0), 0u);

    SimMeter compact(config(MeterModel::Compact));
    EXPECT_EQ(only(compact.command("sz", 0)).rfind("Error", 0), 0u);
    EXPECT_EQ(compact.shutterPosition(5000), ShutterPosition::Open);

    SimMeterConfig bare = config(MeterModel::Plain);
    bare.shutter = ShutterKind::None;
    SimMeter noShutter(bare);
    EXPECT_EQ(shutterOf(only(noShutter.command("info", 0))), 'N');
    EXPECT_EQ(shutterOf(only(noShutter.command("ql", 10))), 'N');
    EXPECT_EQ(only(noShutter.command("sa", 20)).rfind("Error", 0), 0u);
}

TEST(SimMeter, PowerReachesTheAbsorberOnlyThroughTheOpenShutter)
{
    SimMeter m(config(MeterModel::Plain, false));
    EXPECT_NEAR(keyed(only(m.command("ql", 0)), "PL=", 3, 10), 0.0, 1.0);
    const std::vector<Reply> sa = m.command("sa", 1000);
    ASSERT_EQ(sa.size(), 1u);
    EXPECT_EQ(sa[0].payload, "asa");
    EXPECT_GE(sa[0].delayMs, 800u);
    EXPECT_LT(sa[0].delayMs, 12000u);
    EXPECT_EQ(shutterOf(only(m.command("ql", 1400))), 'U'); // on its way
    EXPECT_EQ(shutterOf(only(m.command("ql", 1000 + sa[0].delayMs))), 'O');

    // The rise lags the power by a few seconds.
    const double early = m.temperatureRise(2800);
    const double settled = m.temperatureRise(40000);
    EXPECT_NEAR(settled, 1500.0 / (4.5 / 60 * 4186), 0.01);
    EXPECT_GT(early, 0.1 * settled);
    EXPECT_LT(early, 0.6 * settled);
    EXPECT_NEAR(keyed(only(m.command("ql", 40000)), "PL=", 3, 10), 1500.0, 20.0);

    const std::vector<Reply> again = m.command("sa", 41000);
    EXPECT_EQ(only(again), "asa");
    EXPECT_LT(again[0].delayMs, 300u); // already there
    EXPECT_EQ(only(m.command("sz", 42000)), "asz");
    EXPECT_NEAR(m.temperatureRise(90000), 0.0, 0.01);
}

TEST(SimMeter, TemperatureRiseFollowsPowerOverFlow)
{
    SimMeter meter(config(MeterModel::Plain));
    const double base = meter.temperatureRise(60000);
    meter.setLaserPower(3000);
    const double doubled = meter.temperatureRise(120000);
    meter.setFlow(9.0);
    const double moreWater = meter.temperatureRise(180000);
    EXPECT_NEAR(doubled, 2 * base, 0.01);
    EXPECT_NEAR(moreWater, base, 0.01);
}

TEST(SimMeter, TimeMayWrapAroundTheCounter)
{
    SimMeter meter(config(MeterModel::Plain, false));
    const uint32_t start = 0xFFFFF000u;
    meter.command("sa", start);
    const double rise = meter.temperatureRise(start + 60000); // wrapped
    EXPECT_NEAR(rise, 1500.0 / (4.5 / 60 * 4186), 0.01);
    EXPECT_EQ(meter.shutterPosition(start + 60000), ShutterPosition::Open);
}

TEST(SimMeter, SameSeedSameAnswersOtherSeedOtherNoise)
{
    auto run = [](uint32_t seed) {
        SimMeterConfig c = config(MeterModel::EC);
        c.seed = seed;
        SimMeter meter(c);
        std::string all;
        uint32_t now = 0;
        for (const char* cmd : {"qr", "ql", "elp 1", "ql", "ql", "sz", "ql"})
            for (const Reply& r : meter.command(cmd, now += 1000))
                all += std::to_string(r.delayMs) + ":" + r.payload + "\n";
        return all;
    };
    EXPECT_EQ(run(7), run(7));
    EXPECT_NE(run(7), run(8));
}

TEST(SimMeterCalibration, PelFrameFollowsEveryAlOnlyWhileCalibrating)
{
    SimMeter meter(config(MeterModel::EC, false));
    const std::string on = only(meter.command("elp 1", 0));
    EXPECT_EQ(on.rfind("elcal_enabled", 0), 0u);
    EXPECT_EQ(keyed(on, "heater", 8, 1), 1);
    EXPECT_EQ(static_cast<int>(keyed(on, "heater", 10, 3)) & kHeaterUnsettled, kHeaterUnsettled);

    const std::vector<Reply> replies = meter.command("ql", 30000);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].payload.rfind("al", 0), 0u);
    const std::string& pel = replies[1].payload;
    EXPECT_EQ(pel.rfind("Pel", 0), 0u) << pel;
    EXPECT_GT(replies[1].delayMs, replies[0].delayMs);
    EXPECT_NEAR(keyed(pel, "Pel", 5, 4), 1000.0, 5.0);
    EXPECT_NEAR(keyed(pel, "IRMS", 6, 6), 1000.0 / 230.0, 0.02);
    EXPECT_NEAR(keyed(pel, "VRMS", 6, 3), 230.0, 1.0);
    EXPECT_EQ(keyed(pel, "heater", 8, 1), 1);
    EXPECT_EQ(keyed(pel, "heater", 10, 3), 0);
    // The heater alone heats the absorber behind the closed shutter.
    EXPECT_NEAR(keyed(replies[0].payload, "PL=", 3, 10), 1000.0, 15.0);

    const std::string off = only(meter.command("elp 0", 31000));
    EXPECT_EQ(off.rfind("elcal_enabled", 0), 0u);
    EXPECT_EQ(keyed(off, "heater", 8, 1), 0);
    EXPECT_EQ(meter.command("ql", 32000).size(), 1u);
}

TEST(SimMeterCalibration, HeaterProtectsItselfAndReportsWhy)
{
    SimMeter lowFlow(config(MeterModel::EC));
    lowFlow.failFlow(3.0);
    const std::string refused = only(lowFlow.command("elp 1", 0));
    EXPECT_EQ(keyed(refused, "heater", 8, 1), 0);
    EXPECT_EQ(keyed(refused, "heater", 10, 3), kHeaterLowFlow);

    SimMeter flowFails(config(MeterModel::EC));
    flowFails.command("elp 1", 0);
    flowFails.failFlow(0.0);
    const std::string cut = pelOf(flowFails.command("ql", 1000));
    EXPECT_EQ(keyed(cut, "heater", 8, 1), 0);
    EXPECT_EQ(keyed(cut, "heater", 10, 3), kHeaterLowFlow);
    EXPECT_EQ(keyed(cut, "Pel", 5, 4), 0);

    SimMeterConfig shortRun = config(MeterModel::EC);
    shortRun.heaterMaxOnMs = 5000;
    SimMeter timesOut(shortRun);
    timesOut.command("elp 1", 0);
    EXPECT_EQ(keyed(pelOf(timesOut.command("ql", 4000)), "heater", 8, 1), 1);
    EXPECT_EQ(keyed(pelOf(timesOut.command("ql", 6000)), "heater", 10, 3), kHeaterTimeout);
}

TEST(SimMeterFaults, SilenceForAWhileAndUntilCleared)
{
    SimMeter meter(config(MeterModel::Plain));
    meter.silence(1000, 5000);
    EXPECT_TRUE(meter.command("qr", 1000).empty());
    EXPECT_TRUE(meter.command("ql", 5999).empty());
    EXPECT_EQ(meter.command("qr", 6000).size(), 1u);
    meter.silenceUntilCleared();
    EXPECT_TRUE(meter.onFrame(64, "qr", 100000).empty());
    meter.clearSilence();
    EXPECT_EQ(meter.onFrame(64, "qr", 100001).size(), 1u);
}

TEST(SimMeterFaults, FlowFailureShowsInTheReadings)
{
    SimMeter meter(config(MeterModel::Plain));
    meter.command("ql", 0);
    meter.failFlow(0.0);
    const std::string al = only(meter.command("ql", 10000));
    EXPECT_EQ(keyed(al, "Fl=", 3, 10), 0.0);
    EXPECT_NEAR(keyed(al, "PL=", 3, 10), 0.0, 1.0);
    EXPECT_GT(keyed(al, "Td=", 3, 10), 20.0); // the absorber heats up
    meter.restoreFlow();
    EXPECT_NEAR(keyed(only(meter.command("ql", 11000)), "Fl=", 3, 10), 4.5, 0.1);
}

TEST(SimMeterFaults, ScriptedShutterErrorsThenRecovery)
{
    SimMeter meter(config(MeterModel::Plain, false));
    meter.failShutterMoves(2);
    uint32_t now = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string answer = only(meter.command("sa", now));
        EXPECT_EQ(answer.rfind("schieber", 0), 0u);
        now += 4000;
        EXPECT_EQ(meter.shutterPosition(now), ShutterPosition::Stalled);
        EXPECT_EQ(shutterOf(only(meter.command("ql", now))), 'U');
    }
    EXPECT_EQ(only(meter.command("sa", now)), "asa");
    EXPECT_EQ(meter.shutterPosition(now + 1000), ShutterPosition::Open);
}

TEST(SimMeterFaults, HeaterDropOutInfoRefusalAndUnknownShutter)
{
    SimMeter meter(config(MeterModel::EC));
    meter.command("elp 1", 0);
    meter.failHeater(5);
    const std::string pel = pelOf(meter.command("ql", 3000));
    EXPECT_EQ(keyed(pel, "heater", 8, 1), 0);
    EXPECT_EQ(keyed(pel, "heater", 10, 3), 5);
    meter.command("elp 0", 4000);
    meter.failHeater(0);
    EXPECT_EQ(keyed(only(meter.command("elp 1", 5000)), "heater", 8, 1), 0);
    EXPECT_EQ(keyed(only(meter.command("elp 1", 6000)), "heater", 8, 1), 1);

    meter.refuseInfo(true);
    EXPECT_EQ(only(meter.command("info", 7000)).rfind("Error", 0), 0u);
    meter.reportShutterUnknown(true);
    EXPECT_EQ(shutterOf(meter.command("ql", 8000)[0].payload), 'U');
    meter.refuseInfo(false);
    EXPECT_EQ(shutterOf(only(meter.command("info", 9000))), 'U');
}
