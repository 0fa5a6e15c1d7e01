#include <gtest/gtest.h>

#include "support/QtApp.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "settings/ProgramSettings.h"
#include "control/Device.h"
#include "platform/Clock.h"
#include "support/ScriptedPrompt.h"
#include "ui/SettingsDialogs.h"

namespace bv {
namespace {

class DialogTest : public ::testing::Test {
protected:
    DialogTest() { test::qtApp(); }
    ManualClock clock;
    CScheduler scheduler{clock};
    test::ScriptedPrompt prompt;
    CDevice device{scheduler, prompt};
    ProgramSettings settings;
};

TEST_F(DialogTest, DeviceAddressAndDeviation)
{
    device.m_byDevice = 113;
    settings.m_dDeviationLimit = 1.5;
    DeviceSettingsDialog dlg(device, settings);
    EXPECT_EQ(dlg.addressEdit()->text(), "113");
    EXPECT_EQ(dlg.deviationEdit()->text(), "1.50 %");
    dlg.onOk();  // unchanged
    EXPECT_DOUBLE_EQ(settings.m_dDeviationLimit, 1.5);
    EXPECT_EQ(device.m_byDevice, 113);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);

    DeviceSettingsDialog second(device, settings);
    second.addressEdit()->setText("300");
    second.deviationEdit()->setText("about two");
    second.onOk();
    EXPECT_EQ(device.m_byDevice, 44);
    EXPECT_EQ(settings.m_sDeviceAddress, "300");
    EXPECT_EQ(settings.m_dDeviationLimit, 0);
}

TEST_F(DialogTest, AddressZeroShowsNoDigit)
{
    device.m_byDevice = 0;
    DeviceSettingsDialog dlg(device, settings);
    EXPECT_TRUE(dlg.addressEdit()->text().trimmed().isEmpty());
}

TEST_F(DialogTest, ProtocolChecksNamesAndKeepsTheDialogOpen)
{
    ProtocolDialog dlg(&device, prompt);
    EXPECT_FALSE(dlg.fileName()->isEnabled());
    EXPECT_FALSE(dlg.sourceName()->isEnabled());
    dlg.fileWrite()->setChecked(true);
    dlg.databaseWrite()->setChecked(true);
    EXPECT_TRUE(dlg.fileName()->isEnabled());
    EXPECT_TRUE(dlg.browseButton()->isEnabled());
    EXPECT_TRUE(dlg.password()->isEnabled());
    EXPECT_FALSE(dlg.onOk());
    ASSERT_EQ(prompt.shown.size(), 2u);
    EXPECT_EQ(prompt.shown[0].text, "No filename entered!");
    EXPECT_EQ(device.m_bProtocolToFile, 0);

    dlg.fileName()->setText("/tmp/p.txt");
    dlg.sourceName()->setText("Proto");
    dlg.userName()->setText("op");
    dlg.password()->setText("pw");
    EXPECT_TRUE(dlg.onOk());
    EXPECT_EQ(device.m_bProtocolToFile, 1);
    EXPECT_EQ(device.m_sProtocolPath, "/tmp/p.txt");
    EXPECT_EQ(device.m_bProtocolToDatabase, 1);
    EXPECT_EQ(device.m_sDatabaseConnection, "DSN=Proto;UID=op;PWD=pw");
}

TEST_F(DialogTest, ClearedFlagsStoreWithoutChecking)
{
    device.m_bProtocolToFile = 1;
    device.m_sProtocolPath = "/keep/me.txt";
    ProtocolDialog dlg(&device, prompt);
    EXPECT_TRUE(dlg.fileWrite()->isChecked());
    dlg.fileWrite()->setChecked(false);
    dlg.fileName()->setText("");
    EXPECT_TRUE(dlg.onOk());
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_EQ(device.m_bProtocolToFile, 0);
    EXPECT_EQ(device.m_sProtocolPath, "");

    ProtocolDialog noDevice(nullptr, prompt);
    EXPECT_TRUE(noDevice.onOk());
}

} // namespace
} // namespace bv
