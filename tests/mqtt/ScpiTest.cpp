// SCPI over TCP: the session's parser and error queue, and the server on
// real sockets beside a simulated core; the address list Modbus shares, and
// what a PLC reads of a calibration's verdict.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "devices/PowerMeter.h"
#include "net/ScpiServer.h"
#include "net/ScpiSession.h"
#include "support/LineClient.h"
#include "support/LogCapture.h"
#include "support/PlcClient.h"
#include "support/SimCore.h"

namespace bv {
namespace {

using namespace std::chrono_literals;

ReadingSnapshot current()
{
    ReadingSnapshot s;
    s.anyValid = s.current = s.linkUp = s.measuring = true;
    s.power = 1500.25;
    s.flow = 4.5;
    s.te = 21;
    s.td = 4.75;
    s.timeMs = 1796879226903;
    s.shutterState = kShutterOpen;
    s.stats = {8, 1501.5, 2.5, 1496.75, 1504.5};
    s.model = 2;
    s.address = 113;
    return s;
}

// Each line sent alone, what it answered.
std::string ask(ScpiSession& session, const std::string& line, const ReadingSnapshot& s = current())
{
    std::string out;
    session.receive(line.data(), line.size());
    session.receive("\r\n", 2);
    session.run(s, out);
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

TEST(ScpiSession, AnswersShortLongAndRelativeFormsAndKeepsAnHonestErrorQueue)
{
    ScpiSession session(false, "1.0");
    EXPECT_EQ(ask(session, "*idn?"), "BrivaneSoftware,EC-Brivane,113,1.0");
    EXPECT_EQ(ask(session, "MEAS:POW?"), "1500.25");
    EXPECT_EQ(ask(session, ":measure:scalar:power:dc?"), "1500.25");
    // The second header continues from the first's path; an absolute one does not.
    EXPECT_EQ(ask(session, "FETC:POW?;FLOW?;:FETCH:TEMP?"), "1500.25;4.5;21,4.75");
    EXPECT_EQ(ask(session, "FETC:ALL?"), "1796879226.903,1500.25,4.5,21,4.75,OPEN,1");
    EXPECT_EQ(ask(session, "FETC:STAT?"), "8,1501.5,2.5,1496.75,1504.5");
    EXPECT_EQ(ask(session, "SYST:ERR?"), "0,\"No error\"");

    // What a client gets wrong is queued once each, its text shown harmlessly.
    EXPECT_EQ(ask(session, "FETC:POWX?;MEAS:POW? 3;\"FOO\x01"), "");
    EXPECT_EQ(ask(session, "SYST:ERR:COUN?"), "3");
    EXPECT_EQ(ask(session, "SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?"),
              "-113,\"Undefined header;FETC:POWX?\";-108,\"Parameter not allowed;MEAS:POW\";"
              "-113,\"Undefined header;?FOO?\";0,\"No error\"");
    EXPECT_EQ(ask(session, std::string(300, 'X') + ";*IDN?"), "");  // dropped whole
    EXPECT_EQ(ask(session, "SYST:ERR?"), "-100,\"Command error;line longer than 256 bytes\"");

    // Commands are off: refused, never run.
    EXPECT_EQ(ask(session, "INIT;ABOR;OUTP:SHUT CLOS"), "");
    EXPECT_FALSE(session.waiting());
    EXPECT_EQ(ask(session, "SYST:ERR?"), "-221,\"Settings conflict;commands are off\"");
    ask(session, "*CLS");

    // A full queue keeps its oldest and ends with the overflow.
    for (size_t i = 0; i < ScpiSession::kErrorQueueSize + 5; ++i)
        ask(session, "NOPE");
    EXPECT_EQ(session.errorCount(), ScpiSession::kErrorQueueSize);
    for (size_t i = 0; i + 1 < ScpiSession::kErrorQueueSize; ++i)
        EXPECT_EQ(ask(session, "SYST:ERR?"), "-113,\"Undefined header;NOPE\"");
    EXPECT_EQ(ask(session, "SYST:ERR?"), "-350,\"Queue overflow\"");

    // Stale: the SCPI "not a number" in every value and -230 once per query.
    ReadingSnapshot stale = current();
    stale.current = false;
    stale.linkUp = false;
    stale.noFlow = true;
    EXPECT_EQ(ask(session, "MEAS:POW?;FETC:TEMP?", stale), "9.91E37;9.91E37,9.91E37");
    EXPECT_EQ(ask(session, "FETC:ALL?;FETC:STAT?", stale),
              "1796879226.903,9.91E37,9.91E37,9.91E37,9.91E37,OPEN,0;0,9.91E37,9.91E37,9.91E37,9.91E37");
    EXPECT_EQ(ask(session, "STAT:QUES:COND?", stale),
              std::to_string(scpi::kStale | scpi::kNoFlow | scpi::kLinkLost));
    EXPECT_EQ(ask(session, "SYST:ERR:COUN?"), "4");
    EXPECT_EQ(ask(session, "SYST:ERR?"), "-230,\"Data corrupt or stale;no current reading\"");
}

TEST(ScpiSession, MeterCommandsWaitForTheirOutcomeAndKeepTheirOrder)
{
    ScpiSession session(true, "1.0");
    std::string out;
    const std::string line = "*IDN?;INIT;*OPC?\nOUTP:SHUT CLOSE\nMEAS:POW?\n";
    session.receive(line.data(), line.size());
    session.run(current(), out);
    ASSERT_EQ(session.pendingCommand(), MeterCommand::Start);
    EXPECT_EQ(out, "");  // the line's answers wait for its end
    session.run(current(), out);
    EXPECT_EQ(out, "") << "nothing runs past a command still pending";
    session.commandDone({});
    session.run(current(), out);
    EXPECT_EQ(out, "BrivaneSoftware,EC-Brivane,113,1.0;1\n");
    ASSERT_EQ(session.pendingCommand(), MeterCommand::CloseShutter);
    CommandOutcome refused;
    refused.result = CommandOutcome::Result::Refused;
    refused.text = "the laser is on the meter";
    session.commandDone(refused);
    out.clear();
    session.run(current(), out);
    EXPECT_EQ(out, "1500.25\n");
    EXPECT_EQ(ask(session, "SYST:ERR?"), "-221,\"Settings conflict;the laser is on the meter\"");

    EXPECT_EQ(ask(session, "OUTP:SHUT AJAR;OUTP:SHUT"), "");
    EXPECT_FALSE(session.waiting());
    EXPECT_EQ(ask(session, "SYST:ERR?;SYST:ERR?"),
              "-224,\"Illegal parameter value;AJAR\";-109,\"Missing parameter;OPEN or CLOSe\"");
    ask(session, "abort");
    EXPECT_EQ(session.pendingCommand(), MeterCommand::Stop);
    session.commandDone({});
    ask(session, "SENS:CORR:ZERO");
    EXPECT_EQ(session.pendingCommand(), MeterCommand::Zero);
}

TEST(RemoteAccess, AllowListTakesAddressesAndNetworksAndRefusesWhatItCannotRead)
{
    auto v4 = [](const char* text) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, text, &a.sin_addr);
        return a;
    };
    auto v6 = [](const char* text) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        inet_pton(AF_INET6, text, &a.sin6_addr);
        return a;
    };
    AllowList list;
    std::string error;
    ASSERT_TRUE(list.parse("192.168.10.7, 10.1.0.0/16;fd00::/8", error)) << error;
    auto allows = [&](const auto& a) { return list.allows(reinterpret_cast<const sockaddr*>(&a)); };
    EXPECT_TRUE(allows(v4("192.168.10.7")));
    EXPECT_FALSE(allows(v4("192.168.10.8")));
    EXPECT_TRUE(allows(v4("10.1.255.3")));
    EXPECT_FALSE(allows(v4("10.2.0.1")));
    EXPECT_TRUE(allows(v6("fd12::1")));
    EXPECT_FALSE(allows(v6("::1")));
    EXPECT_TRUE(allows(v6("::ffff:192.168.10.7")));  // an IPv4 client on an IPv6 socket
    ASSERT_TRUE(list.parse("", error));
    EXPECT_TRUE(allows(v4("203.0.113.9")));
    for (const char* bad : {"192.168.1", "10.0.0.0/33", "10.0.0.0/", "plc.local"}) {
        EXPECT_FALSE(list.parse(bad, error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
}

using Client = test::LineClient;

class ScpiServerTest : public ::testing::Test, protected test::SimCore {
protected:
    void SetUp() override
    {
        startCore();
        core->links()->Initialise();
        run(3000);
    }
    void TearDown() override { core->Shutdown(); }
    ScpiConfig config(int offset)
    {
        ScpiConfig c;
        c.enabled = true;
        c.port = 24000 + static_cast<int>(getpid() % 2000) + offset;
        c.version = "9.9";
        return c;
    }
    std::function<void()> beat = [this] { run(100); };
};

TEST_F(ScpiServerTest, CommandsRunThroughTheDoorWhileFloodersAndStrangersAreTurnedAway)
{
    test::LogCapture log({"ScpiServer"});
    test::LogCapture modbusLog({"ModbusServer"});
    ScpiConfig c = config(0);
    c.acceptCommands = true;
    c.maxClients = 3;
    std::string error;
    ASSERT_TRUE(core->StartScpi(c, error)) << error;

    Client script(c.port);
    ASSERT_TRUE(script.connected);
    script.send("*IDN?\n");
    EXPECT_EQ(script.line(beat), "BrivaneSoftware,EC-Brivane,113,9.9");
    ASSERT_FALSE(core->device()->MeasuringActive());
    script.send("INIT;*OPC?\n");
    EXPECT_EQ(script.line(beat), "1");
    EXPECT_TRUE(core->device()->MeasuringActive()) << "*OPC? answered before the start ran";
    run(3000);
    script.send("MEAS:POW?;STAT:QUES:COND?\n");
    const std::string reading = script.line(beat);
    const double shown = std::stod(reading.substr(0, reading.find(';')));
    EXPECT_NEAR(shown, core->device()->Store().pGetLastMeasureValue()->power, 1e-6) << reading;
    EXPECT_EQ(reading.substr(reading.find(';') + 1), "0");

    // One sends a megabyte without a line end, one never reads what it asked for.
    Client garbage(c.port);
    Client deaf(c.port);
    ASSERT_TRUE(garbage.connected && deaf.connected);
    std::string burst;
    for (int i = 0; i < 20000; ++i)
        burst += "*IDN?\n";
    deaf.send(burst, false);
    const std::string junk = std::string(64 * 1024, '\x7f') + "\n";
    for (int i = 0; i < 16; ++i)
        garbage.send(junk);
    script.send("FETC:FLOW?\n");
    EXPECT_NE(script.line(beat), "timeout") << "one client's flood held the others up";
    // A fourth is one too many.
    Client extra(c.port);
    EXPECT_EQ(extra.line(beat, 2s), "closed");
    EXPECT_TRUE(log.has("SCPI: a client refused, 3 connected", "WARN"));

    script.send("ABOR;*OPC?\n");
    EXPECT_EQ(script.line(beat), "1");
    // The reading under way is finished first.
    for (int i = 0; i < 30 && core->device()->MeasuringActive(); ++i)
        run(100);
    EXPECT_FALSE(core->device()->MeasuringActive());
    garbage.send("\nSYST:ERR?\n");
    EXPECT_EQ(garbage.line(beat), "-100,\"Command error;line longer than 256 bytes\"");
    EXPECT_EQ(log.count("SCPI client 127.0.0.1: -100"), 1u) << "sixteen bad lines, one log line";

    // Nobody outside the allowed network gets as far as a request.
    ScpiConfig strangers = config(1);
    strangers.allowFrom = "10.0.0.0/8";
    ASSERT_TRUE(core->StartScpi(strangers, error)) << error;
    Client outsider(strangers.port);
    outsider.send("*IDN?\n");
    EXPECT_EQ(outsider.line(beat, 2s), "closed");
    EXPECT_TRUE(log.has("SCPI: connection from 127.0.0.1 refused (not in AllowFrom)", "WARN"));
    ModbusConfig plc;
    plc.enabled = true;
    plc.port = strangers.port + 1;
    plc.allowFrom = strangers.allowFrom;
    ASSERT_TRUE(core->StartModbus(plc, error)) << error;
    Client outsidePlc(plc.port);
    EXPECT_EQ(outsidePlc.line(beat, 2s), "closed");
    EXPECT_EQ(modbusLog.count("Modbus: connection from 127.0.0.1 refused (not in AllowFrom)", "WARN"), 1u);
    strangers.allowFrom = "10.0.0.0/40";
    EXPECT_FALSE(core->StartScpi(strangers, error));
    EXPECT_NE(error.find("AllowFrom"), std::string::npos) << error;
}

// Whoever starts it, a calibration's verdict is what the PLC reads: failed
// with the laser still on the absorber, passed once the limit allows it.
TEST_F(ScpiServerTest, EachCalibrationsVerdictReachesThePlcsInputs)
{
    ModbusConfig plc;
    plc.enabled = true;
    plc.port = config(2).port;
    std::string error;
    ASSERT_TRUE(core->StartModbus(plc, error)) << error;
    test::PlcClient client(plc.port);
    ASSERT_TRUE(client.connected()) << client.error();
    settings.m_iThermalizationTime = 8;
    for (const double limit : {1.5, 1000.0}) {
        SCOPED_TRACE(limit);
        settings.m_dDeviationLimit = limit;
        ASSERT_TRUE(core->commands()->run({MeterCommand::Calibrate}).done());
        run(3000);
        EXPECT_EQ(client.input(modbus::kCalibrationRunning), 1);
        for (int i = 0; i < 600 && core->device()->CalibrationRunning(); ++i)
            run(100);
        ASSERT_FALSE(core->device()->CalibrationRunning());
        run(200);
        ASSERT_TRUE(core->calibrations()->last().has_value());
        EXPECT_EQ(core->calibrations()->last()->limitPercent, limit);
        EXPECT_EQ(client.input(modbus::kCalibrationRunning), 0);
        EXPECT_EQ(client.input(modbus::kCalibrationFailed), limit < 10 ? 1 : 0);
    }
}

} // namespace
} // namespace bv
