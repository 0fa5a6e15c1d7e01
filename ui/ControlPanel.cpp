#include "ui/ControlPanel.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <cmath>
#include <optional>

#include "devices/PowerMeter.h"
#include "platform/Prompt.h"
#include "res/StringTable.h"
#include "ui/ControlIds.h"
#include "ui/LanguageModule.h"
#include "ui/ShutterPicture.h"
#include "ui/StatusLogic.h"
#include "ui/ValueLayout.h"

namespace bv {
namespace {

using panel::guarded;
using panel::kTag;
using panel::logger;
using panel::qs;

constexpr int kZeroEditMax = 40;
// The operator's decimal mark is a comma or a point whatever the language;
// group marks are refused, as "1.500" would mean 1500 W to one reader and
// 1.5 W to another. A trailing unit "W" is allowed.
std::optional<double> parseOffset(const QString& typed)
{
    static const QRegularExpression number(QStringLiteral("^\\s*([+-]?(?:\\d+(?:[.,]\\d*)?|[.,]\\d+))\\s*[wW]?\\s*$"));
    const QRegularExpressionMatch m = number.match(typed);
    if (!m.hasMatch())
        return std::nullopt;
    QString text = m.captured(1);
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString formatOffset(double watts)
{
    QString text = QString::number(zeroOffsetResolution(watts), 'f', 3);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text.replace(QLatin1Char('.'), LanguageModule::uiLocale().decimalPoint());
}

} // namespace

CControlPanel::CControlPanel(CPowerMeter& device, IPrompt& prompt, MeterCommands& commands,
                             IPanelHost& host, QObject* parent)
    : QObject(parent), m_device(device), m_prompt(prompt), m_commands(commands), m_host(host)
{
    using W = WindowIds;
    m_shutterPicture = new ShutterPicture;
    panel::tag(m_shutterPicture, W::kIdShutterPicture, "shutterPicture");
    m_shutterPicture->setPictureProvider([this] {
        // The last answer's shutter position is not known to hold any more.
        if (m_host.ReadingsStale() && m_device.m_iShutterState != kShutterNone)
            return static_cast<int>(ShutterPicture::kUnknown);
        return ShutterPicture::pictureFor(m_device.m_iShutterState, !m_device.Model().shutterChecked);
    });
    m_shutterButton = panel::makeButton(qs(strings::text(61295)), W::kIdShutterButton, "shutterButton");
    m_startStop = panel::makeButton(qs(strings::text(4003)), W::kIdStartStop, "startStopButton");
    m_startStop->setDefault(true);
    m_startStop->setMinimumHeight(34);
    QFont strong = m_startStop->font();
    strong.setBold(true);
    m_startStop->setFont(strong);
    m_calibration = panel::makeButton(qs(strings::text(61290)), W::kIdCalibration, "calibrationButton");
    m_calibration->setVisible(false);

    m_zeroLabel = panel::makeLabel(windowText("Zero level"), W::kIdZeroLabel, "zeroLabel");
    m_zeroEdit = new QLineEdit;
    panel::tag(m_zeroEdit, W::kIdZeroEdit, "zeroEdit");
    m_zeroEdit->setMaxLength(kZeroEditMax);
    m_zeroEdit->setAlignment(Qt::AlignRight);
    m_zeroEdit->setMaximumWidth(90);
    m_zeroApply = panel::makeButton(windowText("Ok"), W::kIdZeroApply, "zeroApplyButton");
    m_zeroTake = panel::makeButton(windowText("Use current value as offset"), W::kIdZeroTake, "zeroTakeButton");

    connect(m_startStop, &QPushButton::clicked, this, [this] { OnStartstop(); });
    connect(m_calibration, &QPushButton::clicked, this, [this] { OnCalibration(); });
    connect(m_zeroTake, &QPushButton::clicked, this, [this] { OnTakenull(); });
    connect(m_zeroApply, &QPushButton::clicked, this, [this] { OnZeroApply(); });
    // Enter in the field applies it; without this the window's default
    // button (start/stop) would take the key.
    m_zeroEdit->installEventFilter(this);
    connect(m_zeroEdit, &QLineEdit::textEdited, this, [this] { m_zeroEdit->setStyleSheet(QString()); });
}

bool CControlPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_zeroEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OnZeroApply();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void CControlPanel::initControls()
{
    showZero();
    m_startStop->setText(qs(strings::text(4003)));
    m_calibration->setText(qs(strings::text(61290)));
}

CommandOutcome CControlPanel::command(MeterCommand which, double value)
{
    const CommandOutcome outcome = m_commands.run({which, CommandSource::Operator, value}, "window");
    if (outcome.refusal == Refusal::NoMeter)
        m_prompt.show(strings::text(61343), PromptButtons::Ok, PromptIcon::Exclamation);
    else if (outcome.refused() && outcome.refusal != Refusal::Cancelled)
        m_host.ReportToOperator(outcome.text, status::kWarning);
    return outcome;
}

void CControlPanel::OnStartstop()
{
    guarded("OnStartstop", [&] {
        const uint8_t layout = m_bCalibrationLayout;
        m_bCalibrationLayout = 0;
        // Without a meter nothing changed, the layout neither.
        if (command(m_device.MeasuringActive() ? MeterCommand::Stop : MeterCommand::Start).refusal == Refusal::NoMeter) {
            m_bCalibrationLayout = layout;
            return;
        }
        m_host.UpdateValueArea();
    });
}

void CControlPanel::OnCalibration()
{
    guarded("OnCalibration", [&] {
        const uint8_t layout = m_bCalibrationLayout;
        m_bCalibrationLayout = 1;
        const bool stopping = m_device.CalibrationRunning();
        const CommandOutcome outcome = command(stopping ? MeterCommand::Stop : MeterCommand::Calibrate);
        if (outcome.refusal == Refusal::NoMeter) {
            m_bCalibrationLayout = layout;
            return;
        }
        if (!stopping && outcome.done())
            m_host.ShowAverageMode();
        m_host.UpdateValueArea();
    });
}

void CControlPanel::EnableStartButton(uint8_t enable)
{
    guarded("EnableStartButton", [&] { m_startStop->setEnabled(enable != 0); });
}

void CControlPanel::OnShutterButton(status::ShutterAction action)
{
    switch (action) {
    case status::ShutterAction::RefuseLaserOn:
        m_prompt.show(strings::text(29), PromptButtons::Ok, PromptIcon::None);
        m_host.MyUpdate(WindowIds::kPartShutter);
        break;
    case status::ShutterAction::Close:
    case status::ShutterAction::Open:
        if (command(action == status::ShutterAction::Open ? MeterCommand::OpenShutter : MeterCommand::CloseShutter).done())
            m_shutterButton->setEnabled(false);
        else
            m_host.MyUpdate(WindowIds::kPartShutter);
        break;
    case status::ShutterAction::None:
        break;
    }
}

void CControlPanel::OnTakenull()
{
    guarded("OnTakenull", [&] {
        command(MeterCommand::Zero);
        m_host.MyUpdate(WindowIds::kPartZero);
    });
}

void CControlPanel::OnZeroApply()
{
    guarded("OnZeroApply", [&] {
        const QString typed = m_zeroEdit->text().left(kZeroEditMax);
        const std::optional<double> offset = parseOffset(typed);
        if (offset) {
            command(MeterCommand::SetZero, *offset);
            m_zeroEdit->setStyleSheet(QString());
        } else {
            // Refused aloud: the field goes back to what is in force.
            m_host.ReportToOperator(strings::fill(strings::text(strings::kZeroRefused),
                                                  {typed.toStdString(), formatOffset(m_device.m_dZeroOffset).toStdString()}),
                                    status::kWarning);
            m_zeroEdit->setStyleSheet(QStringLiteral("QLineEdit { background: rgb(255, 215, 215); }"));
        }
        showZero();
        m_zeroEdit->selectAll();
    });
}

void CControlPanel::showShutter(const std::string& buttonText, bool buttonEnabled)
{
    if (m_device.m_iShutterState == kShutterNone && !m_bShutterHidden) {
        // A meter without a shutter: picture and button go for the whole run.
        m_bShutterHidden = true;
        m_shutterPicture->hide();
        m_shutterButton->hide();
    }
    m_shutterPicture->update();
    m_shutterButton->setText(qs(buttonText));
    // Nobody to move the shutter: the button waits for a meter that answers.
    m_shutterButton->setEnabled(buttonEnabled && m_device.Presence() != MeterPresence::NotFound);
}

void CControlPanel::showButtons()
{
    const CPowerMeter& d = m_device;
    if (d.MeasuringActive()) {
        m_calibration->setEnabled(false);
        m_startStop->setText(qs(strings::text(4004)));
    }
    if (d.CalibrationRunning()) {
        m_startStop->setEnabled(false);
        m_calibration->setText(qs(strings::text(4004)));
    }
    if (!d.MeasuringActive() && !d.CalibrationRunning()) {
        m_startStop->setEnabled(true);
        m_calibration->setEnabled(true);
        m_startStop->setText(qs(strings::text(4003)));
        m_calibration->setText(qs(strings::text(61290)));
    }
}

void CControlPanel::showZero() { m_zeroEdit->setText(formatOffset(m_device.m_dZeroOffset)); }

void CControlPanel::setEcVisible(bool ec) { m_calibration->setVisible(ec); }

} // namespace bv
