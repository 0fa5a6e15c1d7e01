#pragma once
#include <cstdint>
#include <ctime>
#include <string>

#include "data/MeasurePoint.h"

namespace bv {

// "%H:%M:%S %d/%m/%Y" in local time.
std::string ProtocolTimeStamp(std::time_t when);

// One protocol line with its "\n" end (written in text mode as "\r\n"): the
// point's own time stamp (to the second), power, flow, Te and Td, and the EC
// columns when asked for and the point's EC values count. Numbers always with
// a '.' decimal point; the degree sign is the single byte 0xB0 (Latin-1), as
// stored protocol files have it.
std::string FormatProtocolLine(const MeasurePoint& point, bool ecColumns);

} // namespace bv
