#include "ui/CFreeComm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "app/LinkSelection.h"
#include "devices/PowerMeter.h"
#include "platform/Logging.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger l("CFreeComm");
    return l;
}
constexpr const char* kTag = "CFreeComm";

void tag(QWidget* w, const char* name, int id)
{
    w->setObjectName(QLatin1String(name));
    w->setProperty("controlId", id);
}

// Ids of the three command lines: From, To, command combo, Send.
constexpr int kLineIds[CFreeComm::kLines][4] = {
    {1015, 1014, 1002, 1006},
    {1017, 1016, 1003, 1001},
    {1019, 1018, 1004, 1005},
};

// Command texts are bus bytes: one character per byte.
std::string toBytes(const QString& text)
{
    return text.toLatin1().toStdString();
}

} // namespace

struct CFreeComm::Ui {
    QRadioButton* usb = nullptr;
    QRadioButton* serial = nullptr;
    QRadioButton* usbToSerial = nullptr;
    QButtonGroup* choice = nullptr;
    QCheckBox* parity = nullptr;
    QPushButton* scan = nullptr;
    QLineEdit* command = nullptr;
    QPushButton* sendUsb = nullptr;
    QLineEdit* from[kLines] = {};
    QLineEdit* to[kLines] = {};
    QComboBox* text[kLines] = {};
    QPushButton* send[kLines] = {};
    QLineEdit* hex = nullptr;
    QComboBox* port = nullptr;
    QPushButton* test = nullptr;
    QListWidget* monitor = nullptr;
};

CFreeComm::CFreeComm(LinkSelection& links, CPowerMeter& device, QWidget* parent)
    : QDialog(parent), m_ui(new Ui), m_links(links), m_device(device)
{
    setWindowTitle(tr("Free Communication"));
    setProperty("controlId", static_cast<int>(kIdd));
    setModal(false);
    Ui& u = *m_ui;

    // Link choice
    u.usb = new QRadioButton(tr("USB"));
    u.serial = new QRadioButton(tr("Serial"));
    u.usbToSerial = new QRadioButton(tr("USB2Serial"));
    tag(u.usb, "usbRadio", kIdUsb);
    tag(u.serial, "serialRadio", kIdSerial);
    tag(u.usbToSerial, "usbToSerialRadio", kIdUsbToSerial);
    u.choice = new QButtonGroup(this);
    u.choice->addButton(u.usb, LinkSelection::kChoiceUsb);
    u.choice->addButton(u.serial, LinkSelection::kChoiceSerial);
    u.choice->addButton(u.usbToSerial, LinkSelection::kChoiceUsbToSerial);
    u.parity = new QCheckBox(tr("Parity"));
    tag(u.parity, "parityCheck", kIdParity);
    u.scan = new QPushButton(tr("Scan"));
    tag(u.scan, "scanButton", kIdScan);
    u.port = new QComboBox;
    tag(u.port, "comPortCombo", kIdComPort);
    u.test = new QPushButton(tr("Test"));
    tag(u.test, "testButton", kIdTest);

    auto* linkRow = new QHBoxLayout;
    linkRow->addWidget(u.usb);
    linkRow->addWidget(u.serial);
    linkRow->addWidget(u.usbToSerial);
    linkRow->addWidget(u.parity);
    linkRow->addWidget(u.scan);
    linkRow->addStretch();
    linkRow->addWidget(new QLabel(tr("Com port:")));
    linkRow->addWidget(u.port);
    linkRow->addWidget(u.test);

    // USB command
    u.command = new QLineEdit;
    tag(u.command, "usbCommandEdit", kIdCommand);
    u.sendUsb = new QPushButton(tr("Send"));
    tag(u.sendUsb, "usbSendButton", kIdSendUsb);
    auto* usbRow = new QHBoxLayout;
    usbRow->addWidget(new QLabel(tr("Command:")));
    usbRow->addWidget(u.command, 1);
    usbRow->addWidget(u.sendUsb);

    // Command lines
    static const char* const kToDefaults[kLines] = {"161", "168", "113"};
    auto* lines = new QGridLayout;
    for (int i = 0; i < kLines; ++i) {
        const QByteArray n = QByteArray::number(i + 1);
        u.from[i] = new QLineEdit(QStringLiteral("64"));
        u.to[i] = new QLineEdit(QLatin1String(kToDefaults[i]));
        u.text[i] = new QComboBox;
        u.text[i]->setEditable(true);
        u.text[i]->setInsertPolicy(QComboBox::NoInsert);
        u.send[i] = new QPushButton(tr("Send"));
        tag(u.from[i], ("line" + n + "FromEdit").constData(), kLineIds[i][0]);
        tag(u.to[i], ("line" + n + "ToEdit").constData(), kLineIds[i][1]);
        tag(u.text[i], ("line" + n + "CommandCombo").constData(), kLineIds[i][2]);
        tag(u.send[i], ("line" + n + "SendButton").constData(), kLineIds[i][3]);
        u.from[i]->setMaximumWidth(50);
        u.to[i]->setMaximumWidth(50);
        lines->addWidget(new QLabel(tr("From:")), i, 0);
        lines->addWidget(u.from[i], i, 1);
        lines->addWidget(new QLabel(tr("To:")), i, 2);
        lines->addWidget(u.to[i], i, 3);
        lines->addWidget(u.text[i], i, 4);
        lines->addWidget(u.send[i], i, 5);
    }
    lines->setColumnStretch(4, 1);
    u.text[0]->addItems({QStringLiteral("sdelay 01000")});
    u.text[1]->addItems({QStringLiteral("RUN 1"), QStringLiteral("Init 1 1"), QStringLiteral("qsq")});
    u.text[2]->addItems({QStringLiteral("qr"), QStringLiteral("sdelay"), QStringLiteral("ql"),
                         QStringLiteral("RUN"), QString()});

    u.hex = new QLineEdit;
    tag(u.hex, "hexEdit", kIdHex);
    auto* hexRow = new QHBoxLayout;
    hexRow->addWidget(new QLabel(tr("Hex:")));
    hexRow->addWidget(u.hex, 1);

    u.monitor = new QListWidget;
    tag(u.monitor, "busMonitorList", kIdMonitor);
    u.monitor->setUniformItemSizes(true);
    u.monitor->setMinimumHeight(180);
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    u.monitor->setFont(fixed);
    auto* monitorBox = new QGroupBox(tr("Bus monitor"));
    auto* monitorLayout = new QVBoxLayout(monitorBox);
    monitorLayout->addWidget(u.monitor);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(linkRow);
    layout->addLayout(usbRow);
    layout->addLayout(lines);
    layout->addLayout(hexRow);
    layout->addWidget(monitorBox, 1);

    // Enter in a text field must not fire whichever button happens to be the default.
    for (QPushButton* b : findChildren<QPushButton*>())
        b->setAutoDefault(false);

    connect(u.usb, &QRadioButton::clicked, this, &CFreeComm::OnUsb);
    connect(u.serial, &QRadioButton::clicked, this, &CFreeComm::OnSerial);
    connect(u.usbToSerial, &QRadioButton::clicked, this, &CFreeComm::OnUsbToSerial);
    connect(u.parity, &QCheckBox::clicked, this, &CFreeComm::OnParity);
    connect(u.scan, &QPushButton::clicked, this, &CFreeComm::OnScan);
    connect(u.port, &QComboBox::activated, this, &CFreeComm::OnPortSelected);
    connect(u.test, &QPushButton::clicked, this, &CFreeComm::OnTest);
    connect(u.sendUsb, &QPushButton::clicked, this, &CFreeComm::OnSendUsb);
    for (int i = 0; i < kLines; ++i)
        connect(u.send[i], &QPushButton::clicked, this, [this, i] { OnSendLine(i); });
}

CFreeComm::~CFreeComm()
{
    delete m_ui;
}

QRadioButton* CFreeComm::usbRadio() const { return m_ui->usb; }
QRadioButton* CFreeComm::serialRadio() const { return m_ui->serial; }
QRadioButton* CFreeComm::usbToSerialRadio() const { return m_ui->usbToSerial; }
QCheckBox* CFreeComm::parityCheck() const { return m_ui->parity; }
QPushButton* CFreeComm::scanButton() const { return m_ui->scan; }
QLineEdit* CFreeComm::commandEdit() const { return m_ui->command; }
QPushButton* CFreeComm::sendUsbButton() const { return m_ui->sendUsb; }
QLineEdit* CFreeComm::fromEdit(int line) const { return m_ui->from[line]; }
QLineEdit* CFreeComm::toEdit(int line) const { return m_ui->to[line]; }
QComboBox* CFreeComm::commandCombo(int line) const { return m_ui->text[line]; }
QPushButton* CFreeComm::sendLineButton(int line) const { return m_ui->send[line]; }
QLineEdit* CFreeComm::hexEdit() const { return m_ui->hex; }
QComboBox* CFreeComm::portCombo() const { return m_ui->port; }
QPushButton* CFreeComm::testButton() const { return m_ui->test; }
QListWidget* CFreeComm::monitor() const { return m_ui->monitor; }

void CFreeComm::Initialise()
{
    BV_LOG_DEBUG(logger(), kTag, "OnInitDialog");
    Ui& u = *m_ui;
    u.text[0]->setCurrentIndex(u.text[0]->findText(QStringLiteral("sdelay 01000")));
    u.text[1]->setCurrentIndex(u.text[1]->findText(QStringLiteral("Init 1 1")));
    u.text[2]->setCurrentIndex(u.text[2]->findText(QStringLiteral("ql")));
    static const char* const kToDefaults[kLines] = {"161", "168", "113"};
    for (int i = 0; i < kLines; ++i) {
        u.from[i]->setText(QStringLiteral("64"));
        u.to[i]->setText(QLatin1String(kToDefaults[i]));
    }
    u.hex->clear();
    m_bShowAll = true;
    m_links.Initialise();
    ShowMembers();
}

void CFreeComm::ShowMembers()
{
    Ui& u = *m_ui;
    const int choice = m_links.choice();
    // With no choice every button must be clear, which an exclusive group refuses.
    u.choice->setExclusive(false);
    for (QAbstractButton* b : u.choice->buttons())
        b->setChecked(u.choice->id(b) == choice);
    u.choice->setExclusive(true);

    u.parity->setChecked(m_links.parityChecked());
    u.parity->setEnabled(m_links.parityEnabled());

    const QSignalBlocker block(u.port);
    u.port->clear();
    for (const std::string& name : m_links.ports())
        u.port->addItem(QString::fromStdString(name));
    u.port->setCurrentIndex(m_links.selectedPort());
}

void CFreeComm::OnUsb()
{
    BV_LOG_DEBUG(logger(), kTag, "OnUsb");
    m_links.OnChooseUsb();
    ShowMembers();
}

void CFreeComm::OnSerial()
{
    BV_LOG_DEBUG(logger(), kTag, "OnSerial");
    m_links.OnChooseSerial(false);
    // Shown on failure too: a radio left on "Serial" would claim a link that is not there.
    ShowMembers();
}

void CFreeComm::OnUsbToSerial()
{
    BV_LOG_DEBUG(logger(), kTag, "OnUsbToSerial");
    m_links.OnChooseSerial(true);
    ShowMembers();
}

void CFreeComm::OnParity()
{
    m_links.OnParity(m_ui->parity->isChecked());
}

void CFreeComm::OnScan()
{
    BV_LOG_DEBUG(logger(), kTag, "OnScan");
    m_links.OnScan();
    ShowMembers();
}

void CFreeComm::OnPortSelected()
{
    BV_LOG_DEBUG(logger(), kTag, "OnSelchangeComPort");
    m_links.OnPortSelected(m_ui->port->currentIndex());
}

void CFreeComm::OnTest()
{
    m_links.OnTest();
}

void CFreeComm::OnSendUsb()
{
    m_links.SendUsbCommand(toBytes(m_ui->command->text()));
}

void CFreeComm::OnSendLine(int line)
{
    if (line < 0 || line >= kLines)
        return;
    const Ui& u = *m_ui;
    // The "Hex:" field is read by nothing: what it should add to a frame is not settled.
    const std::string text = toBytes(u.text[line]->currentText().left(299));
    m_links.SendLine(toBytes(u.from[line]->text()), toBytes(u.to[line]->text()), text);
}

std::string CFreeComm::monitorLine(const FRAME& record)
{
    std::string payload;
    const size_t n = std::min<size_t>(record.payloadSize(), kMonitorLineBytes);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = record.payload[i];
        if (c == 0)
            break;
        // Control bytes would break the list line; show them as dots.
        payload.push_back(c < 0x20 || c == 0x7F ? '.' : static_cast<char>(c));
    }
    switch (record.kind) {
    case kTextToAdapter: return "-> " + payload;
    case kTextFromAdapter: return "<- " + payload;
    default: {
        char head[32];
        std::snprintf(head, sizeof head, "%3d->%3d: ", record.source, record.destination);
        return head + payload;
    }
    }
}

void CFreeComm::onFrame(const FRAME& record)
{
    appendMonitorLine(QString::fromLatin1(monitorLine(record)));
}

void CFreeComm::appendMonitorLine(const QString& line)
{
    QListWidget* list = m_ui->monitor;
    list->setUpdatesEnabled(false);
    const int before = list->count();
    list->addItem(line);
    if (before > kMonitorLines)
        delete list->takeItem(0);
    // Counted as before the append (or after the deletion): the same number either way.
    const int top = std::max(0, before - 10);
    if (top < list->count())
        list->scrollToItem(list->item(top), QAbstractItemView::PositionAtTop);
    list->setUpdatesEnabled(true);
    list->viewport()->update();
}

} // namespace bv
