#include <gtest/gtest.h>

#include "support/QtApp.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <cstring>

#include "app/LinkSelection.h"
#include "control/Device.h"
#include "control/Scheduler.h"
#include "platform/Clock.h"
#include "settings/ProgramSettings.h"
#include "support/ScriptedPrompt.h"
#include "res/StringTable.h"
#include "ui/AboutDialog.h"
#include "ui/LanguageModule.h"
#include "ui/PortDialog.h"
#include "ui/SettingsDialogs.h"

namespace bv {
namespace {

const QString kModuleDir = QStringLiteral(BRIVANE_BINARY_DIR "/ui");

class LanguageModuleTest : public ::testing::Test {
protected:
    LanguageModuleTest() { test::qtApp(); }
    ~LanguageModuleTest() override { module.unload(); }
    LanguageModule module;
};

TEST_F(LanguageModuleTest, GermanWhileLoadedEnglishAfter)
{
    ASSERT_EQ(strings::text(6117), "Cannot open Database !");
    ASSERT_TRUE(module.load(kModuleDir)) << "libBVSGerman.so not built in " << kModuleDir.toStdString();
    EXPECT_TRUE(module.loaded());
    EXPECT_EQ(strings::text(6117), "Datenbank kann nicht ge\u00f6ffnet werden !");
    EXPECT_EQ(strings::commErrorText(7), "Kein Port ge\u00f6ffnet!\nBitte zuerst 'Com-Port' w\u00e4hlen");
    // Key names of the settings file stay as they are.
    EXPECT_EQ(strings::text(61276), "Protocol");
    {
        AboutDialog about;
        EXPECT_EQ(about.findChild<QLabel*>("createdLabel")->text(), "Erstellt :");
        // The module's bitmap, not our own.
        EXPECT_NE(about.picture()->bitmap().toImage(), AboutDialog::emblem().toImage());
        EXPECT_EQ(LanguageModule::pixmap("132").size(), QSize(64, 64));
    }

    {
        ManualClock clock;
        CScheduler scheduler{clock};
        test::ScriptedPrompt prompt;
        CDevice device{scheduler, prompt};
        ProgramSettings settings;
        EXPECT_EQ(DeviceSettingsDialog(device, settings).windowTitle(), "Einstellungen Brivane");
        EXPECT_EQ(ProtocolDialog(&device, prompt).windowTitle(), "Protokoll");
    }

    module.unload();
    EXPECT_FALSE(module.loaded());
    EXPECT_EQ(strings::text(6117), "Cannot open Database !");
    AboutDialog about;
    EXPECT_EQ(about.findChild<QLabel*>("createdLabel")->text(), "Created :");
    EXPECT_EQ(about.picture()->bitmap().toImage(), AboutDialog::emblem().toImage());
    EXPECT_TRUE(LanguageModule::pixmap("132").isNull());
}

TEST_F(LanguageModuleTest, LoadsAgainAfterUnload)
{
    ASSERT_TRUE(module.load(kModuleDir + "/libBVSGerman.so"));
    module.unload();
    ASSERT_TRUE(module.load(kModuleDir));
    EXPECT_EQ(strings::text(4001), "Mittelwert");
}

TEST_F(LanguageModuleTest, MissingOrForeignModuleChangesNothing)
{
    EXPECT_FALSE(module.load(QDir::tempPath() + "/no-such-module-dir"));
    EXPECT_FALSE(module.load(QStringLiteral(BRIVANE_SOURCE_DIR "/lang/strings.txt")));
    // A shared library without the module's entry points.
    const QString foreign = QLibraryInfo::path(QLibraryInfo::LibrariesPath) + "/libQt6Core.so.6";
    ASSERT_TRUE(QFile::exists(foreign));
    EXPECT_FALSE(module.load(foreign));
    EXPECT_FALSE(module.loaded());
    EXPECT_EQ(strings::text(4001), "Average");
}

// Both used to reach the loader: the cut one crashed it (SIGBUS).
TEST_F(LanguageModuleTest, TruncatedOrOtherFormatModuleIsNeverLoaded)
{
    QFile real(kModuleDir + "/libBVSGerman.so");
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    const QByteArray whole = real.readAll();
    const QString dir = QDir::tempPath() + "/brivane-lang-" + QString::number(QCoreApplication::applicationPid());
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString copy = dir + "/libBVSGerman.so";
    auto place = [&](const QByteArray& bytes) {
        QFile::remove(copy);
        QFile out(copy);
        return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
    };

    ASSERT_TRUE(place(whole.left(whole.size() / 2)));
    EXPECT_FALSE(module.load(dir));
    QByteArray otherFormat = whole;
    const qsizetype marker = otherFormat.indexOf(LanguageModule::kMarker);
    ASSERT_GE(marker, 0);
    otherFormat[marker + qsizetype(std::strlen(LanguageModule::kMarker)) - 1] = '0';
    ASSERT_TRUE(place(otherFormat));
    EXPECT_FALSE(module.load(dir));
    EXPECT_FALSE(module.loaded());
    EXPECT_EQ(strings::text(4001), "Average");

    ASSERT_TRUE(place(whole));
    EXPECT_TRUE(module.load(dir));
    module.unload();
    QDir(dir).removeRecursively();
}

TEST(LanguageModuleTable, ParsesTabbedLinesWithEscapes)
{
    const auto table = LanguageModule::parseStringTable(
        "# comment\n29\tA\\nB\r\n4000\tSpitze \nbad line\n\t7\n61239\tw\xc3\xa4hrend \\\\ \\t.\n");
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table.at(29), "A\nB");
    EXPECT_EQ(table.at(4000), "Spitze ");
    EXPECT_EQ(table.at(61239), "w\u00e4hrend \\ \t.");
}

// Every text of our table has a German one that keeps what code relies on:
// line breaks, format fields and leading or trailing blanks.
TEST(LanguageModuleTable, GermanTableCoversEveryText)
{
    QFile file(QStringLiteral(BRIVANE_SOURCE_DIR "/lang/strings.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto german = LanguageModule::parseStringTable(file.readAll());
    strings::setOverrides({});
    const QRegularExpression field(QStringLiteral("%[-+ #0]*\\d*(?:\\.\\d+)?(?:l|ll|h)?[diouxXfeEgGcsp]"));
    const auto fields = [&](const std::string& s) {
        QStringList out;
        for (auto it = field.globalMatch(QString::fromStdString(s)); it.hasNext();)
            out << it.next().captured();
        return out;
    };
    int count = 0;
    for (unsigned id = 0; id < 100000; ++id) {
        if (!strings::has(id))
            continue;
        ++count;
        const std::string& english = strings::text(id);
        auto it = german.find(id);
        ASSERT_NE(it, german.end()) << "no German text for " << id << " \"" << english << "\"";
        const std::string& de = it->second;
        EXPECT_FALSE(de.empty()) << id;
        EXPECT_EQ(std::count(de.begin(), de.end(), '\n'), std::count(english.begin(), english.end(), '\n')) << id;
        EXPECT_EQ(fields(de), fields(english)) << id;
        EXPECT_EQ(english.back() == ' ', de.back() == ' ') << id;
    }
    EXPECT_GT(count, 50);
    for (const auto& [id, text] : german)
        EXPECT_TRUE(strings::has(id)) << "German text for an unknown number " << id;
}

// Every tr() or QT_TR_NOOP text of the window code has a finished German translation.
TEST(LanguageModuleTable, EveryWindowTextIsTranslated)
{
    QFile ts(QStringLiteral(BRIVANE_SOURCE_DIR "/lang/BVSGerman.ts"));
    ASSERT_TRUE(ts.open(QIODevice::ReadOnly));
    const QString catalogue = QString::fromUtf8(ts.readAll());
    EXPECT_FALSE(catalogue.contains(QStringLiteral("type=\"unfinished\"")));
    const QRegularExpression call(QStringLiteral("\\b(?:tr|QT_TR_NOOP)\\(\"((?:[^\"\\\\]|\\\\.)*)\""));
    const QDir ui(QStringLiteral(BRIVANE_SOURCE_DIR "/ui"));
    int calls = 0;
    for (const QString& name : ui.entryList({QStringLiteral("*.cpp"), QStringLiteral("*.h")})) {
        QFile source(ui.filePath(name));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        const QString code = QString::fromUtf8(source.readAll());
        for (auto it = call.globalMatch(code); it.hasNext();) {
            QString text = it.next().captured(1);
            text.replace(QStringLiteral("\\n"), QStringLiteral("\n")).replace(QStringLiteral("\\\""), QStringLiteral("\""));
            text = text.toHtmlEscaped().replace(QStringLiteral("&quot;"), QStringLiteral("\""));
            ++calls;
            EXPECT_TRUE(catalogue.contains("<source>" + text + "</source>"))
                << name.toStdString() << ": \"" << text.toStdString() << "\" is not in lang/BVSGerman.ts";
        }
    }
    EXPECT_GT(calls, 30);
}

} // namespace
} // namespace bv
