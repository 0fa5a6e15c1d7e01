#pragma once
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "link/Frame.h"
#include "link/FrameSink.h"

namespace bv {

class IPrompt;
class ProgramSettings;

// What the bus log uses of the settings: the numbers it counts on (kept in
// the settings file) and where it writes.
struct BusLogSettings {
    // Implicit: whoever makes the log holds the whole settings.
    BusLogSettings(ProgramSettings& settings);
    unsigned long& commandNo;
    unsigned long& fileNo;
    const int& protocol;  // 0: no bus log
    const std::string& programDir;
};

// The bus traffic log: every frame as one text line in eight rolling files
// "BusPro01.Dat".."BusPro08.Dat" beside the program, and the index file
// "BusPro00.Dat" that carries the current file number and the line counter
// across runs. The counters are the settings' File_No and Command_No; the log
// works only when the "Protocol" setting is 1.
class BusLog final : public IFrameSink {
public:
    using LocalTimeSource = std::function<std::optional<std::tm>()>;

    static constexpr unsigned long kFileCount = 8;
    static constexpr unsigned long kLinesPerFile = 4096;
    static constexpr size_t kMaxPayloadChars = 300;
    static constexpr unsigned kCannotOpenText = 61214;

    BusLog(BusLogSettings settings, IPrompt& prompt, std::string programTag = "BV_2000",
           LocalTimeSource localTime = systemLocalTime);
    ~BusLog() override;
    BusLog(const BusLog&) = delete;
    BusLog& operator=(const BusLog&) = delete;

    void StartBusLog();
    // checkFailed: the line is marked " <check error>".
    void LogFrame(const FRAME& record, bool checkFailed = false);
    void StopBusLog();

    void onFrame(const FRAME& record) override { LogFrame(record); }
    void onCheckFailedFrame(const FRAME& record) override { LogFrame(record, true); }

    bool isOpen() const { return m_file != nullptr; }
    // The folder of the log files; empty (the default) is the program directory.
    void setDirectory(std::string directory) { m_directory = std::move(directory); }
    std::string indexPath() const;
    std::string logPath(unsigned long fileNo) const;

    // "07.12.2019 09:05:30", or "Fehler" without a local time.
    static std::string stamp(const std::optional<std::tm>& time);
    static std::optional<std::tm> systemLocalTime();
    // The text of one frame line, line end included ("\n").
    static std::string frameLine(unsigned long lineNo, const FRAME& record, bool checkFailed = false);

private:
    bool enabled() const;
    std::string stampNow() const;
    void readOrCreateIndex();
    bool writeIndex();
    void write(const std::string& text);
    void closeFile();
    void rollOver();
    void cannotOpen(unsigned long fileNo);

    BusLogSettings m_settings;
    IPrompt& m_prompt;
    std::string m_tag;
    std::string m_directory;
    LocalTimeSource m_localTime;
    std::FILE* m_file = nullptr;
};

} // namespace bv
