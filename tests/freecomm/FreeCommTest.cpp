#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <cstring>

#include "app/BrivaneCore.h"
#include "app/ProgramSettings.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "sim/SimWorld.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "ui/CFreeComm.h"

namespace bv {
namespace {

QApplication& app()
{
    static int argc = 1;
    static char name[] = "test_freecomm";
    static char* argv[] = {name, nullptr};
    static QApplication instance(argc, argv);
    return instance;
}

FRAME record(uint8_t kind, uint8_t source, uint8_t destination, const std::string& payload)
{
    FRAME f;
    fillRecord(f, destination, source, kind, reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
    return f;
}

TEST(MonitorLine, FormatsByKind)
{
    EXPECT_EQ(CFreeComm::monitorLine(record(kBusFrame, 0, 0, "PC Ready")), "  0->  0: PC Ready");
    EXPECT_EQ(CFreeComm::monitorLine(record(kBusFrame, 64, 161, "ql")), " 64->161: ql");
    EXPECT_EQ(CFreeComm::monitorLine(record(kTextToAdapter, 64, 161, "info")), "-> info");
    EXPECT_EQ(CFreeComm::monitorLine(record(kTextFromAdapter, 0, 0, "al PL=1")), "<- al PL=1");
}

TEST(MonitorLine, ZeroByteEndsAndLongPayloadIsCut)
{
    EXPECT_EQ(CFreeComm::monitorLine(record(kTextFromAdapter, 0, 0, std::string("ab\0cd", 5))), "<- ab");
    const std::string line = CFreeComm::monitorLine(record(kTextToAdapter, 0, 0, std::string(300, 'x')));
    EXPECT_EQ(line, "-> " + std::string(110, 'x'));
    // The length field may claim more than the record holds.
    FRAME big = record(kBusFrame, 1, 2, std::string(2000, 'y'));
    big.setLength(65535);
    EXPECT_EQ(CFreeComm::monitorLine(big), "  1->  2: " + std::string(110, 'y'));
}

TEST(MonitorLine, ControlBytesShowAsDots)
{
    EXPECT_EQ(CFreeComm::monitorLine(record(kBusFrame, 5, 6, "a\r\nb\x7f")), "  5->  6: a..b.");
}

class FreeCommTest : public ::testing::Test {
protected:
    FreeCommTest() { app(); }

    void start(sim::SimWorldConfig config = {})
    {
        world = std::make_unique<sim::SimWorld>(clock, config);
        core = std::make_unique<BrivaneCore>(
            settings, CorePlatform{clock, prompt, world->serialPorts(), world->usb(), nullptr});
        core->Startup(dir.path());
        core->links()->enableStart = [this](bool on) { startEnabled = on; };
        dialog = std::make_unique<CFreeComm>(*core->links(), *core->device());
    }

    void run(uint32_t ms)
    {
        for (uint32_t t = 0; t < ms; t += 100) {
            clock.advance(100);
            core->heartbeat();
        }
    }

    ~FreeCommTest() override
    {
        dialog.reset();
        if (core)
            core->Shutdown();
    }

    ManualClock clock{1000};
    test::TempDir dir;
    test::ScriptedPrompt prompt;
    ProgramSettings settings;
    std::unique_ptr<sim::SimWorld> world;
    std::unique_ptr<BrivaneCore> core;
    std::unique_ptr<CFreeComm> dialog;
    int startEnabled = -1;
};

TEST_F(FreeCommTest, InitialControls)
{
    start();
    CFreeComm& d = *dialog;
    EXPECT_EQ(d.windowTitle(), "Free Communication");
    EXPECT_FALSE(d.isModal());
    for (int i = 0; i < CFreeComm::kLines; ++i)
        EXPECT_EQ(d.fromEdit(i)->text(), "64");
    EXPECT_EQ(d.toEdit(0)->text(), "161");
    EXPECT_EQ(d.toEdit(1)->text(), "168");
    EXPECT_EQ(d.toEdit(2)->text(), "113");
    EXPECT_EQ(d.commandCombo(1)->count(), 3);
    EXPECT_EQ(d.commandCombo(2)->count(), 5);
    EXPECT_TRUE(d.commandCombo(2)->itemText(4).isEmpty());
    EXPECT_EQ(d.findChild<QWidget*>("comPortCombo")->property("controlId").toInt(), 1204);
    EXPECT_EQ(d.findChild<QWidget*>("line2SendButton")->property("controlId").toInt(), 1001);
    EXPECT_EQ(d.findChild<QWidget*>("busMonitorList")->property("controlId").toInt(), 1054);
}

TEST_F(FreeCommTest, InitialisationSelectsUsbAndShowsIt)
{
    start();
    EXPECT_EQ(settings.m_iDataTransferMode, 2);
    dialog->Initialise();
    run(3000);
    EXPECT_EQ(settings.m_iDataTransferMode, 2);
    EXPECT_TRUE(dialog->usbRadio()->isChecked());
    EXPECT_FALSE(dialog->serialRadio()->isChecked());
    EXPECT_EQ(dialog->commandCombo(0)->currentText(), "sdelay 01000");
    EXPECT_EQ(dialog->commandCombo(1)->currentText(), "Init 1 1");
    EXPECT_EQ(dialog->commandCombo(2)->currentText(), "ql");
    EXPECT_EQ(dialog->portCombo()->count(), 1);
    EXPECT_EQ(dialog->portCombo()->itemText(0), "COM1");
    EXPECT_TRUE(dialog->showAll());
    EXPECT_EQ(core->device()->Store().GetCount(), 1);
}

} // namespace
} // namespace bv
