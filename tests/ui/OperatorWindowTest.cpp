// The operator window as used: the averaging the list names, the zero field
// in either language, leaving while measuring, a small screen, the pinned
// alarms and their log, and the German module's texts.
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>

#include "data/CBrivaneDoc.h"
#include "res/StringTable.h"
#include "ui/ExportCommands.h"
#include "ui/LanguageModule.h"
#include "ui/QtPrompt.h"
#include "ui/StatusList.h"
#include "ui/StatusPanel.h"
#include "ui/ValueLayout.h"
#include "WindowFixture.h"

namespace bv::test {
namespace {

using W = CBrivaneMain;

void choose(QComboBox* list, int index)
{
    list->setCurrentIndex(index);
    emit list->activated(index);
}

bool anyLineContains(const StatusList& list, const QString& part)
{
    for (int i = 0; i < list.lineCount(); ++i)
        if (list.lineText(i).contains(part))
            return true;
    return false;
}

// The window with the German language module loaded.
class GermanWindow : public WindowFixture {
protected:
    void SetUp() override
    {
        const std::string module = std::string(BRIVANE_BINARY_DIR) + "/ui";
        if (!std::filesystem::exists(module + "/libBVSGerman.so"))
            GTEST_SKIP() << "the German module is not built here";
        ASSERT_TRUE(language.load(QString::fromStdString(module)));
    }
    void TearDown() override
    {
        window.reset();
        core.reset();
        language.unload();
    }
    LanguageModule language;
};

TEST_F(WindowFixture, AveragingListAndWindowAgreeAndCountTheirPoints)
{
    start();
    settings.m_iThermalizationTime = 3;
    run(4000);
    choose(window->averagingList(), 0);  // 10s
    window->OnStartstop();
    const int64_t firstOfRun = store().FirstSeq() + store().GetCount();
    auto sinceStart = [&] { return store().FirstSeq() + store().GetCount() - firstOfRun; };
    ASSERT_TRUE(runUntil([&] { return sinceStart() == 1; }, 5000));
    value::DigitalTexts t = value::digitalTexts(window->valueAreaState().digital);
    EXPECT_EQ(t.values[3].substr(t.values[3].size() - 5), "  n=1");
    EXPECT_EQ(t.values[4], "--- W");  // one point makes no deviation

    run(15000);
    t = value::digitalTexts(window->valueAreaState().digital);
    EXPECT_EQ(t.header[3], "Average 10 s");
    EXPECT_EQ(window->valueAreaState().digital.averageCount, 10);
    EXPECT_EQ(settings.m_iAveragePeriod, 10);
    window->OnStartstop();
    ASSERT_TRUE(runUntil([&] { return device().m_bMeasuringActive == 0; }, 5000));

    // A calibration averages over its own 10 s and says so; the list waits.
    choose(window->averagingList(), 3);  // 50s
    window->OnCalibration();
    ASSERT_TRUE(runUntil([&] { return device().m_bEcProtocol == 1; }, 5000));
    EXPECT_FALSE(window->averagingList()->isEnabled());
    EXPECT_EQ(window->averagingList()->currentText(), "10s calibration");
    EXPECT_EQ(value::digitalTexts(window->valueAreaState().digital).header[3], "Average 10 s");
    ASSERT_TRUE(runUntil([&] { return device().m_bEcProtocol == 0; }, 40000));
    EXPECT_TRUE(window->averagingList()->isEnabled());
    EXPECT_EQ(window->averagingList()->currentText(), "50s");
    EXPECT_EQ(window->averagingList()->count(), 5);

    // The next measurement averages its own points only, over the list's 50 s.
    window->OnStartstop();
    const int64_t next = store().FirstSeq() + store().GetCount();
    ASSERT_TRUE(runUntil([&] { return store().FirstSeq() + store().GetCount() - next == 3; }, 8000));
    const ValueAreaState s = window->valueAreaState();
    EXPECT_EQ(s.digital.averageCount, 3);
    double sum = 0;
    for (int i = store().GetCount() - 3; i < store().GetCount(); ++i)
        sum += store().pGetMeaureValue(i)->power;
    EXPECT_DOUBLE_EQ(s.digital.average, sum / 3);
    EXPECT_EQ(value::digitalTexts(s.digital).header[3], "Average 50 s");
}

TEST_F(GermanWindow, ZeroFieldTakesTheCommaAndEnterAppliesIt)
{
    start();
    window->show();
    run(4000);
    window->OnStartstop();
    ASSERT_TRUE(runUntil([&] { return device().m_bMeasuringActive == 1; }, 5000));
    QLineEdit* zero = window->zeroEdit();
    zero->setFocus();

    zero->setText("1,5");
    QTest::keyClick(zero, Qt::Key_Return);
    EXPECT_DOUBLE_EQ(device().m_dZeroOffset, 1.5);
    EXPECT_EQ(zero->text(), "1,5");
    run(2000);
    EXPECT_EQ(device().m_bMeasuringActive, 1);  // Enter did not stop the measurement

    zero->setText("2.25 W");  // the point is taken too
    QTest::keyClick(zero, Qt::Key_Enter);
    EXPECT_DOUBLE_EQ(device().m_dZeroOffset, 2.25);
    EXPECT_EQ(zero->text(), "2,25");

    zero->setText("abc");
    window->OnZeroApply();
    EXPECT_DOUBLE_EQ(device().m_dZeroOffset, 2.25);
    EXPECT_EQ(zero->text(), "2,25");
    const StatusList& list = *window->statusList();
    EXPECT_TRUE(list.lineText(list.lineCount() - 1).contains("\"abc\""));
    EXPECT_TRUE(list.lineText(list.lineCount() - 1).contains("2,25 W"));

    window->OnTakenull();
    const double taken = device().m_dZeroOffset;
    EXPECT_NE(taken, 2.25);
    EXPECT_EQ(zero->text(), QString::number(taken, 'f', 3).remove(QRegularExpression("0+$")).replace('.', ','));
}

TEST_F(WindowFixture, LeavingWhileMeasuringAsksFirst)
{
    start();
    window->show();
    run(4000);
    // Nothing runs: no question.
    const size_t boxes = prompt.texts().size();
    QAction* startStop = window->findChild<QAction*>("startStopAction");
    EXPECT_EQ(startStop->shortcut(), QKeySequence(Qt::Key_F5));
    startStop->trigger();
    ASSERT_TRUE(runUntil([&] { return device().m_bMeasuringActive == 1; }, 5000));

    for (auto leave : {+[](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }, +[](QWidget* w) { w->close(); }}) {
        prompt.script(PromptResult::Cancel);
        leave(window.get());
        ASSERT_EQ(prompt.texts().size(), boxes + 1);
        EXPECT_EQ(prompt.texts().back(), strings::text(strings::kExitWhileMeasuring));
        prompt.shown.pop_back();
        EXPECT_TRUE(window->isVisible());
        run(2000);
        EXPECT_EQ(device().m_bMeasuringActive, 1);
    }
    prompt.script(PromptResult::Ok);
    window->findChild<QAction*>("quitAction")->trigger();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(GermanWindow, FitsAndIsUsableOnA1024x600Screen)
{
    start();
    window->show();
    run(4000);
    // A usual frame: 4 px borders, a 30 px title bar.
    const QSize least = window->minimumSizeHint().expandedTo(window->minimumSize());
    EXPECT_LE(least.width() + 8, 1024) << least.width();
    EXPECT_LE(least.height() + 34, 600) << least.height();

    window->resize(1024 - 8, 600 - 34);
    QApplication::processEvents();
    auto* scroller = window->findChild<QScrollArea*>("controlScroller");
    ASSERT_NE(scroller, nullptr);
    const QRect inside = window->rect();
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window.get()) ||
            !(qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w)))
            continue;
        SCOPED_TRACE(w->objectName().toStdString());
        // Reachable: in view, or scrolled into view.
        if (scroller->widget()->isAncestorOf(w)) {
            scroller->ensureWidgetVisible(w, 0, 0);
            QApplication::processEvents();
            const QRect shown(w->mapTo(scroller->viewport(), QPoint(0, 0)), w->size());
            EXPECT_TRUE(scroller->viewport()->rect().contains(shown));
        } else {
            EXPECT_TRUE(inside.contains(QRect(w->mapTo(window.get(), QPoint(0, 0)), w->size())));
        }
        // Readable: not squeezed below what its text needs.
        EXPECT_GE(w->width(), w->minimumSizeHint().width());
    }
}

TEST_F(WindowFixture, AlarmStaysPinnedAndGoesIntoTheLog)
{
    start();
    run(4000);
    window->OnStartstop();
    run(3000);
    CStatusPanel& status = *window->statusPanel();
    world->meter().failFlow(0);
    ASSERT_TRUE(runUntil([&] { return core->alarms()->active(AlarmKind::NoFlow); }, 5000));
    EXPECT_TRUE(status.alarmBanner()->isVisibleTo(window.get()));
    // Lines going by do not take it away.
    for (int i = 0; i < 30; ++i)
        window->AddErrorMessage("O.K.", status::kInformation);
    ASSERT_EQ(status.pinnedAlarms().size(), 1);
    EXPECT_TRUE(status.pinnedAlarms()[0].startsWith("No flow - since "));

    world->meter().restoreFlow();
    ASSERT_TRUE(runUntil([&] { return !core->alarms()->active(AlarmKind::NoFlow); }, 5000));
    run(32000);
    // The list holds only "O.K." now; the alarm is still there, cleared, until acknowledged.
    EXPECT_FALSE(anyLineContains(*window->statusList(), "NO FLOW"));
    ASSERT_EQ(status.pinnedAlarms().size(), 1);
    EXPECT_TRUE(status.pinnedAlarms()[0].contains(QRegularExpression("^No flow - \\d\\d:\\d\\d:\\d\\d to \\d\\d:\\d\\d:\\d\\d$")))
        << status.pinnedAlarms()[0].toStdString();
    EXPECT_TRUE(status.alarmBanner()->isVisibleTo(window.get()));

    std::vector<CStatusPanel::AlarmLogEntry> noFlow;
    for (const auto& e : status.alarmLog())
        if (e.kind == AlarmKind::NoFlow)
            noFlow.push_back(e);
    ASSERT_EQ(noFlow.size(), 2u);
    EXPECT_TRUE(noFlow[0].raised);
    EXPECT_FALSE(noFlow[1].raised);
    EXPECT_GT(noFlow[0].wallMs, 0);
    EXPECT_GE(noFlow[1].wallMs, noFlow[0].wallMs);

    window->findChild<QAction*>("alarmLogAction")->trigger();
    QTreeWidget* log = status.alarmLogView();
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->topLevelItemCount(), static_cast<int>(status.alarmLog().size()));
    bool clearedShown = false;
    for (int i = 0; i < log->topLevelItemCount(); ++i)
        clearedShown = clearedShown || (log->topLevelItem(i)->text(1) == "No flow" &&
                                        log->topLevelItem(i)->text(2) == "cleared" &&
                                        log->topLevelItem(i)->text(0).contains(QRegularExpression("\\d\\d:\\d\\d:\\d\\d")));
    EXPECT_TRUE(clearedShown);

    status.acknowledgeButton()->click();
    EXPECT_TRUE(status.pinnedAlarms().isEmpty());
    EXPECT_FALSE(status.alarmBanner()->isVisibleTo(window.get()));
    EXPECT_EQ(status.alarmLog().size(), log->topLevelItemCount());  // the log keeps it
}

TEST_F(GermanWindow, NoEnglishLeftInTheListedTexts)
{
    start();
    run(4000);
    window->OnStartstop();
    run(3000);
    world->usbAdapter()->setConnected(false);
    run(7000);
    world->usbAdapter()->setConnected(true);
    ASSERT_TRUE(runUntil([&] { return anyLineContains(*window->statusList(), "wiederhergestellt"); }, 10000));
    const StatusList& list = *window->statusList();
    EXPECT_TRUE(anyLineContains(list, "Verbindung zum Messgerät verloren: USB-Adapter"));
    EXPECT_FALSE(anyLineContains(list, "Link to the meter"));

    // The export box names the system's reason in German.
    ASSERT_FALSE(window->exports()->exportCsv("/nonexistent-folder/points.csv"));
    EXPECT_NE(prompt.texts().back().find("Datei oder Verzeichnis nicht gefunden"), std::string::npos)
        << prompt.texts().back();
    EXPECT_EQ(prompt.texts().back().find("No such file"), std::string::npos);

    // A real box: the question and its buttons.
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        for (QAbstractButton* b : box->buttons())
            buttons << b->text();
        box->button(QMessageBox::Cancel)->click();
    });
    QtPrompt real(window.get());
    EXPECT_EQ(real.show(strings::text(strings::kUnknownShutterQuestion), PromptButtons::OkCancel,
                        PromptIcon::Question),
              PromptResult::Cancel);
    buttons.sort();
    EXPECT_EQ(buttons, QStringList({"Abbrechen", "OK"}));
    EXPECT_EQ(strings::text(strings::kUnknownShutterQuestion), "Shutterzustand unbekannt! Trotzdem fortfahren?");
}

} // namespace
} // namespace bv::test
