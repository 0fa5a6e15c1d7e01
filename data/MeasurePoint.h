#pragma once
#include <cstdint>

namespace bv {

// One measuring point, copied by value.
struct MeasurePoint {
    uint8_t valid = 0;          // counts for averages and extrema
    double power = 0;           // W, zero offset already subtracted
    double flow = 0;            // l/min
    double te = 0;              // inlet temperature
    double td = 0;              // temperature rise
    uint8_t ecValid = 0;        // EC values count
    double ecPower = 0;         // W
    double ecCurrent = 0;       // A
    double ecVoltage = 0;       // V
    int32_t heaterState = -1;   // -1 when not read
    int32_t heaterValue = -1;   // -1 when not read
    int32_t thermalization = -1;  // cycles left; -1 when not calibrating
    int64_t timeMs = 0;         // wall time (ms since 1970 UTC) when stored
};

} // namespace bv
