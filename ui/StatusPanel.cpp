#include "ui/StatusPanel.h"

#include <QDateTime>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <chrono>

#include "data/CBrivaneDoc.h"
#include "devices/PowerMeter.h"
#include "res/StringTable.h"
#include "settings/ProgramSettings.h"
#include "ui/ControlIds.h"
#include "ui/StatusList.h"

namespace bv {
namespace {

QString clockText(int64_t wallMs, const QString& format)
{
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(format);
}

} // namespace

CStatusPanel::CStatusPanel(CPowerMeter& device, CBrivaneDoc& doc, ProgramSettings& settings, IPanelHost& host,
                           QObject* parent)
    : QObject(parent), m_device(device), m_doc(doc), m_settings(settings), m_host(host)
{
    m_statusList = new StatusList;
    panel::tag(m_statusList, WindowIds::kIdStatusList, "statusList");
    m_statusList->setMinimumHeight(100);

    m_banner = new QLabel;
    m_banner->setObjectName(QStringLiteral("alarmBanner"));
    m_banner->setWordWrap(true);
    m_banner->setAutoFillBackground(true);
    QPalette red = m_banner->palette();
    red.setColor(QPalette::Window, QColor(255, 230, 230));
    red.setColor(QPalette::WindowText, QColor(170, 0, 0));
    m_banner->setPalette(red);
    QFont bold = m_banner->font();
    bold.setBold(true);
    m_banner->setFont(bold);
    m_banner->setFrameShape(QFrame::Box);
    m_banner->setMargin(3);
    m_ack = panel::makeButton(QString::fromStdString(strings::text(strings::kAcknowledge)), 0, "acknowledgeAlarmsButton");
    m_bannerBox = new QWidget;
    m_bannerBox->setObjectName(QStringLiteral("alarmBannerBox"));
    auto* box = new QVBoxLayout(m_bannerBox);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(2);
    box->addWidget(m_banner);
    box->addWidget(m_ack);
    m_bannerBox->hide();
    connect(m_ack, &QPushButton::clicked, this, [this] { acknowledgeAlarms(); });
}

CStatusPanel::~CStatusPanel() { setAlarmMonitor(nullptr); }

void CStatusPanel::setAlarmMonitor(AlarmMonitor* alarms)
{
    if (m_alarms)
        m_alarms->removeListener(this);
    m_alarms = alarms;
    if (m_alarms)
        m_alarms->addListener(this);
    showPinned();
}

QString CStatusPanel::alarmTitle(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::NoFlow: return QString::fromStdString(strings::text(strings::kAlarmNoFlow));
    case AlarmKind::LowFlow: return QString::fromStdString(strings::text(strings::kAlarmLowFlow));
    case AlarmKind::Shutter: return QString::fromStdString(strings::text(strings::kAlarmShutter));
    case AlarmKind::NoReading: return QString::fromStdString(strings::text(strings::kAlarmNoReading));
    case AlarmKind::LinkLost: return QString::fromStdString(strings::text(strings::kAlarmLinkLost));
    }
    return {};
}

void CStatusPanel::OnAlarm(const AlarmChange& change)
{
    panel::guarded("OnAlarm", [&] {
        // The time of the point that raised or cleared it; the watchers'
        // alarms, and a clear without a point, happen now.
        const MeasurePoint* newest = decidedByPoint(change.kind) ? m_doc.pGetLastMeasureValue() : nullptr;
        // On the points' clock, so the banner and the plot tell the same time.
        const int64_t now = m_doc.WallMs() > 0 ? m_doc.WallMs() : static_cast<int64_t>(m_device.WallTime()) * 1000;
        const int64_t at = change.sinceMs > 0 ? change.sinceMs : newest && newest->timeMs > 0 ? newest->timeMs : now;
        Pinned& pinned = m_pinned[static_cast<int>(change.kind)];
        if (change.raised)
            pinned = {at, 0};
        else if (pinned.raisedAt > 0)
            pinned.clearedAt = at;
        m_alarmLog.push_back({at, change.kind, change.raised});
        showPinned();
        if (m_logWindow)
            fillLogView();
    });
}

QStringList CStatusPanel::pinnedAlarms() const
{
    QStringList lines;
    const QString hms = QStringLiteral("HH:mm:ss");
    for (int i = 0; i < kAlarmKinds; ++i) {
        const Pinned& p = m_pinned[i];
        if (p.raisedAt == 0)
            continue;
        const std::string since = clockText(p.raisedAt, hms).toStdString();
        const QString when =
            p.clearedAt == 0
                ? QString::fromStdString(strings::fill(strings::text(strings::kAlarmSince), {since}))
                : QString::fromStdString(strings::fill(strings::text(strings::kAlarmWasActive),
                                                       {since, clockText(p.clearedAt, hms).toStdString()}));
        lines << alarmTitle(static_cast<AlarmKind>(i)) + QStringLiteral(" - ") + when;
    }
    return lines;
}

void CStatusPanel::acknowledgeAlarms()
{
    for (Pinned& p : m_pinned)
        if (p.clearedAt != 0)
            p = {};
    showPinned();
}

void CStatusPanel::showPinned()
{
    const QStringList lines = pinnedAlarms();
    if (lines.isEmpty()) {
        m_bannerBox->hide();
        m_banner->clear();
        return;
    }
    bool active = false, cleared = false;
    for (const Pinned& p : m_pinned) {
        active = active || (p.raisedAt != 0 && p.clearedAt == 0);
        cleared = cleared || p.clearedAt != 0;
    }
    // Red while one is active; a cleared one waits, dark, for the acknowledgement.
    QPalette colours = m_banner->palette();
    colours.setColor(QPalette::Window, active ? QColor(255, 230, 230) : QColor(235, 235, 225));
    colours.setColor(QPalette::WindowText, active ? QColor(170, 0, 0) : QColor(60, 60, 60));
    m_banner->setPalette(colours);
    m_banner->setText(QString::fromStdString(strings::text(strings::kActiveAlarms)) + QStringLiteral(":\n") +
                      lines.join(QLatin1Char('\n')));
    m_ack->setVisible(cleared);
    m_bannerBox->show();
}

void CStatusPanel::showAlarmLog(QWidget* parent)
{
    if (!m_logWindow) {
        auto* window = new QDialog(parent);
        window->setObjectName(QStringLiteral("alarmLogWindow"));
        window->setWindowTitle(QString::fromStdString(strings::text(strings::kAlarmLog)));
        window->resize(460, 300);
        auto* layout = new QVBoxLayout(window);
        m_logView = new QTreeWidget;
        m_logView->setObjectName(QStringLiteral("alarmLogView"));
        m_logView->setRootIsDecorated(false);
        m_logView->setColumnCount(3);
        m_logView->setSelectionMode(QAbstractItemView::NoSelection);
        m_logView->header()->setStretchLastSection(true);
        layout->addWidget(m_logView);
        m_logWindow = window;
    }
    fillLogView();
    m_logWindow->show();
    m_logWindow->raise();
}

QTreeWidget* CStatusPanel::alarmLogView() const { return m_logWindow ? m_logView : nullptr; }

void CStatusPanel::fillLogView()
{
    m_logView->clear();
    m_logView->setHeaderLabels({QString::fromStdString(strings::text(strings::kAlarmLogTime)),
                                QString::fromStdString(strings::text(strings::kAlarmLogAlarm)),
                                QString::fromStdString(strings::text(strings::kAlarmLogEvent))});
    if (m_alarmLog.empty()) {
        m_logView->addTopLevelItem(
            new QTreeWidgetItem(QStringList{QString::fromStdString(strings::text(strings::kAlarmLogEmpty))}));
        return;
    }
    // Newest first: what the operator opens the log for.
    for (auto it = m_alarmLog.rbegin(); it != m_alarmLog.rend(); ++it) {
        auto* item = new QTreeWidgetItem(QStringList{
            clockText(it->wallMs, QStringLiteral("yyyy-MM-dd HH:mm:ss")), alarmTitle(it->kind),
            QString::fromStdString(strings::text(it->raised ? strings::kAlarmRaised : strings::kAlarmCleared))});
        if (it->raised)
            for (int c = 0; c < 3; ++c)
                item->setForeground(c, QColor(170, 0, 0));
        m_logView->addTopLevelItem(item);
    }
    for (int c = 0; c < 2; ++c)
        m_logView->resizeColumnToContents(c);
}

void CStatusPanel::OnNewestPoint(const MeasurePoint& newest)
{
    if (status::takesPart(newest))
        statusUpdate(newest);
}

void CStatusPanel::statusUpdate(const MeasurePoint& newest)
{
    // Decided once per point, by the alarm monitor; a point it decided before
    // the limits were known is decided here again once they are.
    const status::Outcome* decided = m_alarms ? m_alarms->outcomeForNewest() : nullptr;
    const status::Outcome outcome =
        decided && !decided->message.empty() ? *decided : status::evaluate(newest, status::viewOf(m_device));
    // Not judged yet: the identification's end judges it again.
    if (outcome.message.empty())
        return;
    m_bAlarmShown = outcome.alarmShown ? 1 : 0;
    if (outcome.alarmText)
        m_sAlarmText = *outcome.alarmText;
    AddErrorMessage(outcome.message, outcome.kind);
    m_iThermalizationShown = outcome.thermalizationShown;
    if (m_bAlarmShown || m_iThermalizationShown >= 0)
        m_host.UpdateValueArea();
}

void CStatusPanel::AddErrorMessage(const std::string& text, int kind)
{
    panel::guarded("AddErrorMessage", [&] { m_statusList->AddErrorMessage(text, kind); });
}

std::string CStatusPanel::shutterButtonText() const { return status::shutterButtonText(m_device.m_iShutterState); }

bool CStatusPanel::shutterButtonEnabled() const
{
    return status::shutterButtonEnabled(m_device.Model().shutterNeedsPlc, m_settings.m_bUseSps != 0);
}

status::ShutterAction CStatusPanel::shutterAction() const
{
    return status::shutterAction(m_device.m_iShutterState, m_doc.pGetLastMeasureValue());
}

} // namespace bv
