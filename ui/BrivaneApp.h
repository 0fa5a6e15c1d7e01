#pragma once
#include <memory>
#include <string>
#include <vector>

#include "ui/CBrivaneMain.h"

namespace bv {

class BrivaneCore;
class ID2xx;
class IClock;
class IPrompt;
class ISerialSystem;
class ManualClock;
class LanguageModule;
class ProgramSettings;
class QtPrompt;
namespace sim {
class SimWorld;
}

// Command line of `brivane`.
struct AppOptions {
    bool simulate = false;
    std::string model = "ec";       // plain, ec, compact
    std::string screenshot;         // PNG written once the first points are in
    std::string settingsDir;        // instead of the executable's directory
    std::string port;               // serial port tried first, before the "Port" setting
    std::string modbus;             // [ADDR:]PORT of a Modbus TCP server for this run
    std::string scpi;               // [ADDR:]PORT of a SCPI server for this run
    std::string scene;              // hidden: normal, nowater, stale, ec, thermalizing, week,
                                    // small, alarm, nometer, stopped, verdict
};

struct ParsedArguments {
    AppOptions options;
    std::string error;  // empty when the line was understood
    bool help = false;
    bool version = false;
};
ParsedArguments parseArguments(const std::vector<std::string>& args);
std::string usage();

// What tests put in instead of the real platform.
struct AppEnvironment {
    ProgramSettings* settings = nullptr;  // the program's one settings object when null
    IClock* clock = nullptr;              // the system clock (a manual one for scenes) when null
    IPrompt* prompt = nullptr;            // message boxes when null
    bool configureLogging = true;         // reads "log4j.properties" from the working directory
    bool heartbeatTimer = true;
    bool windowProfile = true;            // the window size kept in the user's QSettings
    std::string languageModule;           // file or directory; the usual search when empty
};

// The program with a window: start-up, the operator window run modally,
// shutdown, in that order.
class BrivaneApp {
public:
    static constexpr int kScreenshotWaitMs = 10000;
    // The smallest screen the window must be fully usable on.
    static constexpr QSize kSmallScreen{1024, 600};

    explicit BrivaneApp(AppOptions options, AppEnvironment environment = {});
    ~BrivaneApp();
    BrivaneApp(const BrivaneApp&) = delete;
    BrivaneApp& operator=(const BrivaneApp&) = delete;

    // Logging, language module, dialog colours, program directory and the
    // core's start-up. Returns the settings' write-back flag, or -1 (told to the
    // operator, nothing started) when a folder of the program may not be used.
    int Startup(const std::string& executableDirectory);
    // The operator window, initialised (first link selection, timer).
    CBrivaneMain& CreateWindow();
    // Runs it modally (or, with a screenshot or scene, until the picture is
    // taken) and destroys it.
    int RunWindow();
    void DestroyWindow();
    // Bus log stopped, port stored, settings written back when allowed,
    // scheduler gone, language module unloaded. Returns the exit code 0.
    int Shutdown();
    // All of it.
    int Run(const std::string& executableDirectory);

    BrivaneCore& core() { return *m_core; }
    ProgramSettings& settings() { return *m_settings; }
    CBrivaneMain* window() { return m_window.get(); }
    sim::SimWorld* world() { return m_world.get(); }
    IClock& clock() { return *m_clock; }
    const std::string& programDirectory() const { return m_programDir; }
    bool languageModuleLoaded() const;
    // The plant link's newest state text (connected, refused, lost); empty without one.
    const std::string& plantLinkStatus() const { return m_plantLinkStatus; }

    // Plays a scene on the simulated meter (manual clock), for screenshots.
    bool PlayScene(const std::string& scene);
    // Writes the window's picture; false when it could not be written.
    bool SaveScreenshot(const std::string& file);

private:
    void runFor(uint32_t ms);
    bool PlayWeek();
    // After the "ec" scene: its calibration's report beside the picture.
    bool SaveCalibrationReport(const std::string& screenshot);
    // After the "alarm" scene: the alarm log window beside the picture.
    bool SaveAlarmLog(const std::string& screenshot);
    int runWithScreenshot();

    AppOptions m_options;
    AppEnvironment m_env;
    ProgramSettings* m_settings;
    std::unique_ptr<IClock> m_ownClock;
    IClock* m_clock;
    ManualClock* m_manualClock = nullptr;
    std::unique_ptr<QtPrompt> m_qtPrompt;
    std::unique_ptr<IPrompt> m_ownPrompt;
    IPrompt* m_prompt;
    std::unique_ptr<ISerialSystem> m_realPorts;
    std::unique_ptr<ID2xx> m_realUsb;
    std::unique_ptr<sim::SimWorld> m_world;
    ISerialSystem* m_ports = nullptr;
    std::unique_ptr<BrivaneCore> m_core;
    std::unique_ptr<CBrivaneMain> m_window;
    std::string m_programDir;
    std::unique_ptr<LanguageModule> m_language;
    std::string m_plantLinkStatus;
    std::vector<std::string> m_startNotes;  // said once the window is there
};

} // namespace bv
