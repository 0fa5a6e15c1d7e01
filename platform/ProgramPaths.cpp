#include "platform/ProgramPaths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

// Set by the build from the install layout; these are the usual ones.
#ifndef BRIVANE_DATA_FROM_BIN
#define BRIVANE_DATA_FROM_BIN "../share/brivane"
#endif
#ifndef BRIVANE_LIB_FROM_BIN
#define BRIVANE_LIB_FROM_BIN "../lib/brivane"
#endif

namespace bv {
namespace {

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool isAbsolute(const std::string& p) { return !p.empty() && p[0] == '/'; }

bool isWritableDir(const std::string& dir)
{
    struct stat st {};
    return !dir.empty() && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(dir.c_str(), W_OK | X_OK) == 0;
}

bool isReadableFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

// $XDG_..._HOME when it is absolute (the XDG rule: relative ones are
// ignored), else HOME + the fallback; empty without either. Never a shared
// folder such as /tmp: another user could have made it first.
std::string xdgFolder(const std::string& set, const std::string& home, const char* fallback)
{
    if (!isAbsolute(set) && !isAbsolute(home))
        return "";
    std::string base = isAbsolute(set) ? set : home + fallback;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/" + ProgramPaths::kFolderName;
}

std::string joined(const std::string& dir, const std::string& rel)
{
    return (std::filesystem::path(dir) / rel).lexically_normal().string();
}

} // namespace

PathEnvironment PathEnvironment::fromProcess()
{
    PathEnvironment e;
    e.home = env("HOME");
    if (e.home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
            e.home = pw->pw_dir;
    }
    e.xdgConfigHome = env("XDG_CONFIG_HOME");
    e.xdgStateHome = env("XDG_STATE_HOME");
    std::error_code ec;
    e.workingDir = std::filesystem::current_path(ec).string();
    return e;
}

std::string ProgramPaths::installedDataDir(const std::string& executableDir)
{
    return joined(executableDir, BRIVANE_DATA_FROM_BIN);
}

std::string ProgramPaths::installedLibraryDir(const std::string& executableDir)
{
    return joined(executableDir, BRIVANE_LIB_FROM_BIN);
}

bool ProgramPaths::isInstalledLayout(const std::string& executableDir)
{
    return isReadableFile(installedDataDir(executableDir) + "/" + kLogConfig);
}

ProgramPaths ProgramPaths::resolve(const std::string& executableDir, const std::string& settingsDirOption,
                                   const PathEnvironment& e)
{
    ProgramPaths p;
    p.configFolder = xdgFolder(e.xdgConfigHome, e.home, "/.config");
    p.stateFolder = xdgFolder(e.xdgStateHome, e.home, "/.local/state");
    // An installed program never writes into its bin folder, not even as root.
    p.userFolders = isInstalledLayout(executableDir) || !isWritableDir(executableDir);
    const std::string own = p.userFolders ? p.configFolder : executableDir;
    p.settingsDir = settingsDirOption.empty() ? own : settingsDirOption;
    p.busLogDir = settingsDirOption.empty() ? (p.userFolders ? p.stateFolder : executableDir) : settingsDirOption;
    p.diagnosticDir = p.userFolders ? p.stateFolder : ".";
    if (p.diagnosticDir.empty() && !settingsDirOption.empty())
        p.diagnosticDir = settingsDirOption;
    const std::string beside = joined(executableDir, kSettingsFile);
    if (p.userFolders && settingsDirOption.empty() && !isInstalledLayout(executableDir) && isReadableFile(beside))
        p.earlierSettings = beside;

    const std::string inWorkingDir = joined(e.workingDir.empty() ? "." : e.workingDir, kLogConfig);
    for (const std::string& candidate : {inWorkingDir, p.configFolder + "/" + kLogConfig,
                                         installedDataDir(executableDir) + "/" + kLogConfig}) {
        if (candidate[0] == '/' && isReadableFile(candidate)) {
            p.logConfig = candidate;
            break;
        }
    }
    return p;
}

std::vector<std::string> ProgramPaths::unsafeFolders(bool diagnosticLog) const
{
    std::vector<std::string> refused;
    const char* noHome = ": HOME is not set and the user has no home folder (give --settings-dir)";
    if (settingsDir.empty())
        refused.push_back(std::string("no folder for the settings") + noHome);
    if (busLogDir.empty() || (diagnosticLog && diagnosticDir.empty()))
        refused.push_back(std::string("no folder for the logs") + noHome);
    auto check = [&refused](const std::string& dir) {
        struct stat st {};
        if (dir.empty() || ::lstat(dir.c_str(), &st) != 0)
            return;  // not there yet: made by us, 0700
        std::string why;
        if (S_ISLNK(st.st_mode))
            why = "it is a symbolic link";
        else if (!S_ISDIR(st.st_mode))
            return;  // told by createFolders
        else if (st.st_uid != ::geteuid())
            why = "it belongs to another user (uid " + std::to_string(st.st_uid) + ")";
        else if (st.st_mode & (S_IWGRP | S_IWOTH))
            why = "other users may write to it";
        if (!why.empty())
            refused.push_back("the folder " + dir + " is not used: " + why);
    };
    if (settingsDir == configFolder)
        check(configFolder);
    if (busLogDir == stateFolder || (diagnosticLog && diagnosticDir == stateFolder))
        check(stateFolder);
    return refused;
}

std::vector<std::string> ProgramPaths::createFolders(bool diagnosticLog) const
{
    std::vector<std::string> problems = unsafeFolders(diagnosticLog);
    if (!problems.empty())
        return problems;
    auto make = [&problems](const std::string& dir) {
        std::string partial;
        size_t pos = 0;
        while (pos != std::string::npos) {
            pos = dir.find('/', pos + 1);
            partial = dir.substr(0, pos);
            if (partial.empty() || ::mkdir(partial.c_str(), 0700) == 0 || errno == EEXIST)
                continue;
            problems.push_back("the folder " + dir + " cannot be created: " + std::strerror(errno));
            return;
        }
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            problems.push_back("the folder " + dir + " cannot be created: it is not a folder");
    };
    if (settingsDir == configFolder) {
        make(configFolder);
        // Made by someone else between the check and mkdir: nothing copied there.
        if (const auto late = unsafeFolders(diagnosticLog); !late.empty())
            return late;
        const std::string target = configFolder + "/" + kSettingsFile;
        std::error_code ec;
        if (!earlierSettings.empty() && !std::filesystem::exists(target, ec)) {
            std::filesystem::copy_file(earlierSettings, target, ec);
            if (ec)
                problems.push_back("the settings of " + earlierSettings + " cannot be copied to " + target + ": " +
                                   ec.message());
        }
    }
    if (busLogDir == stateFolder || (diagnosticLog && diagnosticDir == stateFolder))
        make(stateFolder);
    return problems;
}

std::string executableDirectory()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

} // namespace bv
