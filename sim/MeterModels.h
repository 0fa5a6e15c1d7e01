#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace bv::sim {

enum class MeterModel : uint8_t { Plain, EC, Compact };

enum class ShutterKind : uint8_t {
    None,       // no shutter: the meter reports "N"
    Motorised,  // moved by "sa"/"sz" or by a PLC wired to its actuator
    External,   // the meter senses it, only a PLC can move it
};

// What tells the three models apart; the meter's behaviour reads only this.
struct MeterModelInfo {
    MeterModel model;
    std::string_view key;        // short name for command lines and logs
    std::string_view readyText;  // complete answer to "qr"
    std::string_view typeDigits; // "d.d" behind "Typ " in the "info" answer
    bool electronicCalibration;  // understands "elp 1"/"elp 0" and sends "Pel" frames
    ShutterKind shutter;
    double flowMinimum;          // l/min, reported by "info"
    double nominalFlow;          // l/min of a healthy cooling circuit
    double maxPower;             // W, top of the measuring range
};

std::span<const MeterModelInfo> meterModels();
const MeterModelInfo& meterModel(MeterModel model);
// "plain", "ec", "compact" (case-insensitive).
std::optional<MeterModel> meterModelFromKey(std::string_view key);

} // namespace bv::sim
