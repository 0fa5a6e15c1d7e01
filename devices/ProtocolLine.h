#pragma once
#include <ctime>
#include <string>

#include "data/MeasurePoint.h"

namespace bv {

// "%H:%M:%S %d/%m/%Y" in local time.
std::string ProtocolTimeStamp(std::time_t when);

// One protocol line with its "\n" end (written in text mode as "\r\n"): time
// stamp, power, flow, Te and Td, and the EC columns when asked for and the
// point's EC values count. Numbers always with a '.' decimal point; the
// degree sign is the single byte 0xB0.
std::string FormatProtocolLine(const MeasurePoint& point, bool ecColumns, std::time_t when);

} // namespace bv
