#include "devices/ProtocolLine.h"

#include <cstdarg>
#include <cstdio>
#include <locale.h>

#include "platform/TextMode.h"

namespace bv {

std::string ProtocolTimeStamp(std::time_t when)
{
    std::tm local{};
    if (!localtime_r(&when, &local))
        return {};
    char buffer[64];
    const size_t n = std::strftime(buffer, sizeof buffer, "%H:%M:%S %d/%m/%Y", &local);
    return std::string(buffer, n);
}

std::string FormatProtocolLine(const MeasurePoint& point, bool ecColumns)
{
    // The second the point's millisecond stamp falls in, also before 1970.
    const int64_t ms = point.timeMs;
    const std::time_t when = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    const std::string values = FormatC("\t%5.2f\tW\t%2.6f\tl/min\t%3.2f\t" "\xB0" "\t%3.2f" "\xB0",
                                       point.power, point.flow, point.te, point.td);
    std::string ec;
    if (ecColumns && point.ecValid == 1)
        ec = FormatC("\t%5.2f\tW\t%3.0f\tV\t%2.3f\tA", point.ecPower, point.ecVoltage, point.ecCurrent);
    return ProtocolTimeStamp(when) + "\t" + values + "\t" + ec + "\n";
}

} // namespace bv
