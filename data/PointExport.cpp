#include "data/PointExport.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "data/CBrivaneDoc.h"
#include "res/StringTable.h"

namespace bv {
namespace {

void appendNumber(std::string& out, double v)
{
    if (!std::isfinite(v))
        return;  // an empty field: there is no number to give
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

} // namespace

std::string csvRow(const MeasurePoint& p)
{
    std::string row = isoTime(p.timeMs);
    for (double v : {p.power, p.flow, p.te, p.td}) {
        row += ',';
        appendNumber(row, v);
    }
    row += p.valid ? ",1," : ",0,";
    row += p.ecValid ? "1" : "0";
    for (double v : {p.ecPower, p.ecCurrent, p.ecVoltage}) {
        row += ',';
        appendNumber(row, v);
    }
    row += ',' + std::to_string(p.heaterState) + ',' + std::to_string(p.heaterValue) + "\r\n";
    return row;
}

namespace {

void clampRange(const CBrivaneDoc& store, int& first, int& last)
{
    if (first < 0)
        first = 0;
    if (last > store.GetCount())
        last = store.GetCount();
}

} // namespace

std::string jsonNumber(double v, const char* fmt)
{
    if (!std::isfinite(v))
        return "null";
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string jsonQuoted(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string pointJsonMembers(const MeasurePoint& p, int shutterState)
{
    std::string s = "\"power\":" + jsonNumber(p.power) + ",\"flow\":" + jsonNumber(p.flow) +
                    ",\"te\":" + jsonNumber(p.te) + ",\"td\":" + jsonNumber(p.td) +
                    ",\"shutter\":" + std::to_string(shutterState) + ",\"valid\":" + (p.valid ? "true" : "false");
    if (p.heaterState >= 0 || p.ecValid) {
        s += ",\"ec_valid\":" + std::string(p.ecValid ? "true" : "false") + ",\"ec_power\":" + jsonNumber(p.ecPower) +
             ",\"ec_voltage\":" + jsonNumber(p.ecVoltage) + ",\"ec_current\":" + jsonNumber(p.ecCurrent) +
             ",\"heater_state\":" + std::to_string(p.heaterState) +
             ",\"heater_value\":" + std::to_string(p.heaterValue) +
             ",\"thermalization\":" + std::to_string(p.thermalization);
    }
    return s;
}

const char* csvHeader()
{
    return "time,power_W,flow_l_per_min,te_C,td_C,valid,ec_valid,ec_power_W,ec_current_A,ec_voltage_V,"
           "heater_state,heater_value";
}

bool parseIsoTime(const std::string& text, int64_t& ms)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
    size_t i = 0;
    auto digits = [&](int count, int& out) {
        out = 0;
        for (int k = 0; k < count; ++k, ++i) {
            if (i >= text.size() || text[i] < '0' || text[i] > '9')
                return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    auto accept = [&](char c) {
        if (i < text.size() && text[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    if (!digits(4, year) || !accept('-') || !digits(2, month) || !accept('-') || !digits(2, day))
        return false;
    if (accept('T') || accept(' ')) {
        if (!digits(2, hour) || !accept(':') || !digits(2, minute))
            return false;
        if (accept(':')) {
            if (!digits(2, second))
                return false;
            if (accept('.') || accept(',')) {
                int scale = 100, digit = 0;
                const size_t start = i;
                while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                    digit = text[i++] - '0';
                    millis += digit * scale;
                    scale /= 10;
                }
                if (i == start)
                    return false;
            }
        }
    }
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 60)
        return false;
    std::time_t seconds;
    if (i == text.size()) {
        t.tm_isdst = -1;
        seconds = std::mktime(&t);
        // mktime moves 31 February on to March: that date was not real.
        if (seconds == static_cast<std::time_t>(-1) || t.tm_mday != day || t.tm_mon != month - 1)
            return false;
    } else {
        long offset = 0;
        if (!accept('Z')) {
            const bool negative = i < text.size() && text[i] == '-';
            if (!accept('+') && !accept('-'))
                return false;
            int zh = 0, zm = 0;
            if (!digits(2, zh))
                return false;
            accept(':');
            if (!digits(2, zm) || zh > 23 || zm > 59)
                return false;
            offset = (zh * 60L + zm) * 60L * (negative ? -1 : 1);
        }
        if (i != text.size())
            return false;
        seconds = timegm(&t);
        if (t.tm_mday != day || t.tm_mon != month - 1)
            return false;
        seconds -= offset;
    }
    ms = static_cast<int64_t>(seconds) * 1000 + millis;
    return true;
}

std::string isoTime(int64_t ms)
{
    const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    const int millis = static_cast<int>(ms - static_cast<int64_t>(seconds) * 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff / 60;
    char zone[40];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', std::labs(offset) / 60,
                  std::labs(offset) % 60);
    char out[112];
    std::snprintf(out, sizeof out, "%s.%03d%s", date, millis, zone);
    return out;
}

PowerStatistics powerStatistics(const CBrivaneDoc& store, int first, int last)
{
    clampRange(store, first, last);
    PowerStatistics s;
    double m2 = 0;
    for (int i = first; i < last; ++i) {
        const MeasurePoint& p = *store.pGetMeaureValue(i);
        if (!p.valid || !std::isfinite(p.power))
            continue;
        if (s.count == 0) {
            s.min = s.max = p.power;
            s.firstMs = p.timeMs;
        }
        s.lastMs = p.timeMs;
        ++s.count;
        const double delta = p.power - s.mean;
        s.mean += delta / static_cast<double>(s.count);
        m2 += delta * (p.power - s.mean);
        s.min = std::min(s.min, p.power);
        s.max = std::max(s.max, p.power);
    }
    s.stdDeviation = s.count > 1 ? std::sqrt(m2 / static_cast<double>(s.count - 1)) : 0.0;
    return s;
}

CsvFile::~CsvFile()
{
    if (m_file) {
        std::fclose(m_file);
        std::remove((m_path + ".part").c_str());
    }
}

bool CsvFile::open(const std::string& path, std::string& error)
{
    m_path = path;
    m_file = std::fopen((path + ".part").c_str(), "wb");
    if (!m_file) {
        error = path + ": " + strings::osErrorText(errno);
        return false;
    }
    errno = 0;
    m_ok = std::fputs(csvHeader(), m_file) >= 0 && std::fputs("\r\n", m_file) >= 0;
    m_errno = m_ok ? 0 : errno;
    return true;
}

void CsvFile::add(const MeasurePoint& point)
{
    if (!m_ok || !m_file)
        return;
    const std::string row = csvRow(point);
    m_ok = std::fwrite(row.data(), 1, row.size(), m_file) == row.size();
    if (!m_ok)
        m_errno = errno;
    ++m_rows;
}

bool CsvFile::finish(std::string& error)
{
    if (!m_file)
        return false;
    const std::string temporary = m_path + ".part";
    errno = 0;
    bool ok = std::fflush(m_file) == 0 && m_ok;
    const int flushErrno = errno;
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    if (!ok) {
        error = m_path + ": " + strings::osErrorText(m_errno ? m_errno : flushErrno);
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), m_path.c_str()) != 0) {
        error = m_path + ": " + strings::osErrorText(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool writeCsv(const CBrivaneDoc& store, int first, int last, const std::string& path, std::string& error)
{
    clampRange(store, first, last);
    CsvFile file;
    if (!file.open(path, error))
        return false;
    for (int i = first; i < last; ++i)
        file.add(*store.pGetMeaureValue(i));
    return file.finish(error);
}

} // namespace bv
