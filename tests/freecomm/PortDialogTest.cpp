#include <gtest/gtest.h>

#include "support/QtApp.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QRadioButton>

#include "settings/ProgramSettings.h"
#include "link/CSerial.h"
#include "platform/Clock.h"
#include "sim/SimBus.h"
#include "sim/SimSerial.h"
#include "support/ScriptedPrompt.h"
#include "ui/PortDialog.h"

namespace bv {
namespace {

class PortDialogTest : public ::testing::Test {
protected:
    PortDialogTest() { test::qtApp(); }

    // Enabled state of Com 1 .. Com 4 as "1010".
    static std::string enabled(const PortDialog& d)
    {
        std::string out;
        for (int i = 0; i < PortDialog::kPorts; ++i)
            out += d.portButton(i)->isEnabled() ? '1' : '0';
        return out;
    }

    ManualClock clock{1000};
    sim::SimBus bus{clock};
    sim::SimSerialSystem ports{clock};
    test::ScriptedPrompt prompt;
    ProgramSettings settings;
    CSerial serial{ports, clock, prompt, settings};
};

TEST_F(PortDialogTest, CapitalNameMatchesNoButtonAndOkOpensCom1)
{
    ports.addPort("com1", &bus);
    ports.addPort("COM2", &bus);
    ASSERT_EQ(serial.bInitSerial("COM2"), 1);
    PortDialog d(serial, ports);
    EXPECT_EQ(d.windowTitle(), "Select port");
    d.Initialise();
    // Closed first, so the link's own port opens during the probe.
    EXPECT_FALSE(serial.isOpen());
    EXPECT_EQ(enabled(d), "1100");
    EXPECT_EQ(d.checkedIndex(), 0);
    d.onOk();
    EXPECT_TRUE(serial.isOpen());
    EXPECT_EQ(serial.portName(), "com1");
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(PortDialogTest, TheLinksOwnPortIsPreferred)
{
    ports.addPort("COM1", &bus);
    ports.addPort("COM3", nullptr);
    ASSERT_EQ(serial.bInitSerial("com3"), 1);
    PortDialog d(serial, ports);
    d.Initialise();
    EXPECT_EQ(enabled(d), "1010");
    EXPECT_EQ(d.checkedIndex(), 2);
    EXPECT_TRUE(d.portButton(2)->isChecked());
    EXPECT_FALSE(d.portButton(0)->isChecked());
}

TEST_F(PortDialogTest, PortInUseIsDisabledAndTheLowestOpenOneIsChecked)
{
    ports.addPort("COM2", &bus);
    ports.addPort("COM3", nullptr);
    ports.addPort("COM4", nullptr);
    // Another program holds COM2.
    OsError error;
    auto held = ports.open("COM2", &error);
    ASSERT_TRUE(held);
    PortDialog d(serial, ports);
    d.Initialise();
    EXPECT_EQ(enabled(d), "0011");
    EXPECT_EQ(d.checkedIndex(), 2);
    d.onOk();
    EXPECT_EQ(serial.portName(), "com3");
}

TEST_F(PortDialogTest, NoPortNoButtonAndOkOpensNothing)
{
    ASSERT_EQ(serial.bInitSerial("COM1"), 0);
    prompt.shown.clear();
    PortDialog d(serial, ports);
    d.portButton(1)->setChecked(true);
    d.Initialise();
    EXPECT_EQ(enabled(d), "0000");
    EXPECT_EQ(d.checkedIndex(), -1);
    d.onOk();
    EXPECT_FALSE(serial.isOpen());
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(PortDialogTest, ChoiceRule)
{
    const bool all[4] = {true, true, true, true};
    const bool noCom1[4] = {false, true, true, true};
    const bool none[4] = {false, false, false, false};
    EXPECT_EQ(PortDialog::chooseButton("com4", all), 3);
    EXPECT_EQ(PortDialog::chooseButton("COM4", all), 0);
    EXPECT_EQ(PortDialog::chooseButton("/dev/ttyUSB0", all), 0);
    EXPECT_EQ(PortDialog::chooseButton("com3", noCom1), 2);
    EXPECT_EQ(PortDialog::chooseButton("com1", noCom1), 1);
    EXPECT_EQ(PortDialog::chooseButton("com2", none), -1);
}

TEST_F(PortDialogTest, ButtonIdsAndCentring)
{
    QWidget owner;
    owner.setGeometry(100, 100, 800, 600);
    PortDialog d(serial, ports, &owner);
    for (int i = 0; i < PortDialog::kPorts; ++i) {
        EXPECT_EQ(d.portButton(i)->property("controlId").toInt(), 1002 + i);
        EXPECT_EQ(d.portButton(i)->text(), QString("Com %1").arg(i + 1));
    }
    auto* ok = d.findChild<QPushButton*>("okButton");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->property("controlId").toInt(), 1);
    d.Initialise();
    const QPoint centre = d.pos() + d.rect().center();
    EXPECT_LE((centre - owner.frameGeometry().center()).manhattanLength(), 2);
}

} // namespace
} // namespace bv
