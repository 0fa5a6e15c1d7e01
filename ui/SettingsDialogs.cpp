#include "ui/SettingsDialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <charconv>
#include <cstdio>

#include "app/BusAddress.h"
#include "settings/ProgramSettings.h"
#include "control/Device.h"
#include "platform/DataSource.h"
#include "platform/Prompt.h"
#include "res/StringTable.h"

namespace bv {
namespace {

// The number at the start of a text, in the C locale; 0 when there is none.
double leadingNumber(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i < text.size() && text[i] == '+')
        ++i;
    double v = 0;
    const auto [ptr, ec] = std::from_chars(text.data() + i, text.data() + text.size(), v);
    (void)ptr;
    return ec == std::errc() ? v : 0;
}

void tag(QWidget* w, const char* name, int id)
{
    w->setObjectName(name);
    w->setProperty("controlId", id);
}

} // namespace

DeviceSettingsDialog::DeviceSettingsDialog(CDevice& device, ProgramSettings& settings, QWidget* parent)
    : QDialog(parent), m_device(device), m_settings(settings), m_address(new QLineEdit), m_deviation(new QLineEdit)
{
    setWindowTitle(tr("Settings Brivane"));
    setProperty("controlId", static_cast<int>(kIdd));
    tag(m_address, "deviceAddressEdit", kIdAddress);
    tag(m_deviation, "deviationLimitEdit", kIdDeviation);
    auto* form = new QFormLayout;
    form->addRow(tr("Device adress:"), m_address);
    form->addRow(tr("Deviation Limit (EC):"), m_deviation);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &DeviceSettingsDialog::onOk);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    m_address->setText(QString::fromStdString(addressText(m_device.m_byDevice)));
    m_deviation->setText(QString::fromStdString(deviationText(m_settings.m_dDeviationLimit)));
}

std::string DeviceSettingsDialog::addressText(uint8_t address)
{
    char buf[20];
    std::snprintf(buf, sizeof buf, "%1.0d", static_cast<unsigned>(address));
    return buf;
}

std::string DeviceSettingsDialog::deviationText(double limit)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%2.2f %%", limit);
    return buf;
}

void DeviceSettingsDialog::onOk()
{
    const std::string address = m_address->text().toStdString();
    m_device.setAddress(addressByte(address));
    m_settings.m_sDeviceAddress = address;
    m_settings.m_dDeviationLimit = leadingNumber(m_deviation->text().toStdString());
    accept();
}

ProtocolDialog::ProtocolDialog(CDevice* device, IPrompt& prompt, QWidget* parent)
    : QDialog(parent),
      m_device(device),
      m_prompt(prompt),
      m_fileWrite(new QCheckBox(tr("Write"))),
      m_fileName(new QLineEdit),
      m_browse(new QPushButton(tr("Browse"))),
      m_dbWrite(new QCheckBox(tr("Write"))),
      m_source(new QLineEdit),
      m_user(new QLineEdit),
      m_password(new QLineEdit)
{
    setWindowTitle(tr("Protocol"));
    setProperty("controlId", static_cast<int>(kIdd));
    tag(m_fileWrite, "fileWriteCheck", kIdFileWrite);
    tag(m_fileName, "fileNameEdit", kIdFileName);
    tag(m_browse, "browseButton", kIdBrowse);
    tag(m_dbWrite, "databaseWriteCheck", kIdDbWrite);
    tag(m_source, "sourceNameEdit", kIdSource);
    tag(m_user, "userNameEdit", kIdUser);
    tag(m_password, "passwordEdit", kIdPassword);
    m_password->setEchoMode(QLineEdit::Password);

    auto* fileBox = new QGroupBox(tr("Log File"));
    auto* fileForm = new QFormLayout(fileBox);
    fileForm->addRow(m_fileWrite);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(m_fileName, 1);
    nameRow->addWidget(m_browse);
    fileForm->addRow(tr("Filename:"), nameRow);

    auto* dbBox = new QGroupBox(tr("Database"));
    auto* dbForm = new QFormLayout(dbBox);
    dbForm->addRow(m_dbWrite);
    dbForm->addRow(tr("Source Name:"), m_source);
    dbForm->addRow(tr("User Name:"), m_user);
    dbForm->addRow(tr("Password:"), m_password);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { onOk(); });
    connect(m_fileWrite, &QCheckBox::toggled, this, &ProtocolDialog::applyEnableRule);
    connect(m_dbWrite, &QCheckBox::toggled, this, &ProtocolDialog::applyEnableRule);
    connect(m_browse, &QPushButton::clicked, this, &ProtocolDialog::onBrowse);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fileBox);
    layout->addWidget(dbBox);
    layout->addWidget(buttons);
    setMinimumWidth(420);

    if (m_device) {
        m_fileWrite->setChecked(m_device->m_bProtocolToFile != 0);
        m_fileName->setText(QString::fromStdString(m_device->m_sProtocolPath));
        m_dbWrite->setChecked(m_device->m_bProtocolToDatabase != 0);
        m_source->setText(QString::fromStdString(m_device->m_sDataSourceName));
        m_user->setText(QString::fromStdString(m_device->m_sUserName));
        m_password->setText(QString::fromStdString(m_device->m_sPassword));
    }
    applyEnableRule();
}

void ProtocolDialog::applyEnableRule()
{
    const bool file = m_fileWrite->isChecked();
    const bool db = m_dbWrite->isChecked();
    m_fileName->setEnabled(file);
    m_browse->setEnabled(file);
    m_source->setEnabled(db);
    m_user->setEnabled(db);
    m_password->setEnabled(db);
}

void ProtocolDialog::onBrowse()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Protocol"), QStringLiteral("*.txt"));
    if (!path.isEmpty())
        m_fileName->setText(path);
}

bool ProtocolDialog::onOk()
{
    bool ok = true;
    if (m_dbWrite->isChecked() && m_source->text().isEmpty()) {
        m_prompt.show(strings::text(10003));
        ok = false;
    }
    if (m_fileWrite->isChecked() && m_fileName->text().isEmpty()) {
        m_prompt.show(strings::text(10003));
        ok = false;
    }
    if (!ok)
        return false;
    if (m_device)
        m_device->setProtocolOutput({m_fileWrite->isChecked(), m_fileName->text().toStdString(), m_dbWrite->isChecked(),
                                     m_source->text().toStdString(), m_user->text().toStdString(),
                                     m_password->text().toStdString()});
    accept();
    return true;
}

} // namespace bv
