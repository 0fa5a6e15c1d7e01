#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PtyPair.h"
#include "SerialBench.h"
#include "sim/SimSerialPty.h"

namespace bv::test {
namespace {

TEST(SerialDevicePath, ComNamesMapToTtyS)
{
    EXPECT_EQ(serialDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(serialDevicePath("com12"), "/dev/ttyS11");
    EXPECT_EQ(serialDevicePath("Com3"), "/dev/ttyS2");
    EXPECT_EQ(serialDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(serialDevicePath("COM0"), "COM0");
    EXPECT_EQ(serialDevicePath("COM"), "COM");
    EXPECT_EQ(serialDevicePath("COM1x"), "COM1x");
}

TEST(PosixSerialPort, OpenFailuresCarryTheSystemError)
{
    PosixSerialSystem system;
    OsError error;
    EXPECT_FALSE(system.open("/dev/no-such-port", &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(error.text.empty());

    EXPECT_FALSE(system.open("/dev/null", &error));
    EXPECT_EQ(error.code, ENOTTY);
}

// A port the user may not open says what to do. Root opens anything, so as
// root the open is made by a child that has become the user "nobody".
TEST(PosixSerialPort, APortWithoutPermissionNamesTheDialoutGroup)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(chmod(pty.slave().c_str(), 0), 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        PosixSerialSystem system;
        OsError error;
        const bool opened = system.open(pty.slave(), &error) != nullptr;
        const std::string report = std::to_string(error.code) + " " + error.text;
        (void)!write(pipeFds[1], report.data(), report.size());
        _exit(opened ? 2 : 0);
    }
    close(pipeFds[1]);
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, size_t(n));
    close(pipeFds[0]);
    int status = -1;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the port opened without permission";
    EXPECT_EQ(report, std::to_string(EACCES) + " permission denied: add the user to the dialout group");
}

TEST(PosixSerialPort, WorksOnAPseudoTerminal)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PosixSerialSystem system;
    OsError error;
    auto port = system.open(pty.slave(), &error);
    ASSERT_TRUE(port) << error.text;

    EXPECT_TRUE(port->setup(8196, 1024));
    EXPECT_TRUE(port->purgeOutput());
    EXPECT_TRUE(port->purgeInput());
    ASSERT_TRUE(port->configure(9600)) << port->lastError().text;
    EXPECT_EQ(port->parity(), Parity::Space);
    // No modem lines and no ninth bit on a pseudo-terminal: both are accepted.
    EXPECT_TRUE(port->setParity(Parity::Mark)) << port->lastError().text;
    EXPECT_EQ(port->parity(), Parity::Mark);
    EXPECT_TRUE(port->setParity(Parity::Space));
    EXPECT_TRUE(port->setRts(true)) << port->lastError().text;
    EXPECT_TRUE(port->setRts(false));

    EXPECT_EQ(port->bytesWaiting(), 0);
    uint8_t buffer[16];
    EXPECT_EQ(port->read(buffer, sizeof buffer), 0);  // nothing there: no blocking

    const uint8_t out[] = {0x00, 0xAA, 0x0A, 0x0D, 0x03};  // raw: nothing translated
    EXPECT_EQ(port->write(out, sizeof out), 5);
    EXPECT_EQ(pty.read(5), std::string("\x00\xAA\x0A\x0D\x03", 5));

    ASSERT_TRUE(pty.write(std::string("\x11\x13\x0D\x00", 4)));
    for (int i = 0; i < 100 && port->bytesWaiting() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(port->bytesWaiting(), 4);
    ASSERT_EQ(port->read(buffer, sizeof buffer), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), std::string("\x11\x13\x0D\x00", 4));

    EXPECT_TRUE(port->close());
    EXPECT_EQ(port->bytesWaiting(), -1);
    EXPECT_EQ(port->lastError().code, EBADF);
}

TEST(PosixSerialPort, APortInUseDoesNotOpenAgain)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PosixSerialSystem system;
    OsError error;
    auto first = system.open(pty.slave(), &error);
    ASSERT_TRUE(first);
    EXPECT_FALSE(system.open(pty.slave(), &error));
    EXPECT_EQ(error.code, EBUSY);
    first.reset();
    EXPECT_TRUE(system.open(pty.slave(), &error)) << error.text;
}

TEST(PosixSerialPort, APseudoTerminalConfiguresAgainAfterReopen)
{
    // The second run of a program against one simulator, and the unchanged
    // state HandleCommError applies again before it reports.
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PosixSerialSystem system;
    OsError error;
    for (int run = 0; run < 2; ++run) {
        auto port = system.open(pty.slave(), &error);
        ASSERT_TRUE(port) << error.text;
        EXPECT_TRUE(port->configure(9600)) << port->lastError().text;
        EXPECT_TRUE(port->setParity(Parity::Mark)) << port->lastError().text;
        EXPECT_TRUE(port->setParity(port->parity())) << port->lastError().text;
        EXPECT_TRUE(port->setParity(Parity::Space)) << port->lastError().text;
    }
}

// The whole path on a real terminal: termios on the program's side, the
// simulated adapter (echo) and a responder on the far side, real time.
class SerialOverPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        bus.attach(responder);
        std::string error;
        ASSERT_TRUE(adapter.open(&error)) << error;
        server = std::thread([this] { adapter.run(stop); });
    }
    void TearDown() override
    {
        stop = true;
        if (server.joinable())
            server.join();
    }

    // Ticks of the window (100 ms: the give-up rule counts attempts, not
    // time) until a frame from `source` comes, at most 3 s.
    std::vector<Received> waitForAnswer(CSerial& link, uint8_t source)
    {
        std::vector<Received> got;
        SystemClock clock;
        const uint32_t start = clock.now();
        while (clock.now() - start < 3000) {
            link.ReadAvailable();
            link.ExtractFrames();
            auto& list = link.receivedFrames();
            bool answered = false;
            while (!list.empty()) {
                got.push_back(copyOf(*list.front()));
                answered = answered || list.front()->source == source;
                list.pop_front();
            }
            if (answered)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return got;
    }

    SystemClock simClock;
    sim::SimBus bus{simClock, 3};
    Responder responder{113, 20};
    sim::SimPtyAdapter adapter{bus};
    std::atomic<bool> stop{false};
    std::thread server;
};

TEST_F(SerialOverPty, ProbeReadyAndReading)
{
    SystemClock clock;
    PosixSerialSystem ports;
    ScriptedPrompt prompt;
    ProgramSettings settings;
    settings.m_bSetParity = 1;
    CSerial link(ports, clock, prompt, settings);
    ASSERT_EQ(link.bInitSerial(adapter.slavePath()), 1);

    // The probe is proven by its echo alone.
    EXPECT_EQ(link.SendQuiet(0, 0, text("PC Ready"), 0, 0), 1);
    auto probe = waitForAnswer(link, 0);
    ASSERT_FALSE(probe.empty());
    EXPECT_EQ(probe[0].payload, "PC Ready");

    ASSERT_EQ(link.iOnSendFrame(64, 113, text("qr"), 0), 1);
    auto ready = waitForAnswer(link, 113);
    ASSERT_EQ(ready.size(), 2u);
    EXPECT_EQ(ready[0].source, 64);
    EXPECT_EQ(ready[0].payload, "qr");
    EXPECT_EQ(ready[1].destination, 64);
    EXPECT_EQ(ready[1].payload, "Ready");

    ASSERT_EQ(link.iOnSendFrame(64, 113, text("ql"), 0), 1);
    auto reading = waitForAnswer(link, 113);
    ASSERT_EQ(reading.size(), 2u);
    EXPECT_EQ(reading[0].payload, "ql");
    EXPECT_EQ(reading[1].payload.substr(0, 3), "al ");

    EXPECT_EQ(link.sendFailures(), 0);
    EXPECT_EQ(link.allErrors(), 0);
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_EQ(link.Close(), 1);

    stop = true;
    server.join();
    EXPECT_EQ(responder.heard, (std::vector<std::string>{"qr", "ql"}));
}

TEST_F(SerialOverPty, SilentFarEndIsNoEcho)
{
    // The adapter is there, but nothing comes back from the line.
    SystemClock clock;
    PosixSerialSystem ports;
    ScriptedPrompt prompt;
    ProgramSettings settings;
    CSerial link(ports, clock, prompt, settings);
    stop = true;
    server.join();
    ASSERT_EQ(link.bInitSerial(adapter.slavePath()), 1);
    const uint32_t start = clock.now();
    EXPECT_EQ(link.SendQuiet(0, 0, text("PC Ready"), 0, 0), 0);
    EXPECT_GE(clock.now() - start, 1000u);
    EXPECT_LT(clock.now() - start, 2000u);
    EXPECT_TRUE(prompt.shown.empty());

    // With messages on, the operator is told, and the link stays open.
    EXPECT_EQ(link.iOnSendFrame(0, 0, text("PC Ready"), 0), 0);
    EXPECT_EQ(prompt.texts(), std::vector<std::string>{"CSerial: No Echo"});
    EXPECT_TRUE(link.isOpen());
}

} // namespace
} // namespace bv::test
