#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QMenuBar>
#include <QDialog>
#include <QTimer>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <qcustomplot.h>
#include <cmath>
#include <random>
#include <stdexcept>

#include "data/CBrivaneDoc.h"
#include "data/MinMaxDecimator.h"
#include "res/StringTable.h"
#include "support/LogCapture.h"
#include "ui/CFreeComm.h"
#include "ui/CNTGraph.h"
#include "ui/ShutterPicture.h"
#include "ui/StatusList.h"
#include "ui/ValueArea.h"
#include "WindowFixture.h"

namespace bv {
namespace {

using test::WindowFixture;
using W = CBrivaneMain;


bool checked(const CBrivaneMain& w, int id)
{
    auto* r = qobject_cast<QRadioButton*>(w.control(id));
    return r && r->isChecked();
}

void choose(QComboBox* list, int index)
{
    list->setCurrentIndex(index);
    emit list->activated(index);
}

MeasurePoint point(double power, double flow = 5.0)
{
    MeasurePoint p;
    p.power = power;
    p.flow = flow;
    p.te = 21;
    p.td = 2;
    return p;
}

// ---------------------------------------------------------------------------
// Initialisation and caption

struct ModelCase {
    sim::MeterModel model;
    const char* caption;
    bool ecControls;
};

class WindowModelTest : public WindowFixture, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(WindowModelTest, InitialisationSelectsUsbIdentifiesAndTitlesByModel)
{
    sim::SimWorldConfig config;
    config.model = GetParam().model;
    start(config);
    // Until the meter has told its model the caption is the device's name.
    EXPECT_EQ(window->windowTitle(), "Brivane");
    EXPECT_EQ(text(W::kIdStartStop), "Start power measurement");
    run(4000);
    EXPECT_EQ(settings.m_iDataTransferMode, 2);
    EXPECT_EQ(core->links()->choice(), LinkSelection::kChoiceUsb);
    EXPECT_EQ(window->windowTitle(), GetParam().caption);
    EXPECT_EQ(shown(W::kIdCalibration), GetParam().ecControls);
    EXPECT_EQ(shown(W::kIdEcPowerRadio), GetParam().ecControls);
    EXPECT_EQ(shown(W::kIdEcPowerText), GetParam().ecControls);
    // The single reading after the identification reached the texts and the list.
    ASSERT_EQ(store().GetCount(), 1);
    EXPECT_TRUE(text(W::kIdFlowText).endsWith(" l/min"));
    EXPECT_NE(text(W::kIdFlowText), "0.00 l/min");
    // Each end of the identification repeats the newest point's status.
    ASSERT_GE(window->statusList()->lineCount(), 1);
    EXPECT_TRUE(prompt.texts().empty());
}

INSTANTIATE_TEST_SUITE_P(Models, WindowModelTest,
                         ::testing::Values(ModelCase{sim::MeterModel::EC, "BrivaneSoftware - EC-BV", true},
                                           ModelCase{sim::MeterModel::Plain, "BrivaneSoftware - BV", false},
                                           ModelCase{sim::MeterModel::Compact, "BrivaneSoftware - CBV", false}));

TEST_F(WindowFixture, FreeCommunicationWindowIsHiddenMonitorsTheBusAndToggles)
{
    start();
    auto* free = qobject_cast<CFreeComm*>(window->freeCommWindow());
    ASSERT_NE(free, nullptr);
    EXPECT_FALSE(free->isVisible());
    run(4000);
    // The meter's answers and the texts the PC sent to the USB device.
    EXPECT_GE(free->monitor()->count(), 4);
    window->ToggleWindow();
    EXPECT_TRUE(free->isVisible());
    window->ToggleWindow();
    EXPECT_FALSE(free->isVisible());
    // The window goes first; the link must not write into its monitor afterwards.
    window.reset();
    device().StartMeasuring(MeasuringMode::Single, 1);
    for (int i = 0; i < 30; ++i) {
        clock.advance(100);
        core->heartbeat();
    }
    EXPECT_EQ(core->device()->Store().GetCount(), 2);
}

TEST_F(WindowFixture, InitialisationSetsListsScalesAndTheNinetySecondPlot)
{
    writeIni("[Version]\nno=15\n[Setup]\nInterval=5000\n");
    start();
    EXPECT_EQ(window->periodList()->count(), 9);
    EXPECT_EQ(window->periodList()->currentText(), "90s : 1s");
    // Every run starts with the 90 s plot whatever the file held.
    EXPECT_EQ(settings.m_iInterval, 1000);
    EXPECT_EQ(device().m_iCycleInterval, 1000);
    EXPECT_EQ(store().GetPeriod(), 90);
    EXPECT_EQ(window->averagingList()->count(), 5);
    EXPECT_TRUE(checked(*window, W::kIdModeCurrent));
    EXPECT_TRUE(checked(*window, W::kIdScale500));
    EXPECT_TRUE(checked(*window, W::kIdPowerRadio));
    EXPECT_EQ(window->zeroEdit()->text(), "0");  // the offset in force
    EXPECT_EQ(window->powerGraph()->xLabel(), "");  // clock time needs no unit
    EXPECT_EQ(window->powerGraph()->yLabel(), "W");
    EXPECT_EQ(window->additionalGraph()->lineStyle(), 2);
    // Empty store: time axis one interval wide, power axis from the 500 W scale.
    EXPECT_NEAR(window->timeMax() - window->timeMin(), 1, 1e-6);
    EXPECT_DOUBLE_EQ(window->powerMin(), -450);
    EXPECT_DOUBLE_EQ(window->powerMax(), 50);
    EXPECT_NEAR(window->additionalMin(), -0.1, 1e-9);
    EXPECT_NEAR(window->additionalMax(), 0.1, 1e-9);
    EXPECT_TRUE(window->startStopButton()->isDefault());
}

// ---------------------------------------------------------------------------
// Start, stop and calibration

TEST_F(WindowFixture, StartStopRelabelsAtThePressAndAtTheEnd)
{
    start();
    run(4000);
    window->OnStartstop();
    // The press itself starts measuring: label and state at once, before the bus has run.
    EXPECT_EQ(device().m_bMeasuringActive, 1);
    EXPECT_EQ(text(W::kIdStartStop), "Stop");
    EXPECT_FALSE(enabled(W::kIdCalibration));
    run(5000);
    EXPECT_GE(store().GetCount(), 5);

    window->OnStartstop();
    EXPECT_EQ(text(W::kIdStartStop), "Stop");
    ASSERT_TRUE(runUntil([&] { return device().m_bMeasuringActive == 0; }, 3000));
    EXPECT_EQ(text(W::kIdStartStop), "Start power measurement");
    EXPECT_TRUE(enabled(W::kIdStartStop));
    EXPECT_TRUE(enabled(W::kIdCalibration));
    EXPECT_FALSE(window->calibrationLayout());
}

TEST_F(WindowFixture, CalibrationWarnsSetsAverageAndRunsModeOne)
{
    start();
    run(4000);
    world->meter().setLaserPower(0);
    window->OnCalibration();
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_EQ(prompt.texts()[0], "Shutdown LASER before electric calibration!");
    EXPECT_EQ(window->displayMode(), 3);
    EXPECT_TRUE(checked(*window, W::kIdModeAverage));
    EXPECT_TRUE(window->calibrationLayout());
    EXPECT_EQ(device().m_Measuring.m_mode, MeasuringMode::Calibration);
    run(300);
    EXPECT_EQ(device().m_bEcProtocol, 1);
    // The additional graph switches to the calibration power.
    EXPECT_EQ(window->additionalQuantity(), 3);
    EXPECT_TRUE(checked(*window, W::kIdEcPowerRadio));
    EXPECT_FALSE(enabled(W::kIdStartStop));
    EXPECT_EQ(text(W::kIdCalibration), "Stop");
    run(5000);
    EXPECT_GE(window->thermalizationShown(), 0);

    // A second press stops the calibration, without a box.
    window->OnCalibration();
    EXPECT_EQ(prompt.texts().size(), 1u);
    ASSERT_TRUE(runUntil([&] { return device().m_bEcProtocol == 0; }, 5000));
    EXPECT_EQ(text(W::kIdCalibration), "Start electronic calibration");
    EXPECT_TRUE(enabled(W::kIdStartStop));

    // A measuring start afterwards clears the EC power choice: no radio selected.
    window->OnStartstop();
    run(300);
    EXPECT_EQ(window->additionalQuantity(), -1);
    for (int id : {W::kIdFlowRadio, W::kIdTeRadio, W::kIdTdRadio, W::kIdEcPowerRadio})
        EXPECT_FALSE(checked(*window, id)) << id;
    EXPECT_FALSE(window->calibrationLayout());
}

// Ends the next modal dialog from inside its own event loop.
void closeNextModal(int* opened)
{
    QTimer::singleShot(0, [opened] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ++*opened;
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
        }
    });
}

TEST_F(WindowFixture, CommandsThroughDialogsAndTheLinkReset)
{
    start();
    run(4000);
    int opened = 0;
    closeNextModal(&opened);
    window->OnCommPort();
    EXPECT_EQ(opened, 1);
    // Identification and a single reading follow the port choice.
    EXPECT_TRUE(device().m_Identification.IsRunning());
    run(4000);
    EXPECT_EQ(window->windowTitle(), "BrivaneSoftware - EC-BV");

    const int points = store().GetCount();
    ASSERT_GT(points, 0);
    closeNextModal(&opened);
    window->OnSettings();
    EXPECT_EQ(opened, 2);
    // "Interval" unchanged: the points stay.
    EXPECT_EQ(store().GetCount(), points);

    closeNextModal(&opened);
    window->OnAppAbout();
    EXPECT_EQ(opened, 3);

    window->OnStartstop();
    run(2000);
    ASSERT_EQ(device().m_bMeasuringActive, 1);
    window->OnLinkReset();
    ASSERT_TRUE(runUntil([&] { return device().m_bMeasuringActive == 0; }, 3000));
    EXPECT_EQ(text(W::kIdStartStop), "Start power measurement");
}

TEST_F(WindowFixture, MenuHasTheCommandsAndQuitClosesTheWindow)
{
    start();
    QStringList titles;
    for (QAction* a : window->menuBar()->actions())
        titles << a->text();
    EXPECT_EQ(titles, QStringList({"&File", "&Measurement", "&Communication", "&Info"}));
    auto* settingsAction = window->findChild<QAction*>("settingsAction");
    ASSERT_NE(settingsAction, nullptr);
    EXPECT_EQ(settingsAction->property("controlId").toInt(), W::kCmdSettings);
    window->show();
    window->findChild<QAction*>("quitAction")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
}

// ---------------------------------------------------------------------------
// Heartbeat and notifications

TEST_F(WindowFixture, TimerTickPostsOneContinuationOutsideADispatch)
{
    start();
    const int before = window->heartbeatsRun();
    window->OnTimer();
    window->OnTimer();
    QCoreApplication::sendPostedEvents(window.get(), kTimerContinueEvent);
    EXPECT_EQ(window->heartbeatsRun(), before + 2);
    EXPECT_EQ(static_cast<int>(kTimerContinueEvent), QEvent::User + 100);
}

TEST_F(WindowFixture, BoxOpenInsideADispatchKeepsTheHeartbeatOut)
{
    start();
    run(4000);
    int boxes = 0;
    bool busyInBox = false;
    int beatsAtBox = -1;
    prompt.hook = [&](const std::string&) {
        ++boxes;
        busyInBox = core->scheduler()->IsDispatchBusy();
        beatsAtBox = window->heartbeatsRun();
        // What the box's event loop does meanwhile: timer ticks, and the
        // delivery of a continuation that was posted before the box opened.
        QCoreApplication::postEvent(window.get(), new QEvent(kTimerContinueEvent));
        window->OnTimer();
        window->OnTimer();
        QCoreApplication::sendPostedEvents(window.get(), kTimerContinueEvent);
        EXPECT_EQ(window->heartbeatsRun(), beatsAtBox);
    };
    world->meter().failShutterMoves(3);
    device().CloseShutter();
    ASSERT_TRUE(runUntil([&] { return boxes > 0; }, 60000));
    EXPECT_TRUE(busyInBox);
    // Nothing was left posted for later either.
    const int after = window->heartbeatsRun();
    QCoreApplication::sendPostedEvents(window.get(), kTimerContinueEvent);
    EXPECT_EQ(window->heartbeatsRun(), after);
    EXPECT_EQ(device().m_iShutterState, kShutterError);
}

TEST_F(WindowFixture, SingleReadingFinishedChangesNothing)
{
    start();
    run(4000);
    auto snapshot = [&] {
        QStringList s;
        for (int id : {W::kIdStartStop, W::kIdCalibration, W::kIdShutterButton, W::kIdPowerText, W::kIdFlowText,
                       W::kIdZeroEdit})
            s << text(id) << QString::number(enabled(id));
        s << window->windowTitle() << QString::number(window->statusList()->lineCount())
          << QString::number(window->additionalQuantity()) << QString::number(window->valueArea()->paintCount());
        return s;
    };
    const QStringList before = snapshot();
    window->OnDeviceChanged(kNotifySingleReading, 2);
    window->OnDeviceChanged(4711, 0);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(WindowFixture, ListenersComeAndGoWithTheWindow)
{
    start();
    auto has = [](const auto& list, const void* what) {
        for (auto* l : list)
            if (static_cast<const void*>(l) == what)
                return true;
        return false;
    };
    const void* asDevice = static_cast<IDeviceListener*>(window.get());
    EXPECT_TRUE(has(device().Listeners(), asDevice));
    window.reset();
    EXPECT_FALSE(has(device().Listeners(), asDevice));
    // A point after the window went must reach nobody who is gone (the sanitizer run sees it).
    MeasurePoint point;
    point.power = 1;
    store().AddMesswert(point, 0);
    // The link selection no longer calls into the window.
    EXPECT_FALSE(core->links()->enableStart);
}

TEST_F(WindowFixture, HandlerFailuresAreLoggedAndTheWindowGoesOn)
{
    start();
    {
        test::LogCapture log({"CBrivaneMain"});
        prompt.hook = [](const std::string&) { throw std::runtime_error("box failed"); };
        window->OnCalibration();
        EXPECT_TRUE(log.has("OnCalibration box failed", "ERROR"));
        prompt.hook = [](const std::string&) { throw 42; };
        window->OnCalibration();
        EXPECT_TRUE(log.has("OnCalibration unknown error", "ERROR"));
        prompt.hook = nullptr;
    }
    run(4000);
    EXPECT_EQ(window->windowTitle(), "BrivaneSoftware - EC-BV");
}

// ---------------------------------------------------------------------------
// Averaging list

struct AveragingCase {
    const char* file;
    const char* shown;
};

class WindowAveragingTest : public WindowFixture, public ::testing::WithParamInterface<AveragingCase> {};

TEST_P(WindowAveragingTest, SettingPicksTheItem)
{
    writeIni(std::string("[Version]\nno=15\n[Setup]\nAverage period=") + GetParam().file + "\n");
    start();
    EXPECT_EQ(window->averagingList()->currentText(), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Settings, WindowAveragingTest,
                         ::testing::Values(AveragingCase{"9999", "Max"}, AveragingCase{"25", "Max"},
                                           AveragingCase{"20", "20s"}, AveragingCase{"10", "10s"}));

TEST_F(WindowFixture, ChoosingAnAveragingTimeSetsTheSetting)
{
    start();
    choose(window->averagingList(), 4);
    EXPECT_EQ(settings.m_iAveragePeriod, 1000000);
    choose(window->averagingList(), 3);
    EXPECT_EQ(settings.m_iAveragePeriod, 50);
    // A measuring start keeps the operator's choice.
    run(4000);
    window->OnStartstop();
    EXPECT_EQ(settings.m_iAveragePeriod, 50);
    EXPECT_EQ(window->averagingList()->currentText(), "50s");
}

// ---------------------------------------------------------------------------
// Plots and scales

TEST_F(WindowFixture, PlotsFollowTheStoreAndThePeriod)
{
    start();
    window->OnClear();
    constexpr int64_t kT0 = 1'780'000'000'000;
    for (int i = 0; i < 20; ++i) {
        MeasurePoint p = point(100 + i, 3.96 + 0.004 * i);
        p.timeMs = kT0 + 1000 * i;
        store().AddMesswert(p, 0);
    }
    EXPECT_EQ(window->powerGraph()->pointCount(), 20);
    EXPECT_EQ(window->additionalGraph()->pointCount(), 20);
    EXPECT_DOUBLE_EQ(window->timeMin(), kT0 / 1000.0);
    EXPECT_DOUBLE_EQ(window->timeMax(), kT0 / 1000.0 + 19);
    EXPECT_DOUBLE_EQ(window->powerGraph()->xMax(), kT0 / 1000.0 + 19);
    // Flow from 3.96 to 4.036: 3.9 to 4.1; 500 W scale hangs from the peak.
    EXPECT_NEAR(window->additionalMin(), 3.9, 1e-9);
    EXPECT_NEAR(window->additionalMax(), 4.1, 1e-9);
    EXPECT_EQ(window->additionalGraph()->yLabel(), "l/min");
    EXPECT_EQ(window->additionalGraph()->lineColor(), 0xFF3232u);
    EXPECT_DOUBLE_EQ(window->powerMax(), 169);
    EXPECT_DOUBLE_EQ(window->powerMin(), -331);

    // "10min : 2s": a new interval discards the points and paces the device.
    choose(window->periodList(), 1);
    EXPECT_EQ(settings.m_iInterval, 2000);
    EXPECT_EQ(device().m_iCycleInterval, 2000);
    EXPECT_EQ(store().GetPeriod(), 600);
    EXPECT_EQ(store().GetCount(), 0);
    EXPECT_EQ(window->powerGraph()->pointCount(), 0);

    for (int i = 0; i < 5; ++i) {
        MeasurePoint p = point(50);
        p.timeMs = kT0 + 2000 * i;
        store().AddMesswert(p, 0);
    }
    EXPECT_DOUBLE_EQ(window->timeMax() - window->timeMin(), 8);  // 2 s apart
    // "30min : 2s": same interval, the points stay.
    choose(window->periodList(), 2);
    EXPECT_EQ(store().GetCount(), 5);
    EXPECT_EQ(store().GetPeriod(), 1800);
    EXPECT_EQ(window->powerGraph()->pointCount(), 5);
}

// More points than pixels: the window keeps min/max columns up as points
// come and the full store drops the oldest; what it draws is what columns
// built afresh from the store give, and the one spike is in it.
TEST_F(WindowFixture, LongHistoryIsDrawnAsColumnsThatFollowTheStore)
{
    start();
    choose(window->periodList(), 6);  // "24h : 1s"
    store().SetMaxCount(6000);
    std::mt19937 rng(5);
    std::normal_distribution<double> step(0, 2);
    double v = 1500;
    constexpr int64_t kT0 = 1'780'000'000'000;
    for (int i = 0; i < 20000; ++i) {
        v += step(rng);
        MeasurePoint p = point(i == 17000 ? 5000 : v, 4.5 + 0.001 * step(rng));
        p.timeMs = kT0 + 1000 * i + (i >= 18000 ? 600'000 : 0);  // ten minutes without readings
        store().AddMesswert(p, 0);
    }
    ASSERT_EQ(store().GetCount(), 6000);
    const int64_t width = window->plotColumnWidth();
    ASSERT_GT(width, 1);
    MinMaxDecimator fresh(width, 2500);
    for (int i = 0; i < store().GetCount(); ++i) {
        const MeasurePoint& p = *store().pGetMeaureValue(i);
        fresh.append(store().FirstSeq() + i, p.timeMs, p.power);
    }
    const auto expected = fresh.polyline();
    const QCPGraphDataContainer& drawn = *window->powerGraph()->plot()->graph(0)->data();
    ASSERT_EQ(drawn.size(), static_cast<int>(expected.size()));
    double top = 0;
    auto it = drawn.constBegin();
    int gaps = 0;
    for (size_t i = 0; i < expected.size(); ++i, ++it) {
        EXPECT_DOUBLE_EQ(it->key, static_cast<double>(expected[i].timeMs) / 1000);
        if (std::isnan(expected[i].value)) {
            EXPECT_TRUE(std::isnan(it->value));
            ++gaps;
            continue;
        }
        EXPECT_EQ(it->value, expected[i].value);
        top = std::max(top, it->value);
    }
    EXPECT_EQ(top, 5000);
    EXPECT_EQ(gaps, 1);
    EXPECT_DOUBLE_EQ(window->timeMax() - window->timeMin(), 5999 + 600);
}

TEST_F(WindowFixture, ScaleAndQuantityButtons)
{
    start();
    window->OnClear();
    MeasurePoint p = point(123.4);
    p.te = 21.3;
    store().AddMesswert(p, 0);
    qobject_cast<QRadioButton*>(window->control(W::kIdScale200))->click();
    EXPECT_EQ(window->powerScale(), 1);
    EXPECT_DOUBLE_EQ(window->powerMin(), -57);
    EXPECT_DOUBLE_EQ(window->powerMax(), 143);

    qobject_cast<QRadioButton*>(window->control(W::kIdTeRadio))->click();
    EXPECT_EQ(window->additionalQuantity(), 1);
    EXPECT_DOUBLE_EQ(window->additionalMin(), 20);
    EXPECT_DOUBLE_EQ(window->additionalMax(), 22);
    EXPECT_EQ(window->additionalGraph()->pointCount(), 1);

    // "Power" leaves the additional graph empty and no quantity selected.
    qobject_cast<QRadioButton*>(window->control(W::kIdPowerRadio))->click();
    EXPECT_EQ(window->additionalQuantity(), -1);
    EXPECT_FALSE(checked(*window, W::kIdTeRadio));
    EXPECT_TRUE(checked(*window, W::kIdPowerRadio));
    EXPECT_EQ(window->additionalGraph()->pointCount(), 0);
    EXPECT_EQ(window->additionalGraph()->yLabel(), "");
    EXPECT_DOUBLE_EQ(window->additionalMin(), -1);
    EXPECT_DOUBLE_EQ(window->additionalMax(), 1);

    qobject_cast<QPushButton*>(window->control(W::kIdClear))->click();
    EXPECT_EQ(store().GetCount(), 0);
    EXPECT_EQ(window->powerGraph()->pointCount(), 0);
}

// ---------------------------------------------------------------------------
// Alarm and status list

TEST_F(WindowFixture, FlowFailureRaisesTheAlarmUntilTheWaterIsBack)
{
    start();
    window->show();
    run(4000);
    window->OnStartstop();
    run(25000);
    StatusList& list = *window->statusList();
    EXPECT_EQ(list.lineText(list.lineCount() - 1), "O.K.");
    EXPECT_FALSE(window->alarmShown());
    const QImage calm = window->valueArea()->render(QSize(700, 300)).toImage();

    world->meter().failFlow(0);
    run(2000);
    EXPECT_EQ(list.lineText(list.lineCount() - 1), "Error: NO FLOW RATE, SHUT DOWN LASER IMMEDIATELY!!!");
    EXPECT_EQ(list.lineKind(list.lineCount() - 1), 0);
    EXPECT_TRUE(window->alarmShown());
    EXPECT_NE(window->valueAreaState().alarmText.find("!!!NO water!!!"), std::string::npos);
    // The banner took its room from the list: the alarm's line is still in view.
    QCoreApplication::processEvents();
    EXPECT_EQ(list.verticalScrollBar()->value(), list.verticalScrollBar()->maximum());
    const QImage alarm = window->valueArea()->render(QSize(700, 300)).toImage();
    auto red = [](const QImage& img) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                n += c.red() > 200 && c.green() < 60 && c.blue() < 60;
            }
        return n;
    };
    EXPECT_EQ(red(calm), 0);
    EXPECT_GT(red(alarm), 2000);

    world->meter().restoreFlow();
    run(2000);
    EXPECT_FALSE(window->alarmShown());
    EXPECT_EQ(list.lineText(list.lineCount() - 1), "O.K.");
    // Every point adds a line; the list keeps the last 21.
    run(30000);
    EXPECT_EQ(list.lineCount(), 21);
}

// ---------------------------------------------------------------------------
// Shutter and zero

TEST_F(WindowFixture, SilentMeterGreysTheValueUntilReadingsResume)
{
    start();
    run(4000);
    window->OnStartstop();
    run(5000);
    StatusList& list = *window->statusList();
    auto last = [&] { return list.lineText(list.lineCount() - 1).toStdString(); };
    ASSERT_EQ(last(), "O.K.");
    auto greyPixels = [&] {
        const QImage img = window->valueArea()->render(QSize(700, 300)).toImage();
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                n += img.pixelColor(x, y) == QColor(0x99, 0x99, 0x99);
        return n;
    };
    const int live = greyPixels();  // edges of black text may hit the grey

    world->meter().silenceUntilCleared();
    ASSERT_TRUE(runUntil([&] { return window->ReadingsStale(); }, 10000));
    EXPECT_EQ(last().rfind("No reading from the meter since ", 0), 0u) << last();
    EXPECT_EQ(list.lineKind(list.lineCount() - 1), status::kError);
    const ValueAreaState stale = window->valueAreaState();
    EXPECT_EQ(value::digitalTexts(stale.digital).bigValue, "---");
    const int greyed = greyPixels();
    EXPECT_GT(greyed, live + 1000) << live;
    EXPECT_EQ(text(CBrivaneMain::kIdFlowText), "--- l/min");
    EXPECT_EQ(window->shutterPicture()->shownPicture(), ShutterPicture::kUnknown);
    // Nothing passes for "O.K." while the meter is silent.
    const int lines = list.lineCount();
    run(5000);
    EXPECT_EQ(list.lineCount(), lines);

    world->meter().clearSilence();
    ASSERT_TRUE(runUntil([&] { return !window->ReadingsStale(); }, 5000));
    ASSERT_GE(list.lineCount(), lines + 2);
    EXPECT_EQ(list.lineText(lines).toStdString(), "Readings resumed");
    EXPECT_EQ(list.lineText(lines + 1).toStdString(), "O.K.");
    EXPECT_NE(value::digitalTexts(window->valueAreaState().digital).bigValue, "---");
    EXPECT_NE(text(CBrivaneMain::kIdFlowText), "--- l/min");
    EXPECT_EQ(window->shutterPicture()->shownPicture(), ShutterPicture::kOpen);
    EXPECT_LT(greyPixels(), greyed / 2) << live << " " << greyed;
}

TEST_F(WindowFixture, ShutterButtonRefusesAboveFiftyWattsAndClosesAtFifty)
{
    start();
    run(4000);
    ASSERT_EQ(device().m_iShutterState, kShutterOpen);
    EXPECT_EQ(text(W::kIdShutterButton), "Close shutter");
    store().AddMesswert(point(50.5), 0);
    window->OnShutterButton();
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_EQ(prompt.texts()[0], strings::text(29));
    EXPECT_FALSE(device().m_ShutterProgram.IsRunning());
    EXPECT_TRUE(enabled(W::kIdShutterButton));

    store().AddMesswert(point(50.0), 0);
    window->OnShutterButton();
    EXPECT_EQ(prompt.texts().size(), 1u);
    EXPECT_TRUE(device().m_ShutterProgram.IsRunning());
    EXPECT_FALSE(enabled(W::kIdShutterButton));
    ASSERT_TRUE(runUntil([&] { return !device().m_ShutterProgram.IsRunning(); }, 15000));
    EXPECT_EQ(device().m_iShutterState, kShutterClosed);
    EXPECT_EQ(text(W::kIdShutterButton), "Open shutter");
    EXPECT_TRUE(enabled(W::kIdShutterButton));
}

TEST_F(WindowFixture, MeterWithoutShutterHidesPictureAndButton)
{
    start();
    run(4000);
    EXPECT_TRUE(shown(W::kIdShutterPicture));
    device().m_iShutterState = kShutterNone;
    window->MyUpdate(W::kPartShutter);
    EXPECT_FALSE(shown(W::kIdShutterPicture));
    EXPECT_FALSE(shown(W::kIdShutterButton));
    // They stay hidden for the run.
    device().m_iShutterState = kShutterOpen;
    window->MyUpdate(W::kPartAll);
    EXPECT_FALSE(shown(W::kIdShutterButton));
}

TEST_F(WindowFixture, ZeroOffsetFromTheReadingAndFromTheEdit)
{
    start();
    window->OnTakenull();
    EXPECT_EQ(device().m_dZeroOffset, 0);
    store().AddMesswert(point(12.6), 0);
    device().m_dZeroOffset = 1;
    window->OnTakenull();
    EXPECT_DOUBLE_EQ(device().m_dZeroOffset, 13.6);
    EXPECT_EQ(window->zeroEdit()->text(), "13.6");  // the offset in force, not rounded to 14

    // Whatever is refused leaves the offset and shows it again.
    struct {
        const char* text;
        double offset;
    } cases[] = {{"  -3.5", -3.5}, {"12.5 W", 12.5}, {"abc", 99}, {"", 99}, {"nan", 99},
                 {"inf", 99},      {"1.500,5", 99}, {"1e3", 99}};
    for (const auto& c : cases) {
        device().m_dZeroOffset = 99;
        window->zeroEdit()->setText(c.text);
        window->OnZeroApply();
        EXPECT_DOUBLE_EQ(device().m_dZeroOffset, c.offset) << c.text;
        EXPECT_EQ(window->zeroEdit()->text(), QString::number(c.offset)) << c.text;
    }
}

} // namespace
} // namespace bv
