#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/ProgramPaths.h"
#include "support/TempDir.h"

namespace bv {
namespace {

namespace fs = std::filesystem;

TEST(ProgramPaths, AWritableProgramFolderKeepsItsFilesAsBefore)
{
    test::TempDir exe;
    PathEnvironment env;
    env.home = "/nonexistent-home";
    env.workingDir = exe.path();
    const ProgramPaths p = ProgramPaths::resolve(exe.path(), "", env);
    EXPECT_FALSE(p.userFolders);
    EXPECT_EQ(p.settingsDir, exe.path());
    EXPECT_EQ(p.busLogDir, exe.path());
    EXPECT_EQ(p.diagnosticDir, ".");
    EXPECT_TRUE(p.createFolders().empty());
    EXPECT_FALSE(fs::exists("/nonexistent-home"));

    const ProgramPaths chosen = ProgramPaths::resolve(exe.path(), "/elsewhere", env);
    EXPECT_EQ(chosen.settingsDir, "/elsewhere");
    EXPECT_EQ(chosen.busLogDir, "/elsewhere");
}

// A program folder that may no longer be written (its settings file may):
// the settings move to the config folder with their values, none lost.
TEST(ProgramPaths, AProgramFolderThatIsNotWritableHandsItsSettingsOn)
{
    test::TempDir root;
    const std::string exe = root.file("opt");
    const std::string home = root.file("home");
    fs::create_directories(exe);
    fs::create_directories(home);
    std::ofstream(exe + "/BrivaneSoftware.ini") << "[Comm]\nPort=ttyS3\n";
    ::chmod((exe + "/BrivaneSoftware.ini").c_str(), 0666);
    ::chmod(exe.c_str(), 0555);
    ::chmod(home.c_str(), 0777);
    ::chmod(root.path().c_str(), 0755);
    // Root writes anywhere: the check runs as an ordinary user.
    EXPECT_EXIT(
        {
            if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                std::_Exit(3);
            PathEnvironment env;
            env.home = home;
            env.workingDir = home;
            const ProgramPaths p = ProgramPaths::resolve(exe, "", env);
            if (!p.userFolders || p.settingsDir != home + "/.config/BrivaneSoftware" || !p.createFolders().empty())
                std::_Exit(1);
            std::ifstream moved(p.settingsDir + "/BrivaneSoftware.ini");
            std::stringstream text;
            text << moved.rdbuf();
            std::_Exit(text.str() == "[Comm]\nPort=ttyS3\n" ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "");
    ::chmod(exe.c_str(), 0755);
    fs::remove_all(home + "/.config");
    fs::remove_all(home + "/.local");
}

// An installed tree (bin/ beside share/brivane/) never writes beside its
// executable, even for root: settings to the XDG config folder, logs to the
// XDG state folder, both made on first use; the logging configuration is
// taken from the working directory, then the config folder, then the default.
TEST(ProgramPaths, AnInstalledProgramUsesTheXdgFoldersAndFindsItsLogConfiguration)
{
    test::TempDir root;
    const std::string bin = root.file("usr/bin");
    const std::string data = root.file("usr/share/brivane");
    fs::create_directories(bin);
    fs::create_directories(data);
    std::ofstream(data + "/log4j.properties") << "# default\n";
    const std::string work = root.file("work");
    fs::create_directories(work);

    PathEnvironment env;
    env.home = root.file("home");
    env.workingDir = work;
    ProgramPaths p = ProgramPaths::resolve(bin, "", env);
    EXPECT_TRUE(p.userFolders);
    EXPECT_EQ(p.settingsDir, root.file("home/.config/BrivaneSoftware"));
    EXPECT_EQ(p.busLogDir, root.file("home/.local/state/BrivaneSoftware"));
    EXPECT_EQ(p.diagnosticDir, p.busLogDir);
    EXPECT_EQ(p.logConfig, data + "/log4j.properties");
    EXPECT_TRUE(p.createFolders().empty());
    struct stat st {};
    ASSERT_EQ(stat(p.settingsDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_TRUE(fs::is_directory(p.busLogDir));

    std::ofstream(p.configFolder + "/log4j.properties") << "# mine\n";
    EXPECT_EQ(ProgramPaths::resolve(bin, "", env).logConfig, p.configFolder + "/log4j.properties");
    std::ofstream(work + "/log4j.properties") << "# here\n";
    EXPECT_EQ(ProgramPaths::resolve(bin, "", env).logConfig, work + "/log4j.properties");

    // XDG variables count when absolute; --settings-dir still wins for the
    // ini and the bus log, the diagnostic log stays in the state folder.
    env.xdgConfigHome = root.file("cfg/");
    env.xdgStateHome = "relative/state";
    p = ProgramPaths::resolve(bin, root.file("chosen"), env);
    EXPECT_EQ(p.configFolder, root.file("cfg/BrivaneSoftware"));
    EXPECT_EQ(p.stateFolder, root.file("home/.local/state/BrivaneSoftware"));
    EXPECT_EQ(p.settingsDir, root.file("chosen"));
    EXPECT_EQ(p.busLogDir, root.file("chosen"));
    EXPECT_EQ(p.diagnosticDir, p.stateFolder);
    EXPECT_EQ(ProgramPaths::installedLibraryDir(bin).rfind(root.file("usr/lib/"), 0), 0u);

    // A folder that cannot be made is reported, not fatal.
    std::ofstream(root.file("blocker")) << "x";
    env.xdgConfigHome = root.file("blocker");
    const auto problems = ProgramPaths::resolve(bin, "", env).createFolders();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find(root.file("blocker/BrivaneSoftware") + " cannot be created"), std::string::npos)
        << problems[0];
}

// Settings and logs never go where another user could have been first: no
// shared fallback without a home folder, and an existing config or state
// folder that is a link, another user's or writable by others is refused
// before anything is made, copied or written.
TEST(ProgramPaths, FoldersAnotherUserCouldControlAreRefused)
{
    test::TempDir root;
    const std::string bin = root.file("usr/bin");
    fs::create_directories(bin);
    fs::create_directories(root.file("usr/share/brivane"));
    std::ofstream(root.file("usr/share/brivane/log4j.properties")) << "# default\n";
    auto mentions = [](const std::vector<std::string>& texts, const std::string& part) {
        return texts.size() == 1 && texts[0].find(part) != std::string::npos;
    };

    PathEnvironment env;  // no HOME, no passwd entry, no XDG variables
    env.workingDir = root.path();
    ProgramPaths p = ProgramPaths::resolve(bin, "", env);
    EXPECT_EQ(p.configFolder, "");
    EXPECT_EQ(p.stateFolder, "");
    EXPECT_EQ(p.settingsDir, "");
    EXPECT_EQ(p.busLogDir, "");
    const auto noHome = p.createFolders();
    ASSERT_EQ(noHome.size(), 2u);
    EXPECT_NE(noHome[0].find("HOME is not set"), std::string::npos) << noHome[0];
    EXPECT_EQ(p.unsafeFolders(), noHome);
    // --settings-dir is enough: the diagnostic log goes there too.
    p = ProgramPaths::resolve(bin, root.file("chosen"), env);
    EXPECT_EQ(p.diagnosticDir, root.file("chosen"));
    EXPECT_TRUE(p.unsafeFolders().empty());

    env.home = root.file("home");
    const std::string config = root.file("home/.config/BrivaneSoftware");
    const std::string state = root.file("home/.local/state/BrivaneSoftware");
    const std::string elsewhere = root.file("elsewhere");
    fs::create_directories(elsewhere);
    fs::create_directories(root.file("home/.config"));
    fs::create_directory_symlink(elsewhere, config);
    p = ProgramPaths::resolve(bin, "", env);
    EXPECT_TRUE(mentions(p.createFolders(), config + " is not used: it is a symbolic link"));
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_FALSE(fs::exists(state));  // nothing made once one folder is refused

    fs::remove(config);
    fs::create_directories(state);
    ::chmod(state.c_str(), 0777);
    EXPECT_TRUE(mentions(p.unsafeFolders(), state + " is not used: other users may write to it"));
    ::chmod(state.c_str(), 0770);
    EXPECT_TRUE(mentions(p.unsafeFolders(), "other users may write"));
    ::chmod(state.c_str(), 0700);
    EXPECT_TRUE(p.createFolders().empty());
    ASSERT_TRUE(fs::is_directory(config));

    // Folders root made, seen by an ordinary user whose HOME points there.
    if (::getuid() != 0)
        GTEST_SKIP() << "another user's folder needs root to make";
    ::chmod(root.path().c_str(), 0755);
    fs::permissions(root.file("home"), fs::perms::all, fs::perm_options::add);
    EXPECT_EXIT(
        {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                std::_Exit(3);
            const auto refused = p.unsafeFolders();
            std::_Exit(refused.size() == 2 && refused[0].find(config + " is not used: it belongs to another user") != std::string::npos
                           ? 0
                           : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace bv
