#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace bv {

class CBrivaneDoc;

// Count, mean, sample standard deviation and extremes of the valid powers
// among the store's points first .. last-1, with the time span they cover.
struct PowerStatistics {
    long count = 0;
    double mean = 0, stdDeviation = 0, min = 0, max = 0;
    int64_t firstMs = 0, lastMs = 0;
};
PowerStatistics powerStatistics(const CBrivaneDoc& store, int first, int last);

// JSON pieces: a number ("null" when not finite; %.6g unless fmt says
// otherwise) and a quoted, escaped string.
std::string jsonNumber(double value, const char* fmt = "%.6g");
std::string jsonQuoted(const std::string& text);
// A point's JSON members from "power" to "valid", with the EC members when it
// has them (no braces, no leading comma), as the CLI and the plant link send them.
struct MeasurePoint;
std::string pointJsonMembers(const MeasurePoint& point, int shutterState);

// ISO 8601 local time with its zone offset, e.g. "2026-12-09T07:20:52.125+01:00".
std::string isoTime(int64_t msSinceEpoch);

// The other way: "2026-12-09", "2026-12-09T12:30", "2026-12-09 12:30:48.125",
// each with an optional zone ("Z", "+01:00", "+0100"); local time without
// one. False for anything else, a date that does not exist included.
bool parseIsoTime(const std::string& text, int64_t& msSinceEpoch);

// The points first .. last-1 as CSV: a header row, ISO 8601 times, '.' as the
// decimal point whatever the locale. Written to a temporary file that replaces
// path only when complete; false with the reason in error otherwise.
bool writeCsv(const CBrivaneDoc& store, int first, int last, const std::string& path, std::string& error);
// A CSV file (header row first) that appears under its name only when
// finished whole; dropped otherwise.
class CsvFile {
public:
    CsvFile() = default;
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;
    bool open(const std::string& path, std::string& error);
    void add(const MeasurePoint& point);
    bool finish(std::string& error);
    long rows() const { return m_rows; }

private:
    std::string m_path;
    std::FILE* m_file = nullptr;
    bool m_ok = true;
    int m_errno = 0;
    long m_rows = 0;
};

// The header row (without line end), and one point's row (with "\r\n").
const char* csvHeader();
std::string csvRow(const MeasurePoint& point);

} // namespace bv
