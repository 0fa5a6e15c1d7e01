#include "ui/CBrivaneMain.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <ctime>
#include <optional>
#include <stdexcept>

#include "app/BrivaneCore.h"
#include "app/HistoryRecorder.h"
#include "app/LinkRecovery.h"
#include "app/LinkSelection.h"
#include "control/Scheduler.h"
#include "data/CalibrationResult.h"
#include "data/CBrivaneDoc.h"
#include "devices/PowerMeter.h"
#include "platform/Prompt.h"
#include "res/StringTable.h"
#include "settings/ProgramSettings.h"
#include "ui/CNTGraph.h"
#include "ui/ExportCommands.h"
#include "ui/PlotScales.h"
#include "ui/ShutterPicture.h"
#include "ui/StatusList.h"
#include "ui/ValueLayout.h"

namespace bv {
namespace {

using panel::guarded;
using panel::kTag;
using panel::logger;
using panel::qs;

// Asks for all of its content, not for the default's few hundred pixels,
// so that a scroll bar shows only where the screen is too small.
class WholeScrollArea final : public QScrollArea {
public:
    QSize sizeHint() const override
    {
        const QSize content = widget() ? widget()->sizeHint() : QSize();
        return {content.width() + verticalScrollBar()->sizeHint().width() + 2, content.height() + 2};
    }
    // Controls shown later (the calibration button of an EC meter) make the
    // content taller: the window's layout must hear of it.
    void watchContent() { widget()->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (watched == widget() && e->type() == QEvent::LayoutRequest)
            updateGeometry();
        return QScrollArea::eventFilter(watched, e);
    }
};

constexpr uint32_t kGreen = 0x008000;     // 0x00BBGGRR
constexpr uint32_t kDarkGrey = 0x555555;

} // namespace

CBrivaneMain::CBrivaneMain(BrivaneCore& core, IPrompt& prompt, ISerialSystem& ports, QWidget* parent)
    : CBrivaneMain(core, prompt, ports, Options{}, parent)
{
}

CBrivaneMain::CBrivaneMain(BrivaneCore& core, IPrompt& prompt, ISerialSystem& ports, Options options,
                           QWidget* parent)
    : ResizableDialog(kIdd, parent),
      m_core(core),
      m_prompt(prompt),
      m_ports(ports),
      m_options(options),
      m_settings(core.settings()),
      m_pDevice(core.device()),
      m_pDoc(core.device() ? &core.device()->Store() : nullptr)
{
    if (!m_pDevice)
        throw std::logic_error("CBrivaneMain needs a started core");
    fillAnchors();
    buildControls();
    buildMenu();
    ApplyAnchors();
    setWindowTitle(qs(m_pDevice->m_sName));
    resize(1200, 860);

    m_pDevice->AddListener(this);
    if (AlarmMonitor* alarms = m_core.alarms())
        alarms->addPointListener(this);
    if (ReadingWatchdog* watchdog = m_core.watchdog())
        watchdog->addListener(this);
    if (LinkSelection* links = m_core.links())
        links->enableStart = [this](bool on) { EnableStartButton(on ? 1 : 0); };
    if (CalibrationJudge* judge = m_core.calibrations())
        judge->setFrontEnd([this](const CalibrationResult& result) {
            guarded("calibrationJudged", [&] { showCalibrationVerdict(result); });
        });
}

CBrivaneMain::~CBrivaneMain()
{
    if (m_iTimerId)
        killTimer(m_iTimerId);
    m_iTimerId = 0;
    releaseFreeComm();
    m_core.setHistoryNoteHandler({});
    if (CalibrationJudge* judge = m_core.calibrations())
        judge->setFrontEnd({});
    if (LinkSelection* links = m_core.links())
        links->enableStart = nullptr;
    if (ReadingWatchdog* watchdog = m_core.watchdog())
        watchdog->removeListener(this);
    if (AlarmMonitor* alarms = m_core.alarms())
        alarms->removePointListener(this);
    m_pDevice->RemoveListener(this);
}

// ---------------------------------------------------------------------------
// Controls

void CBrivaneMain::fillAnchors()
{
    AddAnchor(kIdValueArea, kStretchWidth);
    for (int id : {kIdControlGroup, kIdShutterPicture, kIdShutterButton, kIdStartStop, kIdCalibration, kIdModeCurrent,
                   kIdModeMin, kIdModeMax, kIdModeAverage, kIdTimeLabel, kIdAveragingList, kIdZeroLabel, kIdZeroEdit,
                   kIdZeroApply, kIdZeroTake, kIdScaleGroup, kIdPowerRadio, kIdFlowRadio, kIdTeRadio, kIdTdRadio,
                   kIdEcPowerRadio, kIdPowerText, kIdFlowText, kIdTeText, kIdTdText, kIdEcPowerText, kIdClear,
                   kIdPowerScaleLabel, kIdScaleAutomatic, kIdScale200, kIdScale500, kIdPeriodLabel, kIdPeriodList})
        AddAnchor(id, kMoveRight);
    AddAnchor(kIdStatusList, kMoveRight | kStretchHeight);
    AddAnchor(kIdPowerGraph, kMoveDown | kStretchWidth | kStretchHeight);
    AddAnchor(kIdAdditionalGraph, kMoveDown | kStretchWidth);
}

// The panels make their controls; the window places them, mixing panels
// where the template groups them together.
void CBrivaneMain::buildControls()
{
    m_value = new CValuePanel(*m_pDevice, *m_pDoc, m_settings, *this, this);
    m_value->valueArea()->setStateProvider([this] { return valueAreaState(); });
    m_control = new CControlPanel(*m_pDevice, m_prompt, *m_core.commands(), *this, this);
    m_plot = new CPlotPanel(*m_pDevice, *m_pDoc, m_settings, *this, this);
    m_plot->setPeriodLoader([this] { LoadHistory(); });
    m_status = new CStatusPanel(*m_pDevice, *m_pDoc, m_settings, *this, this);
    connect(m_control->shutterButton(), &QPushButton::clicked, this, [this] { OnShutterButton(); });

    // "Control"
    auto* controlGroup = new QGroupBox(tr("Control"));
    panel::tag(controlGroup, kIdControlGroup, "controlGroup");
    auto* modeRow = new QGridLayout;
    for (int i = 0; i < 4; ++i)
        modeRow->addWidget(m_value->modeGroup()->button(i), i / 2, i % 2);
    auto* control = new QGridLayout(controlGroup);
    control->setVerticalSpacing(6);
    control->addWidget(m_control->shutterPicture(), 0, 0, Qt::AlignLeft);
    control->addWidget(m_control->shutterButton(), 0, 1, 1, 2);
    control->addWidget(m_control->startStopButton(), 1, 0, 1, 3);
    control->addWidget(m_control->calibrationButton(), 2, 0, 1, 3);
    control->addLayout(modeRow, 3, 0, 1, 3);
    control->addWidget(m_value->timeLabel(), 4, 0);
    control->addWidget(m_value->averagingList(), 4, 1, 1, 2);
    control->addWidget(m_control->zeroLabel(), 5, 0);
    control->addWidget(m_control->zeroEdit(), 5, 1);
    control->addWidget(m_control->zeroApplyButton(), 5, 2);
    control->addWidget(m_control->zeroTakeButton(), 6, 0, 1, 3);

    // "Scale": each quantity button with its value text.
    auto* scaleGroup = new QGroupBox(tr("Scale"));
    panel::tag(scaleGroup, kIdScaleGroup, "scaleGroup");
    auto* scale = new QGridLayout(scaleGroup);
    scale->setVerticalSpacing(4);
    QButtonGroup* quantities = m_plot->quantityGroup();
    scale->addWidget(m_plot->powerRadioGroup()->button(0), 0, 0);
    scale->addWidget(m_value->powerText(), 0, 1);
    scale->addWidget(quantities->button(plot::kFlow), 1, 0);
    scale->addWidget(m_value->flowText(), 1, 1);
    scale->addWidget(quantities->button(plot::kTe), 2, 0);
    scale->addWidget(m_value->teText(), 2, 1);
    scale->addWidget(quantities->button(plot::kTd), 3, 0);
    scale->addWidget(m_value->tdText(), 3, 1);
    scale->addWidget(quantities->button(plot::kEcPower), 4, 0);
    scale->addWidget(m_value->ecPowerText(), 4, 1);
    scale->addWidget(m_plot->clearButton(), 5, 0, 1, 2);

    // Power scale and plot period.
    QButtonGroup* scales = m_plot->scaleButtons();
    auto* plotRows = new QGridLayout;
    plotRows->addWidget(m_plot->powerScaleLabel(), 0, 0, 1, 3);
    plotRows->addWidget(scales->button(plot::kScaleAutomatic), 1, 0);
    plotRows->addWidget(scales->button(plot::kScale200W), 1, 1);
    plotRows->addWidget(scales->button(plot::kScale500W), 1, 2);
    plotRows->addWidget(m_plot->periodLabel(), 2, 0, 1, 2);
    plotRows->addWidget(m_plot->periodList(), 2, 2);

    // Left: what stretches (value area, graphs); right: the controls, which
    // move with the right edge, and the status list growing in height.
    auto* left = new QVBoxLayout;
    left->setSpacing(6);
    left->addWidget(m_value->valueArea(), stretchOf(kIdValueArea, Qt::Vertical));
    left->addWidget(m_plot->powerGraph(), stretchOf(kIdPowerGraph, Qt::Vertical));
    left->addWidget(m_plot->additionalGraph(), stretchOf(kIdAdditionalGraph, Qt::Vertical));

    // The controls scroll where the screen is too low for them (1024 x 600);
    // everywhere else they are shown whole.
    auto* controls = new QWidget;
    controls->setObjectName(QStringLiteral("controlColumn"));
    auto* controlColumn = new QVBoxLayout(controls);
    controlColumn->setContentsMargins(0, 0, 0, 0);
    controlColumn->setSpacing(6);
    controlColumn->addWidget(controlGroup, stretchOf(kIdControlGroup, Qt::Vertical));
    controlColumn->addWidget(scaleGroup, stretchOf(kIdScaleGroup, Qt::Vertical));
    controlColumn->addLayout(plotRows);
    auto* scroller = new WholeScrollArea;
    scroller->setObjectName(QStringLiteral("controlScroller"));
    scroller->setWidget(controls);
    scroller->watchContent();
    scroller->setWidgetResizable(true);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setMinimumHeight(150);
    scroller->setFixedWidth(300 + scroller->verticalScrollBar()->sizeHint().width() + 2);

    auto* right = new QVBoxLayout;
    right->setSpacing(6);
    right->addWidget(scroller);
    right->addWidget(m_status->alarmBanner());
    right->addWidget(m_status->statusList(), stretchOf(kIdStatusList, Qt::Vertical));

    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(8, 6, 8, 8);
    columns->setSpacing(8);
    columns->addLayout(left, stretchOf(kIdValueArea, Qt::Horizontal));
    columns->addLayout(right, stretchOf(kIdControlGroup, Qt::Horizontal));
    controlGroup->setFixedWidth(300);
    scaleGroup->setFixedWidth(300);
    m_status->statusList()->setFixedWidth(300);
    m_status->alarmBanner()->setFixedWidth(300);
    // What the columns may shrink to: the whole window, menu and frame
    // included, fits a 1024 x 600 screen.
    m_value->valueArea()->setMinimumSize(660, 250);
    m_plot->powerGraph()->setMinimumHeight(140);
    m_plot->additionalGraph()->setMinimumHeight(90);
    m_plot->additionalGraph()->setMaximumHeight(190);
    m_status->setAlarmMonitor(m_core.alarms());
}

QWidget* CBrivaneMain::control(int id) const
{
    for (QWidget* w : findChildren<QWidget*>())
        if (w->property("controlId").toInt() == id)
            return w;
    return nullptr;
}

void CBrivaneMain::UpdateData(bool fromControls)
{
    m_value->UpdateData(fromControls);
    m_plot->UpdateData(fromControls);
}

void CBrivaneMain::ShowAverageMode()
{
    m_value->setDisplayMode(value::kAverage);
    UpdateData(false);
}

// ---------------------------------------------------------------------------
// Initialisation and heartbeat

int CBrivaneMain::LoadHistory()
{
    HistoryRecorder* history = m_core.history();
    if (!history)
        return 0;
    // What the period wants and the store does not hold yet: the time before
    // its oldest point.
    const int64_t now = m_pDoc->WallMs();
    HistoryQuery query;
    query.fromMs = now - static_cast<int64_t>(m_pDoc->GetPeriod()) * 1000;
    const MeasurePoint* oldest = m_pDoc->pGetMeaureValue(0);
    query.toMs = oldest ? oldest->timeMs - 1 : now;
    query.thinMs = m_settings.m_iInterval;
    if (query.fromMs > query.toMs || m_pDoc->GetCount() >= m_pDoc->GetMaxCount())
        return 0;
    std::vector<MeasurePoint> points;
    size_t firstOfRun = SIZE_MAX;
    const int64_t run = history->currentRun();
    std::string error;
    const bool read = readHistory(history->store().path(), query, [&](const StoredPoint& p) {
        if (run != 0 && p.runId == run && firstOfRun == SIZE_MAX)
            firstOfRun = points.size();
        points.push_back(p.point);
    }, error);
    if (!read) {
        BV_LOG_WARN(logger(), kTag, "LoadHistory " << error);
        return 0;
    }
    const int taken = m_pDoc->LoadEarlier(points, firstOfRun);
    BV_LOG_INFO(logger(), kTag, "LoadHistory " << taken << " of " << points.size() << " stored points");
    if (taken > 0)
        AddErrorMessage(strings::fill(strings::text(strings::kHistoryLoaded), {std::to_string(taken)}),
                        status::kInformation);
    return taken;
}

bool CBrivaneMain::OnInitDialog()
{
    if (m_bInitialised)
        return true;
    m_bInitialised = true;
    guarded("OnInitDialog", [&] {
        UpdateData(false);
        RestoreWindowSize();
        // The first single reading resets "Average period" to 10; the list
        // shows the operator's choice from the settings file.
        const int averagePeriod = m_settings.m_iAveragePeriod;
        createFreeComm();
        if (m_options.heartbeatTimer)
            m_iTimerId = startTimer(kTimerPeriodMs);
        m_control->initControls();
        m_value->initAveraging(averagePeriod);
        setWindowTitle(qs(m_pDevice->m_sName));
        m_plot->initPlots();
        for (const std::string& text : m_core.historyStartNotes())
            AddErrorMessage(text, status::kWarning);
        m_core.setHistoryNoteHandler([this](const std::string& text) { AddErrorMessage(text, status::kWarning); });
        setWindowIcon(QIcon(ShutterPicture::draw(ShutterPicture::kOpen, QSize(32, 32))));
    });
    return true;
}

void CBrivaneMain::timerEvent(QTimerEvent* e)
{
    if (e->timerId() == m_iTimerId && m_iTimerId != 0) {
        OnTimer();
        return;
    }
    ResizableDialog::timerEvent(e);
}

void CBrivaneMain::OnTimer()
{
    guarded("OnTimer", [&] {
        CScheduler* scheduler = m_core.scheduler();
        if (scheduler && !scheduler->IsDispatchBusy())
            QCoreApplication::postEvent(this, new QEvent(kTimerContinueEvent));
    });
}

bool CBrivaneMain::event(QEvent* e)
{
    if (e->type() == kTimerContinueEvent) {
        OnTimerWeiter();
        return true;
    }
    return ResizableDialog::event(e);
}

void CBrivaneMain::OnTimerWeiter()
{
    guarded("OnTimerWeiter", [&] {
        CScheduler* scheduler = m_core.scheduler();
        // A continuation posted before a dispatch opened a box can still be
        // delivered by the box's own event loop: the scheduler would refuse
        // its frames, so they stay in the link until the next tick.
        if (!scheduler || scheduler->IsDispatchBusy())
            return;
        m_core.heartbeat();
        ++m_iHeartbeats;
        // The watchdog forgets a stale state quietly when measuring ends.
        if (m_bStaleShown && !ReadingsStale()) {
            m_bStaleShown = false;
            MyUpdate(kPartValueArea | kPartShutter);
        }
    });
}

void CBrivaneMain::reject()
{
    // Esc, the close box and File/Quit all end up here.
    if (!confirmExit())
        return;
    if (m_iTimerId)
        killTimer(m_iTimerId);
    m_iTimerId = 0;
    ResizableDialog::reject();
}

bool CBrivaneMain::confirmExit()
{
    bool go = true;
    guarded("confirmExit", [&] {
        const bool calibrating = m_pDevice->m_bEcProtocol != 0;
        if (!calibrating && !m_pDevice->m_bMeasuringActive)
            return;
        const unsigned question = calibrating ? strings::kExitWhileCalibrating : strings::kExitWhileMeasuring;
        go = m_prompt.show(strings::text(question), PromptButtons::YesNo, PromptIcon::Question) == PromptResult::Ok;
        BV_LOG_INFO(logger(), kTag, (calibrating ? "exit during a calibration: " : "exit while measuring: ")
                                        << (go ? "confirmed" : "declined"));
    });
    return go;
}

void CBrivaneMain::ReportToOperator(const std::string& text, int kind) { AddErrorMessage(text, kind); }

void CBrivaneMain::accept()
{
    if (m_iTimerId)
        killTimer(m_iTimerId);
    m_iTimerId = 0;
    ResizableDialog::accept();
}

// ---------------------------------------------------------------------------
// Notifications

void CBrivaneMain::OnDeviceChanged(int hint, long argument)
{
    guarded("OnDeviceChanged", [&] {
        switch (hint) {
        case kNotifyShutterEnded:
            MyUpdate(kPartShutter);
            break;
        case kNotifyIdentificationEnded:
            MyUpdate(kPartAll);
            showPresence();
            break;
        case kNotifyMeasuringStarted:
            if (argument == 0) {
                if (m_plot->additionalQuantity() == plot::kEcPower) {
                    m_plot->setAdditionalQuantity(plot::kNone);
                    UpdateData(false);
                }
            } else if (argument == 1) {
                m_plot->setAdditionalQuantity(plot::kEcPower);
                UpdateData(false);
            }
            // A new run: the last calibration's verdict is history now.
            if (m_pDevice->Measuring())
                m_sVerdict.clear();
            MyUpdate(kPartButtons | kPartValueArea);
            m_value->showAveragingWindow();
            break;
        case kNotifyMeasuringEnded:
            MyUpdate(kPartButtons | kPartValueArea);
            m_value->showAveragingWindow();
            break;
        case kNotifyStatusLine:
            AddErrorMessage(m_pDevice->StatusText(), static_cast<int>(argument));
            break;
        default:
            break;
        }
    });
}

void CBrivaneMain::OnNewPoint(const DecidedPoint&)
{
    guarded("OnNewPoint", [&] {
        MyUpdate(kPartNewPoint);
        UpdateTimeArea();
    });
}

void CBrivaneMain::MyUpdate(int parts)
{
    guarded("MyUpdate", [&] {
        CPowerMeter& d = *m_pDevice;
        const MeasurePoint* last = m_pDoc->pGetLastMeasureValue();
        const std::optional<MeasurePoint> newest = last ? std::optional<MeasurePoint>(*last) : std::nullopt;

        if (parts & kPartShutter)
            m_control->showShutter(m_status->shutterButtonText(), m_status->shutterButtonEnabled());
        if (parts & kPartButtons)
            m_control->showButtons();
        if (parts & kPartValueArea) {
            UpdateValueArea();
            m_value->showTextsLive(MeasuringShown() && !ReadingsStale());
        }
        if ((parts & kPartValueTexts) && newest && newest->valid)
            m_value->smallValueTexts(*newest);
        if (parts & kPartZero)
            m_control->showZero();
        if (parts & kPartModelControls) {
            const bool ec = d.Model().electronicCalibration;
            m_control->setEcVisible(ec);
            m_plot->setEcVisible(ec);
            m_value->setEcVisible(ec);
        }
        if (parts & kPartCaption) {
            // The model only once a meter has told it.
            if (d.Presence() == MeterPresence::Found)
                setWindowTitle(QStringLiteral("BrivaneSoftware - ") + QString::fromLatin1(d.Model().caption));
            else
                setWindowTitle(qs(d.m_sName));
        }
        if ((parts & kPartStatus) && newest)
            m_status->OnNewestPoint(*newest);
    });
}

void CBrivaneMain::OnReadingsStale(int64_t)
{
    guarded("OnReadingsStale", [&] {
        const ReadingWatchdog* watchdog = m_core.watchdog();
        AddErrorMessage(noReadingText(watchdog ? watchdog->sinceWallMs() : 0), status::kError);
        m_bStaleShown = true;
        m_value->staleValueTexts();
        MyUpdate(kPartValueArea | kPartShutter);
    });
}

void CBrivaneMain::OnReadingsResumed()
{
    // The new point's own update follows and redraws the rest.
    guarded("OnReadingsResumed", [&] {
        m_bStaleShown = false;
        AddErrorMessage(strings::text(61305), status::kInformation);
    });
}

bool CBrivaneMain::ReadingsStale() const
{
    const ReadingWatchdog* watchdog = m_core.watchdog();
    return watchdog && watchdog->stale();
}

bool CBrivaneMain::MeasuringShown() const
{
    const ReadingWatchdog* watchdog = m_core.watchdog();
    return m_pDevice->Measuring() || (watchdog && watchdog->held());
}

void CBrivaneMain::showPresence()
{
    const MeterPresence presence = m_pDevice->Presence();
    if (presence == MeterPresence::Found) {
        m_bNoMeterShown = false;
    } else if (presence == MeterPresence::NotFound && !m_bNoMeterShown) {
        // Once until a meter answers; a lost link's attempts have lines of their own.
        const LinkRecovery* recovery = m_core.recovery();
        if (!recovery || !recovery->recovering()) {
            m_bNoMeterShown = true;
            AddErrorMessage(strings::text(61342), status::kError);
        }
    }
    UpdateValueArea();
}

void CBrivaneMain::showCalibrationVerdict(const CalibrationResult& result)
{
    m_exports->calibrationJudged(result);
    m_sVerdict = calibrationVerdictText(result);
    m_iVerdictKind = !result.available ? status::kWarning : result.passed ? status::kInformation : status::kError;
    AddErrorMessage(m_sVerdict, m_iVerdictKind);
}

// ---------------------------------------------------------------------------
// Coordination between the panels

void CBrivaneMain::OnShutterButton()
{
    guarded("OnShutterButton", [&] {
        BV_LOG_DEBUG(logger(), kTag, "OnShutterButton");
        m_control->OnShutterButton(m_status->shutterAction());
    });
}

ValueAreaState CBrivaneMain::valueAreaState() const
{
    ValueAreaState s = m_value->state();
    s.calibrationLayout = m_control->calibrationLayout();
    s.alarmShown = m_status->alarmShown();
    s.alarmText = m_status->alarmText();
    s.thermalizationShown = m_status->thermalizationShown();
    const ReadingWatchdog* watchdog = m_core.watchdog();
    s.live = MeasuringShown();
    if (ReadingsStale()) {
        s.notice = noReadingText(watchdog ? watchdog->sinceWallMs() : 0);
        s.noticeColour = value::kRed;
    } else if (s.live) {
        // Live readings speak for themselves.
    } else if (!m_sVerdict.empty()) {
        s.notice = m_sVerdict;
        s.noticeColour = m_iVerdictKind == status::kError ? value::kRed
                         : m_iVerdictKind == status::kInformation ? kGreen : kDarkGrey;
    } else if (m_pDevice->Presence() == MeterPresence::NotFound) {
        s.notice = strings::text(61342);
        s.noticeColour = value::kRed;
    } else {
        const MeasurePoint* newest = m_pDoc->pGetLastMeasureValue();
        s.notice = newest && newest->timeMs > 0 ? strings::fill(strings::text(61340), {localClockText(newest->timeMs)})
                                                : strings::text(61341);
        s.noticeColour = kDarkGrey;
    }
    return s;
}

} // namespace bv
