#pragma once
#include <string>
#include <vector>

namespace bv {

// What the folders depend on, read from the process once so that tests can
// give their own.
struct PathEnvironment {
    std::string home;           // $HOME, else the password database's entry; may be empty
    std::string xdgConfigHome;  // as set; used only when absolute
    std::string xdgStateHome;   // as set; used only when absolute
    std::string workingDir;

    static PathEnvironment fromProcess();
};

// Where the program keeps its files. Beside the executable when that folder
// is writable, as it always was; an installed program (or one in a folder it
// may not write) uses $XDG_CONFIG_HOME/BrivaneSoftware for its settings and
// $XDG_STATE_HOME/BrivaneSoftware for the bus log and the diagnostic log.
// --settings-dir puts the ini file and the bus log where it says.
struct ProgramPaths {
    static constexpr const char* kFolderName = "BrivaneSoftware";
    static constexpr const char* kLogConfig = "log4j.properties";
    static constexpr const char* kSettingsFile = "BrivaneSoftware.ini";
    static constexpr const char* kHistoryFile = "history.sqlite";

    std::string settingsDir;    // BrivaneSoftware.ini
    std::string busLogDir;      // BusPro00.Dat .. BusPro08.Dat, and the history
    std::string diagnosticDir;  // the log file of the logging configuration: "." or the state folder
    std::string configFolder;   // $XDG_CONFIG_HOME/BrivaneSoftware
    std::string stateFolder;    // $XDG_STATE_HOME/BrivaneSoftware
    bool userFolders = false;   // the executable's folder is not used
    std::string logConfig;      // the logging configuration found, empty when none
    // The settings file beside an executable whose folder may no longer be
    // written: it seeds the config folder's, so that no setting is lost.
    std::string earlierSettings;

    // The stored points, beside the bus log.
    std::string historyFile() const { return busLogDir + "/" + kHistoryFile; }

    // Decides the folders and finds the logging configuration: the working
    // directory, then the config folder, then the installed default. Touches
    // nothing on disk.
    static ProgramPaths resolve(const std::string& executableDir, const std::string& settingsDirOption,
                                const PathEnvironment& env);
    // Creates the XDG folders that are in use (mode 0700, as XDG asks) and
    // copies earlierSettings into the config folder when it has none yet. One
    // text per folder or file that could not be made; the program goes on without it.
    // Makes and copies nothing when unsafeFolders() names one; its texts are returned.
    // diagnosticLog false: the logging is set up elsewhere (tests).
    std::vector<std::string> createFolders(bool diagnosticLog = true) const;

    // The config and state folders in use that must not be used, one text
    // each: a symbolic link, another user's folder, one that others may write
    // to, or none at all (no home folder). The program does not start then.
    // A folder not there yet is no problem: createFolders makes it.
    std::vector<std::string> unsafeFolders(bool diagnosticLog = true) const;

    // The installed program's read-only files, relative to its executable.
    static std::string installedDataDir(const std::string& executableDir);
    static std::string installedLibraryDir(const std::string& executableDir);
    // True when the executable sits in an installed tree (bin/ beside share/brivane/).
    static bool isInstalledLayout(const std::string& executableDir);
};

// The folder of the running executable ("." when the system does not say).
std::string executableDirectory();

} // namespace bv
