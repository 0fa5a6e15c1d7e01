#include <gtest/gtest.h>

#include "support/QtApp.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <cstring>

#include "app/BrivaneCore.h"
#include "settings/ProgramSettings.h"
#include "devices/PowerMeter.h"
#include "platform/Clock.h"
#include "sim/SimWorld.h"
#include "support/ScriptedPrompt.h"
#include "support/SimCore.h"
#include "support/TempDir.h"
#include "res/StringTable.h"
#include "ui/CFreeComm.h"

namespace bv {
namespace {

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

class FreeCommTest : public ::testing::Test, protected test::SimCore {
protected:
    FreeCommTest() { test::qtApp(); }

    void start(sim::SimWorldConfig config = {})
    {
        startCore(config);
        core->links()->enableStart = [this](bool on) { startEnabled = on; };
        dialog = std::make_unique<CFreeComm>(*core->links(), *core->device());
    }

    ~FreeCommTest() override
    {
        dialog.reset();
        if (core)
            core->Shutdown();
    }

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

TEST_F(FreeCommTest, FallsBackToSerialWithoutUsb)
{
    sim::SimWorldConfig config;
    config.usbAdapter = false;
    start(config);
    settings.m_bSetParity = 1;
    dialog->Initialise();
    run(3000);
    EXPECT_EQ(settings.m_iDataTransferMode, 0);
    EXPECT_TRUE(dialog->serialRadio()->isChecked());
    EXPECT_FALSE(dialog->usbRadio()->isChecked());
    EXPECT_TRUE(dialog->parityCheck()->isChecked());
    EXPECT_EQ(dialog->portCombo()->currentText(), "COM1");
    EXPECT_EQ(startEnabled, 1);
    EXPECT_EQ(core->device()->Store().GetCount(), 1);
}

TEST_F(FreeCommTest, WithNeitherLinkTheModeStaysAsItWas)
{
    sim::SimWorldConfig config;
    config.usbAdapter = false;
    config.serialPort = false;
    start(config);
    const int before = settings.m_iDataTransferMode;
    dialog->Initialise();
    run(1000);
    EXPECT_EQ(settings.m_iDataTransferMode, before);
    EXPECT_FALSE(dialog->usbRadio()->isChecked());
    EXPECT_FALSE(dialog->serialRadio()->isChecked());
    EXPECT_FALSE(dialog->usbToSerialRadio()->isChecked());
    EXPECT_EQ(dialog->portCombo()->count(), 0);
    EXPECT_FALSE(core->serial().isOpen());
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(FreeCommTest, ThePortSettingIsTriedAsGivenAndKept)
{
    sim::SimWorldConfig config;
    config.usbAdapter = false;
    start(config);
    // A second listed port with nothing behind it: the scan must pass it by.
    world->ports().addPort("COM2", nullptr);
    settings.m_iDataTransferMode = 0;
    settings.m_sPort = "com1";
    dialog->Initialise();
    EXPECT_EQ(settings.m_iDataTransferMode, 0);
    ASSERT_TRUE(core->serial().isOpen());
    EXPECT_EQ(core->serial().portName(), "com1");
    EXPECT_EQ(dialog->portCombo()->count(), 2);
    EXPECT_EQ(dialog->portCombo()->currentText(), "COM1");  // the same port
    core->Shutdown();
    EXPECT_EQ(settings.m_sPort, "com1");
}

TEST_F(FreeCommTest, LineSendInUsbModeWithoutBusConverterGoesToTheSerialLink)
{
    start();
    dialog->Initialise();
    run(3000);
    ASSERT_EQ(settings.m_iDataTransferMode, 2);
    ASSERT_NE(core->device()->UsbLink(), nullptr);
    ASSERT_FALSE(core->device()->UsbLink()->busConverterPresent());
    ASSERT_FALSE(core->serial().isOpen());
    prompt.shown.clear();
    dialog->sendLineButton(2)->click();
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].text, "No Port opened!\nPlease select 'Com-Port' first");
}

TEST_F(FreeCommTest, LineSendRelaysThroughABusConverter)
{
    sim::SimWorldConfig config;
    config.usbKind = sim::SimUsbKind::BusConverter;
    start(config);
    dialog->Initialise();
    run(3000);
    ASSERT_EQ(settings.m_iDataTransferMode, 2);
    ASSERT_TRUE(core->device()->UsbLink()->busConverterPresent());
    prompt.shown.clear();
    dialog->commandCombo(2)->setCurrentText("qr");
    dialog->sendLineButton(2)->click();
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(FreeCommTest, SerialLineSendTakesAddressesAndCutsTheText)
{
    sim::SimWorldConfig config;
    config.usbAdapter = false;
    start(config);
    dialog->Initialise();
    run(3000);
    ASSERT_TRUE(core->serial().isOpen());
    core->heartbeatBody()->addObserver(dialog.get());
    dialog->monitor()->clear();
    dialog->fromEdit(0)->setText("300");  // one byte: 44
    dialog->toEdit(0)->setText("0");
    dialog->commandCombo(0)->setCurrentText(QString(400, 'z'));
    dialog->hexEdit()->setText("1,2,3");
    prompt.shown.clear();
    dialog->sendLineButton(0)->click();
    run(300);
    EXPECT_TRUE(prompt.shown.empty());
    // The adapter echoes the frame back onto the bus, so the monitor sees it.
    ASSERT_GE(dialog->monitor()->count(), 1);
    const QString expected = " 44->  0: " + QString(110, 'z');
    bool seen = false;
    for (int i = 0; i < dialog->monitor()->count(); ++i)
        seen = seen || dialog->monitor()->item(i)->text() == expected;
    EXPECT_TRUE(seen);
}

TEST_F(FreeCommTest, RadioHandlersSwitchTheLinkAndTheSettings)
{
    start();
    dialog->Initialise();
    run(3000);
    ASSERT_EQ(settings.m_iDataTransferMode, 2);

    dialog->serialRadio()->click();
    EXPECT_EQ(settings.m_iDataTransferMode, 0);
    EXPECT_EQ(settings.m_bSetParity, 1);
    EXPECT_EQ(settings.m_bUsbToSerialBridge, 0);
    EXPECT_TRUE(dialog->serialRadio()->isChecked());
    EXPECT_TRUE(dialog->parityCheck()->isEnabled());
    EXPECT_TRUE(dialog->parityCheck()->isChecked());
    EXPECT_TRUE(core->serial().isOpen());

    dialog->usbToSerialRadio()->click();
    EXPECT_EQ(settings.m_iDataTransferMode, 0);
    EXPECT_EQ(settings.m_bSetParity, 0);
    EXPECT_EQ(settings.m_bUsbToSerialBridge, 1);
    EXPECT_TRUE(dialog->usbToSerialRadio()->isChecked());
    EXPECT_FALSE(dialog->parityCheck()->isChecked());

    dialog->parityCheck()->click();
    EXPECT_EQ(settings.m_bSetParity, 1);

    dialog->usbRadio()->click();
    EXPECT_EQ(settings.m_iDataTransferMode, 2);
    EXPECT_TRUE(dialog->usbRadio()->isChecked());
    EXPECT_FALSE(dialog->parityCheck()->isChecked());
    EXPECT_FALSE(dialog->parityCheck()->isEnabled());
    EXPECT_FALSE(core->serial().isOpen());
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(FreeCommTest, FailedSerialChoiceShowsNoChoice)
{
    sim::SimWorldConfig config;
    config.serialPort = false;
    start(config);
    dialog->Initialise();
    run(3000);
    ASSERT_TRUE(dialog->usbRadio()->isChecked());
    dialog->serialRadio()->click();
    EXPECT_EQ(settings.m_iDataTransferMode, -1);
    EXPECT_FALSE(dialog->serialRadio()->isChecked());
    EXPECT_FALSE(dialog->usbRadio()->isChecked());
}

TEST_F(FreeCommTest, PortSelectionAndTest)
{
    sim::SimWorldConfig config;
    config.usbAdapter = false;
    start(config);
    world->ports().addPort("COM2", nullptr);
    dialog->Initialise();
    ASSERT_EQ(dialog->portCombo()->currentText(), "COM1");
    startEnabled = -1;
    // COM2 opens but nobody echoes: the start button goes off and the link closes.
    dialog->portCombo()->setCurrentIndex(1);
    emit dialog->portCombo()->activated(1);
    EXPECT_EQ(startEnabled, 0);
    EXPECT_FALSE(core->serial().isOpen());
    EXPECT_TRUE(prompt.shown.empty());
    dialog->portCombo()->setCurrentIndex(0);
    emit dialog->portCombo()->activated(0);
    EXPECT_EQ(startEnabled, 1);
    EXPECT_TRUE(core->serial().isOpen());

    // "Test" shows the link's boxes: with no port open that is the port message.
    core->serial().Close();
    dialog->testButton()->click();
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].text, strings::commErrorText(7));
}

TEST_F(FreeCommTest, UsbCommandReachesTheMonitorAndScanListsNewPorts)
{
    start();
    core->links()->usbSinks.push_back(dialog.get());
    dialog->Initialise();
    run(3000);
    ASSERT_EQ(settings.m_iDataTransferMode, 2);
    dialog->monitor()->clear();
    dialog->commandEdit()->setText("info");
    dialog->sendUsbButton()->click();
    ASSERT_GE(dialog->monitor()->count(), 1);
    EXPECT_EQ(dialog->monitor()->item(0)->text(), "-> info");

    world->ports().addPort("COM7", nullptr);
    dialog->scanButton()->click();
    run(3000);
    EXPECT_EQ(dialog->portCombo()->count(), 2);
    EXPECT_TRUE(dialog->usbRadio()->isChecked());
    EXPECT_EQ(settings.m_iDataTransferMode, 2);
    EXPECT_TRUE(prompt.shown.empty());
}

class MonitorListTest : public ::testing::Test {
protected:
    MonitorListTest() { test::qtApp(); }
    ManualClock clock{1000};
    test::ScriptedPrompt prompt;
    ProgramSettings settings;
    sim::SimWorld world{clock, {}};
    BrivaneCore core{settings, CorePlatform{clock, prompt, world.serialPorts(), world.usb(), nullptr}};
    test::TempDir dir;

    void add(CFreeComm& d, int n)
    {
        const std::string text = "line " + std::to_string(n);
        d.onFrame(record(kTextFromAdapter, 0, 0, text));
    }
};

TEST_F(MonitorListTest, KeepsAtMost81LinesAndDropsTheOldest)
{
    core.Startup(dir.path());
    CFreeComm d(*core.links(), *core.device());
    for (int i = 1; i <= 81; ++i)
        add(d, i);
    EXPECT_EQ(d.monitor()->count(), 81);
    EXPECT_EQ(d.monitor()->item(0)->text(), "<- line 1");
    add(d, 82);
    EXPECT_EQ(d.monitor()->count(), 81);
    EXPECT_EQ(d.monitor()->item(0)->text(), "<- line 2");
    EXPECT_EQ(d.monitor()->item(80)->text(), "<- line 82");
    for (int i = 83; i <= 300; ++i)
        add(d, i);
    EXPECT_EQ(d.monitor()->count(), 81);
    EXPECT_EQ(d.monitor()->item(0)->text(), "<- line 220");
    EXPECT_TRUE(d.monitor()->updatesEnabled());
    core.Shutdown();
}

TEST_F(MonitorListTest, ScrollsSoThatTheTopLineIsTenAboveTheEnd)
{
    core.Startup(dir.path());
    CFreeComm d(*core.links(), *core.device());
    QListWidget* list = d.monitor();
    // Fewer than ten rows visible, so that the view can scroll where it is told.
    list->setMinimumHeight(0);
    list->setFixedHeight(list->fontMetrics().height() * 5);
    d.show();
    const auto topRow = [list] { return list->indexAt(QPoint(2, 2)).row(); };
    for (int i = 1; i <= 5; ++i)
        add(d, i);
    EXPECT_EQ(topRow(), 0);
    for (int i = 6; i <= 40; ++i)
        add(d, i);
    // 39 lines before the 40th was appended.
    EXPECT_EQ(topRow(), 29);
    for (int i = 41; i <= 120; ++i)
        add(d, i);
    // 81 lines before, and again after the deletion.
    EXPECT_EQ(topRow(), 71);
    core.Shutdown();
}

} // namespace
} // namespace bv
