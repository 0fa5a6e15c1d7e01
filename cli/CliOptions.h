#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/MeasurePoint.h"

namespace bv::cli {

enum class LinkChoice { Settings, Port, Usb, Simulate };
enum class Format { Tsv, Json, Csv };
enum class ShutterMove { None, Open, Close };

struct Options {
    std::string settingsDir;  // empty: the folders of ProgramPaths
    LinkChoice link = LinkChoice::Settings;
    std::string port;
    std::string simulateModel = "ec";
    std::optional<int> address;
    std::optional<bool> parity;
    std::optional<int> interval;
    long count = -1;  // -1: until stopped
    bool single = false;
    bool calibrate = false;
    std::string protocolFile;
    std::string csvFile;  // every point as a CSV row
    Format format = Format::Tsv;
    ShutterMove shutter = ShutterMove::None;
    // Simulated meter only: its cooling water stops this many seconds into
    // the measurement, for this long (to see the alarms without a real fault).
    std::optional<int> simFlowDropAt;
    int simFlowDropFor = 0;
    // Simulated meter only: it falls silent this many seconds in, for this long.
    std::optional<int> simSilenceAt;
    int simSilenceFor = 0;
    // Exit with status 3 after this many seconds without a valid reading.
    std::optional<int> staleExit;
    std::string mqttBroker;  // HOST[:PORT]; publishing for this run
    std::string modbus;      // [ADDR:]PORT; the Modbus TCP server for this run
    std::string scpi;        // [ADDR:]PORT; the SCPI server for this run
    std::string station;
    // Print the stored points (between from and to, ms) instead of measuring.
    bool history = false;
    int64_t historyFrom = INT64_MIN;
    int64_t historyTo = INT64_MAX;
    bool help = false;
    bool version = false;
    bool listPorts = false;  // with --simulate: the simulator's ports
};

struct ParseResult {
    Options options;
    std::string error;  // non-empty: usage error
};

ParseResult parse(int argc, const char* const* argv);
std::string usage();

// One JSON object per point, on one line, its "time" the point's own stamp
// in ISO 8601 with zone, as in the CSV and the MQTT reading.
// alarms: the names of the alarms active with this point ("alarm" array).
// stdDeviation: of the power over the averaging window ("std_dev").
std::string jsonLine(const MeasurePoint& point, int shutterState, const std::vector<std::string>& alarms = {},
                     std::optional<double> stdDeviation = {}, std::optional<int64_t> seq = {});

} // namespace bv::cli
