#pragma once
#include <optional>
#include <string>

#include "data/MeasurePoint.h"

namespace bv::cli {

enum class LinkChoice { Settings, Port, Usb, Simulate };
enum class Format { Tsv, Json };
enum class ShutterMove { None, Open, Close };

struct Options {
    std::string settingsDir;  // empty: the executable's directory
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
    Format format = Format::Tsv;
    ShutterMove shutter = ShutterMove::None;
    std::string mqttBroker;  // HOST[:PORT]; publishing for this run
    std::string station;
    bool help = false;
};

struct ParseResult {
    Options options;
    std::string error;  // non-empty: usage error
};

ParseResult parse(int argc, const char* const* argv);
std::string usage();

// One JSON object per point, on one line.
std::string jsonLine(const MeasurePoint& point, const std::string& time, int shutterState);

} // namespace bv::cli
