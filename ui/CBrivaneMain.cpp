#include "ui/CBrivaneMain.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <optional>
#include <stdexcept>

#include "app/BrivaneCore.h"
#include "app/Heartbeat.h"
#include "app/LinkSelection.h"
#include "settings/ProgramSettings.h"
#include "control/Scheduler.h"
#include "data/CBrivaneDoc.h"
#include "devices/PowerMeter.h"
#include "link/CSerial.h"
#include "platform/Logging.h"
#include "platform/Prompt.h"
#include "link/ZelmorUSB.h"
#include "res/StringTable.h"
#include "ui/AboutDialog.h"
#include "ui/CFreeComm.h"
#include "ui/CNTGraph.h"
#include "ui/PlotScales.h"
#include "ui/PortDialog.h"
#include "ui/SettingsDialogs.h"
#include "ui/ShutterPicture.h"
#include "ui/StatusList.h"
#include "ui/StatusLogic.h"
#include "ui/ValueLayout.h"

namespace bv {
namespace {

constexpr const char* kTag = "BV_main";
constexpr int kZeroEditMax = 40;

const log::Logger& logger()
{
    static const log::Logger instance("CBrivaneMain");
    return instance;
}

// Every handler runs its body here: what escapes is logged with the
// handler's name and the window goes on.
template <class Body>
void guarded(const char* name, Body&& body)
{
    try {
        body();
    } catch (const std::exception& e) {
        BV_LOG_ERROR(logger(), kTag, name << " " << e.what());
    } catch (...) {
        BV_LOG_ERROR(logger(), kTag, name << " unknown error");
    }
}

QString qs(const std::string& s) { return QString::fromStdString(s); }

const char* const kAveragingItems[] = {"10s", "20s", "30s", "50s", "Max"};

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
    m_pDoc->AddListener(this);
    if (LinkSelection* links = m_core.links())
        links->enableStart = [this](bool on) { EnableStartButton(on ? 1 : 0); };
}

CBrivaneMain::~CBrivaneMain()
{
    if (m_iTimerId)
        killTimer(m_iTimerId);
    m_iTimerId = 0;
    releaseFreeComm();
    if (LinkSelection* links = m_core.links())
        links->enableStart = nullptr;
    m_pDoc->RemoveListener(this);
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

void CBrivaneMain::tag(QWidget* w, int id, const char* name)
{
    w->setObjectName(QString::fromLatin1(name));
    w->setProperty("controlId", id);
}

void CBrivaneMain::buildControls()
{
    auto button = [this](const QString& text, int id, const char* name) {
        auto* b = new QPushButton(text);
        b->setAutoDefault(false);
        tag(b, id, name);
        return b;
    };
    auto radio = [this](const QString& text, int id, const char* name) {
        auto* r = new QRadioButton(text);
        tag(r, id, name);
        return r;
    };
    auto label = [this](const QString& text, int id, const char* name) {
        auto* l = new QLabel(text);
        tag(l, id, name);
        return l;
    };
    auto valueText = [&](const QString& text, int id, const char* name) {
        QLabel* l = label(text, id, name);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setMinimumWidth(92);
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
        return l;
    };

    // Value area: an instrument face, lighter than the dialog.
    m_valueArea = new ValueArea;
    tag(m_valueArea, kIdValueArea, "valueArea");
    QPalette face = m_valueArea->palette();
    face.setColor(QPalette::Window, QColor(250, 250, 246));
    m_valueArea->setPalette(face);
    m_valueArea->setMinimumSize(660, 290);
    m_valueArea->setStateProvider([this] { return valueAreaState(); });

    // "Control"
    m_controlGroup = new QGroupBox(tr("Control"));
    tag(m_controlGroup, kIdControlGroup, "controlGroup");
    m_shutterPicture = new ShutterPicture;
    tag(m_shutterPicture, kIdShutterPicture, "shutterPicture");
    m_shutterPicture->setPictureProvider([this] {
        return ShutterPicture::pictureFor(m_pDevice->m_iShutterState, m_pDevice->m_bCompact != 0);
    });
    m_shutterButton = button(qs(strings::text(61295)), kIdShutterButton, "shutterButton");
    m_startStop = button(qs(strings::text(4003)), kIdStartStop, "startStopButton");
    m_startStop->setDefault(true);
    m_startStop->setMinimumHeight(34);
    QFont strong = m_startStop->font();
    strong.setBold(true);
    m_startStop->setFont(strong);
    m_calibration = button(qs(strings::text(61290)), kIdCalibration, "calibrationButton");
    m_calibration->setVisible(false);

    m_modeGroup = new QButtonGroup(this);
    const struct {
        const char* text;
        int id;
        const char* name;
    } modes[] = {{QT_TR_NOOP("Current"), kIdModeCurrent, "modeCurrentRadio"},
                 {QT_TR_NOOP("Min"), kIdModeMin, "modeMinRadio"},
                 {QT_TR_NOOP("Max"), kIdModeMax, "modeMaxRadio"},
                 {QT_TR_NOOP("Average"), kIdModeAverage, "modeAverageRadio"}};
    auto* modeRow = new QGridLayout;
    for (int i = 0; i < 4; ++i) {
        QRadioButton* r = radio(tr(modes[i].text), modes[i].id, modes[i].name);
        m_modeGroup->addButton(r, i);
        modeRow->addWidget(r, i / 2, i % 2);
    }

    QLabel* timeLabel = label(tr("Time"), kIdTimeLabel, "averagingLabel");
    m_averagingList = new QComboBox;
    tag(m_averagingList, kIdAveragingList, "averagingList");
    QLabel* zeroLabel = label(tr("Zero level"), kIdZeroLabel, "zeroLabel");
    m_zeroEdit = new QLineEdit;
    tag(m_zeroEdit, kIdZeroEdit, "zeroEdit");
    m_zeroEdit->setMaxLength(kZeroEditMax);
    m_zeroEdit->setAlignment(Qt::AlignRight);
    m_zeroEdit->setMaximumWidth(90);
    m_zeroApply = button(tr("Ok"), kIdZeroApply, "zeroApplyButton");
    m_zeroTake = button(tr("Use current value as offset"), kIdZeroTake, "zeroTakeButton");

    auto* control = new QGridLayout(m_controlGroup);
    control->setVerticalSpacing(6);
    control->addWidget(m_shutterPicture, 0, 0, Qt::AlignLeft);
    control->addWidget(m_shutterButton, 0, 1, 1, 2);
    control->addWidget(m_startStop, 1, 0, 1, 3);
    control->addWidget(m_calibration, 2, 0, 1, 3);
    control->addLayout(modeRow, 3, 0, 1, 3);
    control->addWidget(timeLabel, 4, 0);
    control->addWidget(m_averagingList, 4, 1, 1, 2);
    control->addWidget(zeroLabel, 5, 0);
    control->addWidget(m_zeroEdit, 5, 1);
    control->addWidget(m_zeroApply, 5, 2);
    control->addWidget(m_zeroTake, 6, 0, 1, 3);

    // "Scale"
    m_scaleGroup = new QGroupBox(tr("Scale"));
    tag(m_scaleGroup, kIdScaleGroup, "scaleGroup");
    m_powerRadioGroup = new QButtonGroup(this);
    QRadioButton* power = radio(tr("Power"), kIdPowerRadio, "powerRadio");
    m_powerRadioGroup->addButton(power, 0);
    m_quantityGroup = new QButtonGroup(this);
    QRadioButton* flow = radio(tr("Flow rate"), kIdFlowRadio, "flowRadio");
    QRadioButton* te = radio(tr("Tin"), kIdTeRadio, "teRadio");
    QRadioButton* td = radio(tr("T diff"), kIdTdRadio, "tdRadio");
    QRadioButton* ec = radio(tr("EC Power"), kIdEcPowerRadio, "ecPowerRadio");
    m_quantityGroup->addButton(flow, plot::kFlow);
    m_quantityGroup->addButton(te, plot::kTe);
    m_quantityGroup->addButton(td, plot::kTd);
    m_quantityGroup->addButton(ec, plot::kEcPower);
    ec->setVisible(false);
    m_powerText = valueText(QStringLiteral("0 W"), kIdPowerText, "powerText");
    m_flowText = valueText(QStringLiteral("0.00 l/min"), kIdFlowText, "flowText");
    m_teText = valueText(QString::fromUtf8("0.000\xC2\xB0"), kIdTeText, "teText");
    m_tdText = valueText(QString::fromUtf8("0.000\xC2\xB0"), kIdTdText, "tdText");
    m_ecPowerText = valueText(QStringLiteral("0 W"), kIdEcPowerText, "ecPowerText");
    m_ecPowerText->setVisible(false);
    m_clear = button(tr("Clear"), kIdClear, "clearButton");

    auto* scale = new QGridLayout(m_scaleGroup);
    scale->setVerticalSpacing(4);
    scale->addWidget(power, 0, 0);
    scale->addWidget(m_powerText, 0, 1);
    scale->addWidget(flow, 1, 0);
    scale->addWidget(m_flowText, 1, 1);
    scale->addWidget(te, 2, 0);
    scale->addWidget(m_teText, 2, 1);
    scale->addWidget(td, 3, 0);
    scale->addWidget(m_tdText, 3, 1);
    scale->addWidget(ec, 4, 0);
    scale->addWidget(m_ecPowerText, 4, 1);
    scale->addWidget(m_clear, 5, 0, 1, 2);

    // Power scale and plot period.
    QLabel* scaleLabel = label(tr("Power scale"), kIdPowerScaleLabel, "powerScaleLabel");
    m_scaleGroupButtons = new QButtonGroup(this);
    QRadioButton* automatic = radio(tr("Automatic"), kIdScaleAutomatic, "scaleAutomaticRadio");
    QRadioButton* w200 = radio(QStringLiteral("200 W"), kIdScale200, "scale200Radio");
    QRadioButton* w500 = radio(QStringLiteral("500 W"), kIdScale500, "scale500Radio");
    m_scaleGroupButtons->addButton(automatic, plot::kScaleAutomatic);
    m_scaleGroupButtons->addButton(w200, plot::kScale200W);
    m_scaleGroupButtons->addButton(w500, plot::kScale500W);
    QLabel* periodLabel = label(tr("Time : Frequency"), kIdPeriodLabel, "periodLabel");
    m_periodList = new QComboBox;
    tag(m_periodList, kIdPeriodList, "periodList");

    auto* plotRows = new QGridLayout;
    plotRows->addWidget(scaleLabel, 0, 0, 1, 3);
    plotRows->addWidget(automatic, 1, 0);
    plotRows->addWidget(w200, 1, 1);
    plotRows->addWidget(w500, 1, 2);
    plotRows->addWidget(periodLabel, 2, 0, 1, 2);
    plotRows->addWidget(m_periodList, 2, 2);

    // Status list and graphs.
    m_statusList = new StatusList;
    tag(m_statusList, kIdStatusList, "statusList");
    m_statusList->setMinimumHeight(120);
    m_powerGraph = new CNTGraph;
    tag(m_powerGraph, kIdPowerGraph, "powerGraph");
    m_powerGraph->setMinimumHeight(220);
    m_additionalGraph = new CNTGraph;
    tag(m_additionalGraph, kIdAdditionalGraph, "additionalGraph");
    m_additionalGraph->setFixedHeight(190);

    // Left: what stretches (value area, graphs); right: the controls, which
    // move with the right edge, and the status list growing in height.
    auto* left = new QVBoxLayout;
    left->setSpacing(6);
    left->addWidget(m_valueArea, stretchOf(kIdValueArea, Qt::Vertical));
    left->addWidget(m_powerGraph, stretchOf(kIdPowerGraph, Qt::Vertical));
    left->addWidget(m_additionalGraph, stretchOf(kIdAdditionalGraph, Qt::Vertical));

    auto* right = new QVBoxLayout;
    right->setSpacing(6);
    right->addWidget(m_controlGroup, stretchOf(kIdControlGroup, Qt::Vertical));
    right->addWidget(m_scaleGroup, stretchOf(kIdScaleGroup, Qt::Vertical));
    right->addLayout(plotRows);
    right->addWidget(m_statusList, stretchOf(kIdStatusList, Qt::Vertical));

    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(8, 6, 8, 8);
    columns->setSpacing(8);
    columns->addLayout(left, stretchOf(kIdValueArea, Qt::Horizontal));
    columns->addLayout(right, stretchOf(kIdControlGroup, Qt::Horizontal));
    m_controlGroup->setFixedWidth(300);
    m_scaleGroup->setFixedWidth(300);
    m_statusList->setFixedWidth(300);

    connect(m_shutterButton, &QPushButton::clicked, this, [this] { OnShutterButton(); });
    connect(m_startStop, &QPushButton::clicked, this, [this] { OnStartstop(); });
    connect(m_calibration, &QPushButton::clicked, this, [this] { OnCalibration(); });
    connect(m_zeroTake, &QPushButton::clicked, this, [this] { OnTakenull(); });
    connect(m_zeroApply, &QPushButton::clicked, this, [this] { OnZeroApply(); });
    connect(m_modeGroup, &QButtonGroup::idClicked, this, [this](int) { OnDisplayMode(); });
    connect(m_quantityGroup, &QButtonGroup::idClicked, this, [this](int) { OnAdditionalQuantity(); });
    connect(m_powerRadioGroup, &QButtonGroup::idClicked, this, [this](int) { OnPowerRadio(); });
    connect(m_scaleGroupButtons, &QButtonGroup::idClicked, this, [this](int) { OnPowerScaleChanged(); });
    connect(m_clear, &QPushButton::clicked, this, [this] { OnClear(); });
    connect(m_averagingList, &QComboBox::activated, this, [this](int) { OnSelchangePeriodCombo(); });
    connect(m_periodList, &QComboBox::activated, this, [this](int) {
        OnSelchangeScalePeriodeCombo();
        UpdateTimeArea();
    });
}

void CBrivaneMain::buildMenu()
{
    m_menuBar = new QMenuBar(this);
    m_menuBar->setObjectName(QStringLiteral("menu"));
    m_menuBar->setProperty("controlId", static_cast<int>(kIdMenu));
    auto add = [this](QMenu* menu, const QString& text, int id, const char* name, auto handler) {
        QAction* a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        if (id)
            a->setProperty("controlId", id);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    QMenu* file = m_menuBar->addMenu(tr("File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    add(file, tr("Settings..."), kCmdSettings, "settingsAction", [this] { OnSettings(); });
    add(file, tr("Protocol..."), kCmdProtocol, "protocolAction", [this] { OnFileProtocol(); });
    file->addSeparator();
    add(file, tr("Quit"), 0, "quitAction", [this] { close(); });
    QMenu* comm = m_menuBar->addMenu(tr("Communication"));
    comm->setObjectName(QStringLiteral("communicationMenu"));
    add(comm, tr("Free communication..."), kCmdFreeComm, "freeCommAction", [this] { ToggleWindow(); });
    QMenu* info = m_menuBar->addMenu(tr("Info"));
    info->setObjectName(QStringLiteral("infoMenu"));
    add(info, tr("About..."), 0, "aboutAction", [this] { OnAppAbout(); });
    layout()->setMenuBar(m_menuBar);
}

QWidget* CBrivaneMain::control(int id) const
{
    for (QWidget* w : findChildren<QWidget*>())
        if (w->property("controlId").toInt() == id)
            return w;
    return nullptr;
}

void CBrivaneMain::setRadio(QButtonGroup* group, int value)
{
    QAbstractButton* target = group->button(value);
    if (target) {
        target->setChecked(true);
        return;
    }
    // A value that names no button leaves the group without a selection.
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons())
        b->setChecked(false);
    group->setExclusive(true);
}

int CBrivaneMain::readRadio(QButtonGroup* group) const { return group->checkedId(); }

void CBrivaneMain::UpdateData(bool fromControls)
{
    if (fromControls) {
        m_iDisplayMode = readRadio(m_modeGroup);
        m_iPowerRadio = readRadio(m_powerRadioGroup);
        m_iAdditionalQuantity = readRadio(m_quantityGroup);
        m_iPowerScale = readRadio(m_scaleGroupButtons);
    } else {
        setRadio(m_modeGroup, m_iDisplayMode);
        setRadio(m_powerRadioGroup, m_iPowerRadio);
        setRadio(m_quantityGroup, m_iAdditionalQuantity);
        setRadio(m_scaleGroupButtons, m_iPowerScale);
    }
}

// ---------------------------------------------------------------------------
// Initialisation and heartbeat

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
        m_zeroEdit->setText(qs(value::format("%1.0f", m_dPowerMin)));

        m_averagingList->clear();
        for (const char* item : kAveragingItems)
            m_averagingList->addItem(QString::fromLatin1(item));
        int selected = -1;
        if (averagePeriod == 9999) {
            selected = m_averagingList->count() - 1;
        } else {
            for (int i = 0; i < m_averagingList->count() && selected < 0; ++i)
                if (std::atoi(m_averagingList->itemText(i).toLatin1().constData()) == averagePeriod)
                    selected = i;
        }
        m_averagingList->setCurrentIndex(selected >= 0 ? selected : m_averagingList->count() - 1);

        m_startStop->setText(qs(strings::text(4003)));
        m_calibration->setText(qs(strings::text(61290)));
        setWindowTitle(qs(m_pDevice->m_sName));

        m_powerGraph->SetXLabel(QStringLiteral("s"));
        m_powerGraph->SetYLabel(QStringLiteral("W"));
        m_additionalGraph->SetElementLineStyle(4);
        m_periodList->clear();
        for (int i = 0; i < plot::kPeriodCount; ++i)
            m_periodList->addItem(QString::fromLatin1(plot::period(i).text));
        m_periodList->setCurrentIndex(0);
        m_additionalGraph->SetXLabel(QStringLiteral("s"));
        m_additionalGraph->SetElementLineStyle(2);

        ChangeAdditionalScale();
        OnPowerScaleChanged();
        OnSelchangeScalePeriodeCombo();
        UpdateTimeArea();
        setWindowIcon(QIcon(ShutterPicture::draw(ShutterPicture::kOpen, QSize(32, 32))));
    });
    return true;
}

void CBrivaneMain::createFreeComm()
{
    LinkSelection* links = m_core.links();
    if (!links)
        return;
    auto* window = new CFreeComm(*links, *m_pDevice, this);
    window->setObjectName(QStringLiteral("freeCommWindow"));
    window->hide();
    m_freeComm = window;
    // The bus monitor sees what the heartbeat takes from the link and what
    // the PC sends to the USB device.
    m_core.heartbeatBody()->addObserver(window);
    links->usbSinks.push_back(window);
    // Its initialisation performs the first link selection.
    window->Initialise();
}

void CBrivaneMain::releaseFreeComm()
{
    auto* window = qobject_cast<CFreeComm*>(m_freeComm.data());
    if (!window)
        return;
    if (Heartbeat* heartbeat = m_core.heartbeatBody())
        heartbeat->removeObserver(window);
    if (LinkSelection* links = m_core.links()) {
        auto& sinks = links->usbSinks;
        sinks.erase(std::remove(sinks.begin(), sinks.end(), static_cast<IFrameSink*>(window)), sinks.end());
        if (ZelmorUSBCRC* usb = m_pDevice->UsbLink())
            usb->setSinks(sinks);
    }
    delete window;
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
    });
}

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
            break;
        case kNotifyMeasuringStarted:
            if (argument == 0) {
                if (m_iAdditionalQuantity == plot::kEcPower) {
                    m_iAdditionalQuantity = plot::kNone;
                    UpdateData(false);
                }
            } else if (argument == 1) {
                m_iAdditionalQuantity = plot::kEcPower;
                UpdateData(false);
            }
            MyUpdate(kPartButtons);
            break;
        case kNotifyMeasuringEnded:
            MyUpdate(kPartButtons);
            break;
        case kNotifyStatusLine:
            AddErrorMessage(m_pDevice->StatusText(), static_cast<int>(argument));
            break;
        default:
            break;
        }
    });
}

void CBrivaneMain::OnDocChanged(int hint, CDeviceDoc*)
{
    guarded("OnDocChanged", [&] {
        if (hint != 1)
            return;
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

        if (parts & kPartShutter) {
            if (d.m_iShutterState == kShutterNone && !m_bShutterHidden) {
                // A meter without a shutter: picture and button go for the whole run.
                m_bShutterHidden = true;
                m_shutterPicture->hide();
                m_shutterButton->hide();
            }
            m_shutterPicture->update();
            m_shutterButton->setText(qs(status::shutterButtonText(d.m_iShutterState)));
            m_shutterButton->setEnabled(status::shutterButtonEnabled(d.m_bCompact != 0, m_settings.m_bUseSps != 0));
        }
        if (parts & kPartButtons) {
            if (d.m_bMeasuringActive) {
                m_calibration->setEnabled(false);
                m_startStop->setText(qs(strings::text(4004)));
            }
            if (d.m_bEcProtocol) {
                m_startStop->setEnabled(false);
                m_calibration->setText(qs(strings::text(4004)));
            }
            if (!d.m_bMeasuringActive && !d.m_bEcProtocol) {
                m_startStop->setEnabled(true);
                m_calibration->setEnabled(true);
                m_startStop->setText(qs(strings::text(4003)));
                m_calibration->setText(qs(strings::text(61290)));
            }
        }
        if (parts & kPartValueArea)
            UpdateValueArea();
        if ((parts & kPartValueTexts) && newest && newest->valid)
            smallValueTexts(*newest);
        if (parts & kPartZero)
            m_zeroEdit->setText(qs(value::format("%1.0f", d.m_dZeroOffset)));
        if (parts & kPartModelControls) {
            const bool ec = d.m_bEC != 0;
            m_calibration->setVisible(ec);
            control(kIdEcPowerRadio)->setVisible(ec);
            m_ecPowerText->setVisible(ec);
        }
        if (parts & kPartCaption) {
            if (d.m_bCompact)
                setWindowTitle(QStringLiteral("BrivaneSoftware - CBV"));
            else if (d.m_bEC)
                setWindowTitle(QStringLiteral("BrivaneSoftware - EC-BV"));
            else
                setWindowTitle(QStringLiteral("BrivaneSoftware - BV"));
        }
        if ((parts & kPartStatus) && newest && status::takesPart(*newest))
            statusUpdate(*newest);
    });
}

void CBrivaneMain::smallValueTexts(const MeasurePoint& p)
{
    m_powerText->setText(qs(value::format("%5.0f W", p.power)).trimmed());
    m_flowText->setText(qs(value::format("%1.2f l/min", p.flow)));
    m_teText->setText(QString::fromUtf8(value::format("%1.3f\xC2\xB0", p.te).c_str()));
    m_tdText->setText(QString::fromUtf8(value::format("%1.3f\xC2\xB0", p.td).c_str()));
    m_ecPowerText->setText(p.ecValid ? qs(value::format("%5.0f W", p.ecPower)).trimmed() : QStringLiteral("0 W"));
}

void CBrivaneMain::statusUpdate(const MeasurePoint& newest)
{
    status::DeviceView view;
    view.shutterState = m_pDevice->m_iShutterState;
    view.compactModel = m_pDevice->m_bCompact != 0;
    view.calibrationRunning = m_pDevice->m_bEcProtocol != 0;
    view.unknownShutterConfirmed = m_pDevice->m_bUnknownShutterConfirmed != 0;
    view.flowMinimum = m_pDevice->m_dFlowMin;
    const status::Outcome outcome = status::evaluate(newest, view);
    m_bAlarmShown = outcome.alarmShown ? 1 : 0;
    if (outcome.alarmText)
        m_sAlarmText = *outcome.alarmText;
    AddErrorMessage(outcome.message, outcome.kind);
    m_iThermalizationShown = outcome.thermalizationShown;
    if (m_bAlarmShown || m_iThermalizationShown >= 0)
        UpdateValueArea();
}

void CBrivaneMain::AddErrorMessage(const std::string& text, int kind)
{
    guarded("AddErrorMessage", [&] { m_statusList->AddErrorMessage(text, kind); });
}

// ---------------------------------------------------------------------------
// Commands

void CBrivaneMain::OnStartstop()
{
    guarded("OnStartstop", [&] {
        m_bCalibrationLayout = 0;
        if (m_pDevice->m_bMeasuringActive) {
            m_pDevice->StartMeasuring(0, 0);
            BV_LOG_DEBUG(logger(), kTag, " Stop measurement");
        } else {
            m_pDevice->StartMeasuring(0, 1);
            BV_LOG_DEBUG(logger(), kTag, " Start measurement");
        }
        UpdateValueArea();
    });
}

void CBrivaneMain::OnCalibration()
{
    guarded("OnCalibration", [&] {
        m_bCalibrationLayout = 1;
        if (m_pDevice->m_bEcProtocol) {
            m_pDevice->StartMeasuring(1, 0);
        } else {
            m_prompt.show(strings::text(61302), PromptButtons::Ok, PromptIcon::Exclamation);
            m_iDisplayMode = value::kAverage;
            UpdateData(false);
            m_pDevice->StartMeasuring(1, 1);
        }
        UpdateValueArea();
    });
}

void CBrivaneMain::OnTestComm()
{
    guarded("OnTestComm", [&] {
        m_pDevice->StartIdentification();
        m_pDevice->StartMeasuring(2, 1);
    });
}

void CBrivaneMain::OnCommPort()
{
    guarded("OnCommPort", [&] {
        PortDialog dialog(m_core.serial(), m_ports, this);
        dialog.exec();
        m_pDevice->StartIdentification();
        m_pDevice->StartMeasuring(2, 1);
        MyUpdate(kPartButtons);
    });
}

void CBrivaneMain::OnLinkReset()
{
    guarded("OnLinkReset", [&] {
        m_core.serial().Close();
        m_pDevice->ClearAlive();
        if (m_pDevice->m_bMeasuringActive)
            OnStartstop();
        MyUpdate(kPartButtons);
    });
}

void CBrivaneMain::OnSettings()
{
    guarded("OnSettings", [&] {
        const int interval = m_settings.m_iInterval;
        DeviceSettingsDialog dialog(*m_pDevice, m_settings, this);
        dialog.exec();
        if (m_settings.m_iInterval != interval)
            m_pDoc->ClearAllPoints();
        OnSelchangeScalePeriodeCombo();
        UpdateTimeArea();
    });
}

void CBrivaneMain::OnSettingsOnly()
{
    guarded("OnSettingsOnly", [&] {
        DeviceSettingsDialog dialog(*m_pDevice, m_settings, this);
        dialog.exec();
    });
}

void CBrivaneMain::OnFileProtocol()
{
    guarded("OnFileProtocol", [&] {
        ProtocolDialog dialog(m_pDevice, m_prompt, this);
        dialog.exec();
    });
}

void CBrivaneMain::ToggleWindow()
{
    guarded("ToggleWindow", [&] {
        const bool visible = m_freeComm && m_freeComm->isVisible();
        BV_LOG_DEBUG(logger(), kTag, "ToggleWindow isVisible " << visible);
        if (!m_freeComm)
            return;
        m_freeComm->setVisible(!visible);
    });
}

void CBrivaneMain::OnAppAbout()
{
    guarded("OnAppAbout", [&] {
        AboutDialog dialog(this);
        dialog.exec();
    });
}

void CBrivaneMain::OnSelchangePeriodCombo()
{
    guarded("OnSelchangePeriodCombo", [&] {
        const QString text = m_averagingList->currentText();
        m_settings.m_iAveragePeriod =
            text == QLatin1String("Max") ? 1000000 : std::atoi(text.toLatin1().constData());
        UpdateValueArea();
    });
}

void CBrivaneMain::EnableStartButton(uint8_t enable)
{
    guarded("EnableStartButton", [&] { m_startStop->setEnabled(enable != 0); });
}

void CBrivaneMain::OnDisplayMode()
{
    guarded("OnDisplayMode", [&] {
        UpdateData(true);
        UpdateValueArea();
    });
}

void CBrivaneMain::OnShutterButton()
{
    guarded("OnShutterButton", [&] {
        BV_LOG_DEBUG(logger(), kTag, "OnShutterButton");
        switch (status::shutterAction(m_pDevice->m_iShutterState, m_pDoc->pGetLastMeasureValue())) {
        case status::ShutterAction::RefuseLaserOn:
            m_prompt.show(strings::text(29), PromptButtons::Ok, PromptIcon::None);
            MyUpdate(kPartShutter);
            break;
        case status::ShutterAction::Close:
            m_pDevice->CloseShutter();
            m_shutterButton->setEnabled(false);
            break;
        case status::ShutterAction::Open:
            m_pDevice->OpenShutter();
            m_shutterButton->setEnabled(false);
            break;
        case status::ShutterAction::None:
            break;
        }
    });
}

void CBrivaneMain::OnTakenull()
{
    guarded("OnTakenull", [&] {
        const MeasurePoint* newest = m_pDoc->pGetLastMeasureValue();
        // The point is already net of the old offset: adding it zeroes the reading.
        m_pDevice->m_dZeroOffset = newest ? m_pDevice->m_dZeroOffset + newest->power : 0.0;
        MyUpdate(kPartZero);
    });
}

void CBrivaneMain::OnZeroApply()
{
    guarded("OnZeroApply", [&] {
        const QByteArray text = m_zeroEdit->text().left(kZeroEditMax).toLatin1();
        char* end = nullptr;
        double offset = std::strtod(text.constData(), &end);
        // "nan" or "inf" would spoil every reading from now on.
        if (end == text.constData() || !std::isfinite(offset))
            offset = 0;
        m_pDevice->m_dZeroOffset = offset;
    });
}

// ---------------------------------------------------------------------------
// Value area

ValueAreaState CBrivaneMain::valueAreaState() const
{
    ValueAreaState s;
    const CBrivaneDoc& doc = *m_pDoc;
    const MeasurePoint* newest = doc.pGetLastMeasureValue();
    s.digital.hasPoints = newest != nullptr;
    if (newest) {
        MeasurePoint minimum, maximum;
        doc.getExtrema(minimum, maximum);
        s.digital.current = newest->power;
        s.digital.minimum = minimum.power;
        s.digital.maximum = maximum.power;
        s.ec.ecPower = newest->ecPower;
        s.ec.ecVoltage = newest->ecVoltage;
        s.ec.ecCurrent = newest->ecCurrent;
    }
    s.digital.average = doc.dGetAverage(0);
    s.digital.decimals = m_pDevice->m_bType34 ? 1 : 0;
    s.digital.mode = m_iDisplayMode;
    s.ec.average = s.digital.average;
    s.ec.ecAverage = doc.dGetAverage(4);
    s.ec.limit = m_settings.m_dDeviationLimit;
    s.calibrationLayout = m_bCalibrationLayout != 0;
    s.alarmShown = m_bAlarmShown != 0;
    s.alarmText = m_sAlarmText;
    s.thermalizationShown = m_iThermalizationShown;
    return s;
}

void CBrivaneMain::UpdateValueArea()
{
    BV_LOG_DEBUG(logger(), kTag, "UpdateValueArea()");
    m_valueArea->update();
}

// ---------------------------------------------------------------------------
// Time plots and scales

void CBrivaneMain::UpdateTimeArea()
{
    guarded("UpdateTimeArea", [&] {
        BV_LOG_DEBUG(logger(), kTag, "UpdateTimeArea");
        const int n = m_pDoc->GetCount();
        const double dt = m_settings.m_iInterval * 0.001;
        m_powerGraph->ClearGraph();
        m_additionalGraph->ClearGraph();
        for (int i = 0; i < n; ++i) {
            const MeasurePoint* p = m_pDoc->pGetMeaureValue(i);
            const double x = i * dt;
            m_powerGraph->PlotXY(x, p->power, 0);
            PlotAdditionalScale(p, x);
        }
        CalcXScale();
        OnPowerScaleChanged();
    });
}

void CBrivaneMain::PlotAdditionalScale(const MeasurePoint* point, double x)
{
    guarded("PlotAdditionalScale", [&] {
        BV_LOG_DEBUG(logger(), kTag, "PlotAdditionalScale ScaleMode " << m_iAdditionalQuantity << " Messpunkt "
                                                                      << point << " XValue " << x);
        if (m_iAdditionalQuantity == plot::kNone || !point)
            return;
        m_additionalGraph->PlotXY(x, plot::quantityValue(*point, m_iAdditionalQuantity), 0);
    });
}

void CBrivaneMain::CalcXScale()
{
    guarded("CalcXScale", [&] {
        const plot::AxisRange r =
            plot::timeAxis(m_pDoc->GetCount(), m_settings.m_iInterval * 0.001, m_pDoc->GetPeriod());
        m_dTimeMin = r.min;
        m_dTimeMax = r.max;
        BV_LOG_DEBUG(logger(), kTag, "CalcXScale min " << m_dTimeMin << " max " << m_dTimeMax);
    });
}

void CBrivaneMain::OnPowerScaleChanged()
{
    guarded("OnPowerScaleChanged", [&] {
        BV_LOG_DEBUG(logger(), kTag, "OnPowerScaleChanged");
        UpdateData(true);
        double phi = 0, plo = 0, amax = 0, amin = 0;
        if (m_pDoc->GetCount() > 0) {
            MeasurePoint minimum, maximum;
            m_pDoc->getExtrema(minimum, maximum);
            phi = maximum.power;
            plo = minimum.power;
            const int q = m_iAdditionalQuantity;
            if (q >= plot::kFlow && q <= plot::kEcPower) {
                const plot::QuantityStyle style = plot::quantityStyle(q);
                m_additionalGraph->SetYLabel(QString::fromUtf8(style.unit));
                m_additionalGraph->SetElementLineColor(style.colorBgr);
                amax = plot::quantityValue(maximum, q);
                amin = plot::quantityValue(minimum, q);
            } else {
                m_additionalGraph->SetYLabel(QString());
                m_additionalGraph->SetElementLineColor(0);
                amax = 1;
                amin = -1;
            }
            m_powerGraph->SetElementLineColor(plot::kPowerLineColor);
        }
        const plot::AxisRange power = plot::powerAxis(m_iPowerScale, phi, plo);
        m_dPowerMax = power.max;
        m_dPowerMin = power.min;
        additionalRange(amax, amin, m_iAdditionalQuantity);
        ChangePowerScale();
        ChangeAdditionalScale();
    });
}

void CBrivaneMain::additionalRange(double a, double b, int quantity)
{
    const plot::AxisRange r = plot::additionalAxis(a, b, quantity);
    m_dAdditionalMax = r.max;
    m_dAdditionalMin = r.min;
}

void CBrivaneMain::ChangePowerScale()
{
    BV_LOG_DEBUG(logger(), kTag, "ChangePowerScale " << m_dTimeMin << " " << m_dTimeMax << " " << m_dPowerMin << " "
                                                     << m_dPowerMax);
    try {
        m_powerGraph->SetRange(m_dTimeMin, m_dTimeMax, m_dPowerMin, m_dPowerMax);
    } catch (const std::exception& e) {
        BV_LOG_ERROR(logger(), kTag, "ChangePowerScale " << e.what() << " params " << m_dTimeMin << " " << m_dTimeMax
                                                         << " " << m_dPowerMin << " " << m_dPowerMax);
    } catch (...) {
        BV_LOG_ERROR(logger(), kTag, "ChangePowerScale unknown error " << m_dTimeMin << " " << m_dTimeMax << " "
                                                                       << m_dPowerMin << " " << m_dPowerMax);
    }
}

void CBrivaneMain::ChangeAdditionalScale()
{
    BV_LOG_DEBUG(logger(), kTag, "ChangeAdditionalScale " << m_dTimeMin << " " << m_dTimeMax << " "
                                                          << m_dAdditionalMin << " " << m_dAdditionalMax);
    try {
        m_additionalGraph->SetRange(m_dTimeMin, m_dTimeMax, m_dAdditionalMin, m_dAdditionalMax);
    } catch (const std::exception& e) {
        BV_LOG_ERROR(logger(), kTag, "ChangeAdditionalScale " << e.what() << " params " << m_dTimeMin << " "
                                                              << m_dTimeMax << " " << m_dAdditionalMin << " "
                                                              << m_dAdditionalMax);
    } catch (...) {
        BV_LOG_ERROR(logger(), kTag, "ChangeAdditionalScale unknown error " << m_dTimeMin << " " << m_dTimeMax << " "
                                                                            << m_dAdditionalMin << " "
                                                                            << m_dAdditionalMax);
    }
}

void CBrivaneMain::OnPowerRadio()
{
    guarded("OnPowerRadio", [&] {
        UpdateData(true);
        m_iAdditionalQuantity = plot::kNone;
        UpdateData(false);
        UpdateTimeArea();
    });
}

void CBrivaneMain::OnAdditionalQuantity()
{
    guarded("OnAdditionalQuantity", [&] {
        UpdateData(true);
        UpdateTimeArea();
    });
}

void CBrivaneMain::OnClear()
{
    guarded("OnClear", [&] {
        m_powerGraph->ClearGraph();
        m_additionalGraph->ClearGraph();
        m_pDoc->ClearAllPoints();
        UpdateTimeArea();
        UpdateValueArea();
    });
}

void CBrivaneMain::OnSelchangeScalePeriodeCombo()
{
    const int index = m_periodList->currentIndex();
    try {
        UpdateData(true);
        const int interval = m_settings.m_iInterval;
        BV_LOG_DEBUG(logger(), kTag, "OnSelchangeScalePeriodeCombo param " << index);
        const plot::Period period = plot::period(index);
        m_settings.m_iInterval = period.intervalMs;
        m_pDoc->SetPeriod(period.periodSeconds);
        if (m_settings.m_iInterval != interval) {
            m_pDoc->ClearAllPoints();
            m_pDevice->m_iCycleInterval = m_settings.m_iInterval;
        }
    } catch (const std::exception& e) {
        BV_LOG_ERROR(logger(), kTag, "OnSelchangeScalePeriodeCombo param " << index << " " << e.what());
    } catch (...) {
        BV_LOG_ERROR(logger(), kTag, "OnSelchangeScalePeriodeCombo param " << index << " unknown error");
    }
}

} // namespace bv
