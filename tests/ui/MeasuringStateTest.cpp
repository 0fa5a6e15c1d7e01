#include <QImage>
#include <QLabel>

#include "res/StringTable.h"
#include "ui/StatusList.h"
#include "ui/ValueArea.h"
#include "WindowFixture.h"

namespace bv {
namespace {

using test::WindowFixture;
using W = CBrivaneMain;

const QString kStart = "Start power measurement";

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

std::string lastLine(const CBrivaneMain& w)
{
    const StatusList& list = *w.statusList();
    return list.lineCount() ? list.lineText(list.lineCount() - 1).toStdString() : std::string();
}

// Black digits: the title and headers alone stay far below it.
int darkPixels(const CBrivaneMain& w)
{
    const QImage img = w.valueArea()->render(QSize(700, 300)).toImage();
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            n += c.red() < 60 && c.green() < 60 && c.blue() < 60;
        }
    return n;
}

std::string stoppedPrefix()
{
    const std::string t = strings::text(61340);
    return t.substr(0, t.find("%s"));
}

// ---------------------------------------------------------------------------
// Start at any moment of the start-up: the label, the device's state and the
// watchdog agree from the press on, and a silent meter is reported.

struct PressMoment {
    const char* name;
    uint32_t afterStartUpMs;  // after the window's start
    bool testComm;            // a later identification and single reading first
    bool waitForSingleReadingAlone;
};

class StartAtAnyMoment : public WindowFixture, public ::testing::WithParamInterface<PressMoment> {};

TEST_P(StartAtAnyMoment, LabelStateAndWatchdogStayInStep)
{
    const PressMoment& m = GetParam();
    start();
    run(m.afterStartUpMs);
    if (m.testComm) {
        run(4000);
        window->OnTestComm();
        ASSERT_TRUE(device().m_Identification.IsRunning());
        if (m.waitForSingleReadingAlone) {
            ASSERT_TRUE(runUntil([&] { return !device().m_Identification.IsRunning(); }, 3000));
        }
        ASSERT_TRUE(device().m_Measuring.IsRunning());
        ASSERT_EQ(device().m_Measuring.m_mode, MeasuringMode::Single);
    }
    window->OnStartstop();
    EXPECT_EQ(text(W::kIdStartStop), "Stop");
    EXPECT_TRUE(device().MeasuringActive());
    EXPECT_TRUE(core->watchdog()->watching());
    EXPECT_TRUE(window->valueAreaState().live);

    run(4000);
    ASSERT_TRUE(device().MeasuringActive());
    const int points = store().GetCount();
    run(3000);
    EXPECT_GE(store().GetCount(), points + 2);  // continuous, not one reading
    EXPECT_EQ(lastLine(*window), "O.K.");

    world->meter().silenceUntilCleared();
    ASSERT_TRUE(runUntil([&] { return window->ReadingsStale(); }, 10000));
    EXPECT_TRUE(startsWith(lastLine(*window), "No reading from the meter since ")) << lastLine(*window);
    EXPECT_EQ(text(W::kIdStartStop), "Stop");
    EXPECT_TRUE(device().MeasuringActive());

    // The second press stops it.
    window->OnStartstop();
    ASSERT_TRUE(runUntil([&] { return !device().m_Measuring.IsRunning(); }, 3000));
    EXPECT_EQ(text(W::kIdStartStop), kStart);
    EXPECT_FALSE(device().MeasuringActive());
    EXPECT_FALSE(core->watchdog()->watching());
}

INSTANTIATE_TEST_SUITE_P(Moments, StartAtAnyMoment,
                         ::testing::Values(PressMoment{"AtOnce", 0, false, false},
                                           PressMoment{"HalfASecond", 500, false, false},
                                           PressMoment{"OneAndAHalfSeconds", 1500, false, false},
                                           PressMoment{"DuringIdentification", 0, true, false},
                                           PressMoment{"DuringSingleReading", 0, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Not measuring never looks like measuring.

TEST_F(WindowFixture, IdleAndStoppedReadingsAreGreyedWithTheirTime)
{
    start();
    run(4000);
    // The start-up reading is not a measurement.
    ASSERT_EQ(store().GetCount(), 1);
    ValueAreaState idle = window->valueAreaState();
    EXPECT_FALSE(idle.live);
    EXPECT_TRUE(startsWith(idle.notice, stoppedPrefix())) << idle.notice;
    EXPECT_NE(value::digitalTexts(idle.digital).bigValue, "---");
    const int idleDark = darkPixels(*window);

    window->OnStartstop();
    run(6000);
    ASSERT_TRUE(window->valueAreaState().live);
    EXPECT_TRUE(window->valueAreaState().notice.empty());
    const int liveDark = darkPixels(*window);
    EXPECT_GT(liveDark, idleDark + 1000) << idleDark;

    // Stopped while stale: the old value comes back greyed, never black.
    world->meter().silenceUntilCleared();
    ASSERT_TRUE(runUntil([&] { return window->ReadingsStale(); }, 10000));
    window->OnStartstop();
    ASSERT_TRUE(runUntil([&] { return !device().m_Measuring.IsRunning(); }, 3000));
    run(2000);
    const ValueAreaState stopped = window->valueAreaState();
    EXPECT_FALSE(stopped.live);
    EXPECT_FALSE(stopped.digital.stale);
    EXPECT_TRUE(startsWith(stopped.notice, stoppedPrefix())) << stopped.notice;
    EXPECT_LT(darkPixels(*window), liveDark / 2);
    EXPECT_EQ(window->control(W::kIdFlowText)->palette().color(QPalette::WindowText), QColor(0x99, 0x99, 0x99));
}

// ---------------------------------------------------------------------------
// No meter: said plainly, "---" for what was never measured, no model, and
// a Start that tells why it cannot start.

struct NoMeterCase {
    const char* name;
    bool links;  // an adapter and a port that open, with a meter that never answers
};

class NoMeter : public WindowFixture, public ::testing::WithParamInterface<NoMeterCase> {};

TEST_P(NoMeter, IsShownAndStartSaysWhy)
{
    sim::SimWorldConfig config;
    config.serialPort = config.usbAdapter = GetParam().links;
    start(config);
    world->meter().silenceUntilCleared();
    run(6000);
    ASSERT_EQ(device().Presence(), MeterPresence::NotFound);
    const StatusList& list = *window->statusList();
    ASSERT_EQ(list.lineCount(), 1);
    EXPECT_EQ(list.lineText(0).toStdString(), "No meter found");
    EXPECT_EQ(list.lineKind(0), status::kError);
    const ValueAreaState s = window->valueAreaState();
    EXPECT_EQ(s.notice, "No meter found");
    EXPECT_EQ(s.noticeColour, value::kRed);
    const value::DigitalTexts t = value::digitalTexts(s.digital);
    EXPECT_EQ(t.bigValue, "---");
    for (const std::string& v : t.values)
        EXPECT_EQ(v, "--- W");
    EXPECT_EQ(text(W::kIdPowerText), "--- W");
    EXPECT_EQ(text(W::kIdFlowText), "--- l/min");
    EXPECT_EQ(text(W::kIdTeText), QString::fromUtf8("---\xC2\xB0"));
    EXPECT_EQ(text(W::kIdTdText), QString::fromUtf8("---\xC2\xB0"));
    EXPECT_EQ(window->windowTitle(), "Brivane");
    EXPECT_FALSE(enabled(W::kIdShutterButton));

    window->OnStartstop();
    ASSERT_EQ(prompt.texts().size(), 1u);
    EXPECT_EQ(prompt.texts()[0], strings::text(61343));
    EXPECT_FALSE(device().Measuring());
    EXPECT_EQ(text(W::kIdStartStop), kStart);
    run(3000);
    EXPECT_EQ(list.lineCount(), 1);  // said once

    // The meter answers after all: found, named, and measuring starts.
    if (GetParam().links) {
        world->meter().clearSilence();
        window->OnTestComm();
        ASSERT_TRUE(runUntil([&] { return device().Presence() == MeterPresence::Found; }, 5000));
        EXPECT_EQ(window->windowTitle(), "BrivaneSoftware - EC-BV");
        EXPECT_TRUE(enabled(W::kIdShutterButton));
        window->OnStartstop();
        EXPECT_TRUE(device().MeasuringActive());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, NoMeter,
                         ::testing::Values(NoMeterCase{"NoLinkAtAll", false}, NoMeterCase{"SilentMeter", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The first point of a Compact meter comes before its identification: it is
// judged against the Compact's own limits, not the defaults.

TEST_F(WindowFixture, CompactStartRaisesNoFalseAlarm)
{
    sim::SimWorldConfig config;
    config.model = sim::MeterModel::Compact;
    start(config);
    world->meter().setFlow(2.5);  // above the Compact's 1.5, below the default 4.0
    bool pointBeforeIdentification = false, alarmSeen = false;
    for (int t = 0; t < 40; ++t) {
        run(100);
        pointBeforeIdentification |= store().GetCount() > 0 && device().Presence() == MeterPresence::Searching;
        alarmSeen |= window->alarmShown();
    }
    ASSERT_EQ(device().Presence(), MeterPresence::Found);
    EXPECT_DOUBLE_EQ(device().m_dFlowMin, 1.5);
    EXPECT_TRUE(pointBeforeIdentification);
    EXPECT_FALSE(alarmSeen);
    const StatusList& list = *window->statusList();
    ASSERT_GE(list.lineCount(), 1);
    for (int i = 0; i < list.lineCount(); ++i)
        EXPECT_NE(list.lineKind(i), status::kError) << list.lineText(i).toStdString();
    EXPECT_EQ(lastLine(*window), "O.K.");
}

} // namespace
} // namespace bv
