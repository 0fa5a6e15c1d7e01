#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/BrivaneCore.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "settings/ProgramSettings.h"
#include "sim/SimBus.h"
#include "sim/SimMeter.h"
#include "sim/SimSerialPty.h"
#include "sim/SimWorld.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"

namespace bv::test {
namespace {

using test::readFile;

TEST(SerialPortListing, TakesTheBoardUartsAndTheStableAdapterNames)
{
    TempDir dev;
    std::filesystem::create_directories(dev.file("serial/by-id"));
    for (const char* name : {"ttyS1", "ttyS10", "ttyS0", "ttyAMA0", "ttyUSB0", "ttyACM1", "ttyUSBx", "tty0",
                             "serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0"})
        std::ofstream(dev.file(name)) << "";
    const std::vector<std::string> expected = {"COM1", "COM2", "COM11", dev.file("ttyAMA0"), dev.file("ttyUSB0"),
                                               dev.file("ttyACM1"),
                                               dev.file("serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0")};
    EXPECT_EQ(serialPortCandidates(dev.path()), expected);
}

// The window's link selection on a real terminal: the simulated adapter and
// meter behind a pseudo-terminal, no USB device, real time.
class PortSelectionOverPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        bus.attach(meter);
        std::string error;
        ASSERT_TRUE(adapter.open(&error)) << error;
        server = std::thread([this] { adapter.run(stop); });
    }
    void TearDown() override
    {
        if (core)
            core->Shutdown();
        stop = true;
        if (server.joinable())
            server.join();
    }

    void start(const std::string& port)
    {
        std::ofstream(dir.file("BrivaneSoftware.ini")) << "[Version]\nno=15\n[Comm]\nPort=" << port << "\nData_Transfer_Mode=0\n";
        core = std::make_unique<BrivaneCore>(settings, CorePlatform{clock, prompt, ports, usb, nullptr});
        core->Startup(dir.path());
    }

    // Heartbeats every 100 ms until done, at most timeoutMs.
    template <class Done>
    bool runUntil(Done done, uint32_t timeoutMs)
    {
        const uint32_t begin = clock.now();
        while (!done()) {
            if (clock.now() - begin > timeoutMs)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            core->heartbeat();
        }
        return true;
    }

    SystemClock simClock;
    sim::SimBus bus{simClock, 3};
    sim::SimMeter meter;
    sim::SimPtyAdapter adapter{bus};
    std::atomic<bool> stop{false};
    std::thread server;

    TempDir dir;
    SystemClock clock;
    ScriptedPrompt prompt;
    PosixSerialSystem ports;
    sim::NoUsbDevices usb;
    ProgramSettings settings;
    std::unique_ptr<BrivaneCore> core;
};

TEST_F(PortSelectionOverPty, ThePortOfTheSettingsIsTriedAsGivenAndKept)
{
    // A stable name for the terminal, as udev makes them under /dev/serial/by-id.
    const std::string port = dir.file("usb-Brivane_RS485-if00-port0");
    ASSERT_EQ(symlink(adapter.slavePath().c_str(), port.c_str()), 0);
    EXPECT_TRUE(ports.samePort(port, adapter.slavePath()));  // the scan tries a device once
    start(port);
    core->links()->Initialise();
    ASSERT_TRUE(core->serial().isOpen());
    EXPECT_EQ(core->serial().portName(), port);
    EXPECT_EQ(core->links()->choice(), LinkSelection::kChoiceSerial);
    const auto& listed = core->links()->ports();
    ASSERT_GE(core->links()->selectedPort(), 0);
    EXPECT_EQ(listed[static_cast<size_t>(core->links()->selectedPort())], port);

    // Identification and the first reading come through the terminal.
    ASSERT_TRUE(runUntil([&] { return core->device()->Store().GetCount() > 0; }, 15000));
    EXPECT_EQ(core->device()->m_bAnswerSeen, 1);
    EXPECT_TRUE(prompt.shown.empty());
    core->Shutdown();
    EXPECT_NE(readFile(dir.file("BrivaneSoftware.ini")).find("Port=" + port + "\n"), std::string::npos);
}

} // namespace
} // namespace bv::test
