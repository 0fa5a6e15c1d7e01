#include "devices/ProtocolLine.h"

#include <cstdarg>
#include <cstdio>
#include <locale.h>

namespace bv {
namespace {

// snprintf in the C locale: a spreadsheet reads the file, whatever locale
// the program runs under.
std::string formatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string formatC(const char* format, ...)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const locale_t previous = cLocale ? uselocale(cLocale) : static_cast<locale_t>(0);
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<size_t>(length));
    }
    va_end(again);
    if (cLocale)
        uselocale(previous);
    return text;
}

} // namespace

std::string ProtocolTimeStamp(std::time_t when)
{
    std::tm local{};
    if (!localtime_r(&when, &local))
        return {};
    char buffer[64];
    const size_t n = std::strftime(buffer, sizeof buffer, "%H:%M:%S %d/%m/%Y", &local);
    return std::string(buffer, n);
}

std::string FormatProtocolLine(const MeasurePoint& point, bool ecColumns, std::time_t when)
{
    const std::string values = formatC("\t%5.2f\tW\t%2.6f\tl/min\t%3.2f\t" "\xB0" "\t%3.2f" "\xB0",
                                       point.power, point.flow, point.te, point.td);
    std::string ec;
    if (ecColumns && point.ecValid == 1)
        ec = formatC("\t%5.2f\tW\t%3.0f\tV\t%2.3f\tA", point.ecPower, point.ecVoltage, point.ecCurrent);
    return ProtocolTimeStamp(when) + "\t" + values + "\t" + ec + "\n";
}

} // namespace bv
