#include "link/BusLog.h"

#include <cstring>

#include "settings/ProgramSettings.h"
#include "platform/TextMode.h"
#include "platform/Prompt.h"
#include "res/StringTable.h"

namespace bv {
namespace {

constexpr const char* kCannotOpenFallback = "Cannot open BV_BusPro%02lu.Dat.";

std::string printf1(const char* format, unsigned long value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// Formats the first integer conversion of a message text with n. The text may
// come from a language module, so it is never handed to printf as a format.
std::string formatWithNumber(const std::string& text, unsigned long n)
{
    std::string out;
    bool done = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        if (text[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        std::string conversion = "%";
        while (j < text.size() && std::strchr("-0 +#", text[j]))
            conversion += text[j++];
        size_t widthDigits = 0;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9' && widthDigits < 3) {
            conversion += text[j++];
            ++widthDigits;
        }
        while (j < text.size() && text[j] == 'l')
            ++j;
        if (!done && j < text.size() && std::strchr("udi", text[j])) {
            out += printf1((conversion + "lu").c_str(), n);
            done = true;
            i = j;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Leading decimal digits after optional blanks; anything else reads as 0.
unsigned long readNumber(std::string_view field)
{
    size_t i = 0;
    while (i < field.size() && field[i] == ' ')
        ++i;
    unsigned long value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
        value = value * 10 + static_cast<unsigned long>(field[i] - '0');
    return value;
}

std::string joinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    if (dir.back() == '/')
        return dir + name;
    return dir + "/" + name;
}

} // namespace

BusLogSettings::BusLogSettings(ProgramSettings& settings)
    : commandNo(settings.m_ulCommandNo),
      fileNo(settings.m_ulFileNo),
      protocol(settings.m_iProtocol),
      programDir(settings.m_sProgramDir)
{
}

BusLog::BusLog(BusLogSettings settings, IPrompt& prompt, std::string programTag,
               LocalTimeSource localTime)
    : m_settings(settings), m_prompt(prompt), m_tag(std::move(programTag)),
      m_localTime(localTime ? std::move(localTime) : LocalTimeSource(systemLocalTime))
{
}

BusLog::~BusLog() { closeFile(); }

bool BusLog::enabled() const { return m_settings.protocol == 1; }

std::string BusLog::indexPath() const
{
    return joinPath(m_directory.empty() ? m_settings.programDir : m_directory, "BusPro00.Dat");
}

std::string BusLog::logPath(unsigned long fileNo) const
{
    return joinPath(m_directory.empty() ? m_settings.programDir : m_directory,
                    printf1("BusPro%02lu.Dat", fileNo));
}

std::optional<std::tm> BusLog::systemLocalTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local))
        return std::nullopt;
    return local;
}

std::string BusLog::stamp(const std::optional<std::tm>& t)
{
    if (!t)
        return "Fehler";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d %02d:%02d:%02d", t->tm_mday, t->tm_mon + 1,
                  t->tm_year + 1900, t->tm_hour, t->tm_min, t->tm_sec);
    return buffer;
}

std::string BusLog::stampNow() const { return stamp(m_localTime()); }

std::string BusLog::frameLine(unsigned long lineNo, const FRAME& record, bool checkFailed)
{
    char head[64];
    std::snprintf(head, sizeof head, "%10lu: %3d->%3d: ", lineNo, int(record.source),
                  int(record.destination));
    std::string line = head;
    const size_t limit = std::min(record.payloadSize(), kMaxPayloadChars);
    for (size_t i = 0; i < limit && record.payload[i] != 0; ++i)
        line += static_cast<char>(record.payload[i]);
    if (checkFailed)
        line += " <check error>";
    line += '\n';
    return line;
}

void BusLog::StartBusLog()
{
    if (!enabled())
        return;
    closeFile();
    // A file number outside 1..8 would name the index itself or a ninth file.
    if (m_settings.fileNo < 1 || m_settings.fileNo > kFileCount)
        m_settings.fileNo = 1;
    readOrCreateIndex();

    m_file = std::fopen(logPath(m_settings.fileNo).c_str(), "ab");
    if (!m_file) {
        cannotOpen(m_settings.fileNo);
        return;
    }
    write("\n***** Programm Neustart : " + stampNow() + " - " + m_tag + " *****\n\n");
}

void BusLog::readOrCreateIndex()
{
    std::FILE* index = std::fopen(indexPath().c_str(), "rb");
    if (!index) {
        if (!writeIndex())
            cannotOpen(0);
        return;
    }
    char line[200] = {};
    if (!std::fgets(line, sizeof line, index))
        line[0] = 0;
    std::fclose(index);

    const std::string_view text(line);
    unsigned long fileNo = readNumber(text.substr(0, 2));
    if (fileNo < 1 || fileNo > kFileCount)
        fileNo = 1;
    m_settings.fileNo = fileNo;
    m_settings.commandNo = text.size() > 3 ? readNumber(text.substr(3, 10)) : 0;
}

bool BusLog::writeIndex()
{
    std::FILE* index = std::fopen(indexPath().c_str(), "wb");
    if (!index)
        return false;
    char line[64];
    std::snprintf(line, sizeof line, "%02lu %010lu", m_settings.fileNo, m_settings.commandNo);
    std::fputs(line, index);
    return std::fclose(index) == 0;
}

// The log files are Windows text files ("\r\n"): operators read them in Windows editors.
void BusLog::write(const std::string& text)
{
    if (!m_file)
        return;
    WriteTextMode(m_file, text);
    std::fflush(m_file);
}

void BusLog::closeFile()
{
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

void BusLog::LogFrame(const FRAME& record, bool checkFailed)
{
    if (!enabled() || !m_file)
        return;
    ++m_settings.commandNo;
    write(frameLine(m_settings.commandNo, record, checkFailed));
    if (m_settings.commandNo % kLinesPerFile == 0)
        rollOver();
}

void BusLog::rollOver()
{
    const unsigned long old = m_settings.fileNo;
    unsigned long next = old + 1;
    if (next > kFileCount)
        next = 1;
    m_settings.fileNo = next;

    write(printf1("\n***** Fortsetzung in Datei BusPro%02lu.Dat - ", next) + stampNow() + " *****\n");
    closeFile();

    m_file = std::fopen(logPath(next).c_str(), "wb");
    if (!m_file) {
        cannotOpen(next);
        return;
    }
    write(printf1("***** Fortsetzung von Datei BusPro%02lu.Dat - ", old) + stampNow() + " - " + m_tag +
          " *****\n\n");
}

void BusLog::StopBusLog()
{
    if (!enabled() || !m_file)
        return;
    write("\n***** Programm beendet : " + stampNow() + " - " + m_tag + " *****\n");
    closeFile();
    if (!writeIndex())
        cannotOpen(0);
}

void BusLog::cannotOpen(unsigned long fileNo)
{
    const std::string& text =
        strings::has(kCannotOpenText) ? strings::text(kCannotOpenText) : std::string(kCannotOpenFallback);
    m_prompt.show(formatWithNumber(text, fileNo), PromptButtons::Ok, PromptIcon::Exclamation);
}

} // namespace bv
