#pragma once
#include <cstdint>

namespace bv {

enum class MeterKind : uint8_t { Plain, EC, Compact };

// What tells the three models apart, for every front end alike.
struct MeterModelTraits {
    MeterKind kind;
    const char* name;           // as the meter calls itself
    const char* caption;        // short form in the window's caption
    // Words of the "qr" answer that identify the model (both must be present);
    // the plain model is what remains when no other matches.
    const char* readyKey;
    const char* versionKey;
    bool electronicCalibration;
    bool shutterChecked;        // a reading with the shutter not open is an error
    bool shutterNeedsPlc;       // its shutter moves only through the PLC interface
};

const MeterModelTraits& meterModel(MeterKind kind);
// The models with identifying words, in the order they are tried.
const MeterModelTraits* identifiedModels(int& count);

} // namespace bv
