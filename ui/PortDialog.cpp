#include "ui/PortDialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "link/CSerial.h"
#include "platform/SerialPort.h"

namespace bv {

PortDialog::PortDialog(CSerial& serial, ISerialSystem& ports, QWidget* parent)
    : QDialog(parent), m_serial(serial), m_ports(ports)
{
    setWindowTitle(tr("Select port"));
    setProperty("controlId", static_cast<int>(kIdd));
    setModal(true);

    auto* group = new QGroupBox(tr("Port"));
    auto* groupLayout = new QVBoxLayout(group);
    auto* exclusive = new QButtonGroup(this);
    const QString labels[kPorts] = {tr("Com 1"), tr("Com 2"), tr("Com 3"), tr("Com 4")};
    for (int i = 0; i < kPorts; ++i) {
        m_buttons[i] = new QRadioButton(labels[i]);
        m_buttons[i]->setObjectName(QStringLiteral("com%1Radio").arg(i + 1));
        m_buttons[i]->setProperty("controlId", kIdCom1 + i);
        exclusive->addButton(m_buttons[i], i);
        groupLayout->addWidget(m_buttons[i]);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(tr("OK"));
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setProperty("controlId", static_cast<int>(kIdOk));
    connect(buttons, &QDialogButtonBox::accepted, this, &PortDialog::onOk);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
}

std::string PortDialog::portName(int index)
{
    return "com" + std::to_string(index + 1);
}

int PortDialog::checkedIndex() const
{
    for (int i = 0; i < kPorts; ++i)
        if (m_buttons[i]->isChecked())
            return i;
    return -1;
}

int PortDialog::chooseButton(const std::string& current, const bool (&opened)[kPorts])
{
    // The link's own port wins, but only by its exact lower-case name.
    for (int i = 0; i < kPorts; ++i)
        if (opened[i] && current == portName(i))
            return i;
    for (int i = 0; i < kPorts; ++i)
        if (opened[i])
            return i;
    return -1;
}

void PortDialog::showEvent(QShowEvent* event)
{
    if (!m_initialised && !event->spontaneous())
        Initialise();
    QDialog::showEvent(event);
}

void PortDialog::Initialise()
{
    m_initialised = true;
    if (QWidget* owner = parentWidget()) {
        adjustSize();
        const QRect area = owner->frameGeometry();
        move(area.center() - rect().center());
    }
    const std::string current = m_serial.portName();
    m_serial.Close();

    bool opened[kPorts] = {};
    for (int i = kPorts - 1; i >= 0; --i) {
        OsError error;
        std::unique_ptr<ISerialPort> port = m_ports.open(portName(i), &error);
        opened[i] = port != nullptr;
        if (port)
            port->close();
        m_buttons[i]->setEnabled(opened[i]);
    }

    const int chosen = chooseButton(current, opened);
    // An exclusive group will not clear its last checked button by itself.
    auto* group = m_buttons[0]->group();
    group->setExclusive(false);
    for (int i = 0; i < kPorts; ++i)
        m_buttons[i]->setChecked(i == chosen);
    group->setExclusive(true);
}

void PortDialog::onOk()
{
    const int chosen = checkedIndex();
    if (chosen >= 0)
        m_serial.bInitSerial(portName(chosen));
    accept();
}

} // namespace bv
