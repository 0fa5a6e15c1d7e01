#include "cli/CliOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "net/ModbusServer.h"
#include "net/ScpiServer.h"
#include "net/MqttPublisher.h"
#include "data/PointExport.h"
#include "settings/ProgramSettings.h"

namespace bv::cli {
namespace {

bool parseLong(const std::string& text, long min, long max, long& out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

} // namespace

std::string usage()
{
    return "Usage: brivane-cli [options]\n"
           "Measures with a Brivane laser power meter without a window.\n"
           "\n"
           "  --settings-dir DIR     read and write BrivaneSoftware.ini (and the bus log) in DIR\n"
           "                         (default: the directory of the executable when it is\n"
           "                         writable, else ~/.config and ~/.local/state, BrivaneSoftware)\n"
           "  --port NAME            serial port (COM1 means /dev/ttyS0, or a device path)\n"
           "  --usb                  use the USB adapter\n"
           "  --simulate[=MODEL]     use the built-in simulated meter: plain, ec (default) or compact\n"
           "  --address N            bus address of the meter (0..255)\n"
           "  --parity on|off        mark the address byte by the parity bit (serial link)\n"
           "  --interval MS          measuring interval in milliseconds\n"
           "  --count N              take N readings (default: until SIGINT or SIGTERM)\n"
           "  --single               take one single reading\n"
           "  --calibrate            run one electronic calibration (EC model)\n"
           "  --protocol FILE        append a protocol line per reading to FILE\n"
           "  --csv FILE             write every point to FILE as CSV (header row, ISO 8601 times)\n"
           "  --format tsv|json      stdout: the protocol line (default) or one JSON object per point\n"
           "  --modbus [ADDR:]PORT   serve the readings to a PLC over Modbus TCP (default address 127.0.0.1)\n"
           "  --scpi [ADDR:]PORT     answer SCPI over TCP for lab automation (default address 127.0.0.1)\n"
           "  --history              print the stored points instead of measuring (any --format,\n"
           "                         csv too); the meter is not touched, a running program may go on\n"
           "  --from TIME, --to TIME the stored points from and to these ISO 8601 times\n"
           "  --open-shutter         open the shutter before measuring\n"
           "  --close-shutter        close the shutter before measuring\n"
           "  --sim-flow-drop AT:SECONDS  simulated meter: the cooling water stops AT s into\n"
           "                         the measurement for SECONDS s\n"
           "  --mqtt HOST[:PORT]     publish readings, alarms and status to this MQTT broker\n"
           "                         (port 1883 unless given; the [MQTT] settings otherwise)\n"
           "  --station NAME         station name in the MQTT topics (default: the host name)\n"
           "  --sim-silence AT:SECONDS  simulated meter: it falls silent AT s into the\n"
           "                         measurement for SECONDS s\n"
           "  --stale-exit SECONDS   exit with status 3 after SECONDS without a valid reading\n"
           "  --list-ports           list the serial ports and USB adapters that open, then exit\n"
           "  --version              the version, then exit\n"
           "  --help                 this text\n"
           "\n"
           "The identified model and address go to stderr, one line per point to stdout.\n"
           "JSON keys: time, power, flow, te, td, shutter, valid, and for EC points ec_valid,\n"
           "ec_power, ec_voltage, ec_current, heater_state, heater_value, thermalization;\n"
           "std_dev: the power's standard deviation over the averaging window;\n"
           "alarm: the active alarms (\"no flow\", \"low flow\", \"shutter\").\n"
           "Each alarm raised and cleared is one line on stderr (\"ALARM no flow: ...\", \"cleared no flow\").\n"
           "The settings are written back at the end, as the operator window does.\n"
           "While measuring, no valid reading for max(3 intervals, 5 s) gives \"no reading since ...\"\n"
           "on stderr, and \"readings resumed\" when they come back.\n"
           "A serial port or USB adapter that fails while measuring is opened again every 2 s\n"
           "(each attempt logged at info level); the meter is identified anew and measuring\n"
           "resumes. The run waits for it; --stale-exit bounds the wait.\n"
           "Exit status: 0 success, 1 link or device failure, 2 usage error,\n"
           "3 no reading for the --stale-exit time.\n";
}

ParseResult parse(int argc, const char* const* argv)
{
    ParseResult r;
    Options& o = r.options;
    int linkOptions = 0;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        auto needValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= argc) {
                r.error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        long n = 0;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "--list-ports") {
            o.listPorts = true;
        } else if (arg == "--settings-dir") {
            if (!needValue())
                return r;
            o.settingsDir = value;
        } else if (arg == "--port") {
            if (!needValue())
                return r;
            o.link = LinkChoice::Port;
            o.port = value;
            ++linkOptions;
        } else if (arg == "--usb") {
            o.link = LinkChoice::Usb;
            ++linkOptions;
        } else if (arg == "--simulate") {
            o.link = LinkChoice::Simulate;
            ++linkOptions;
            if (hasValue) {
                if (value != "plain" && value != "ec" && value != "compact") {
                    r.error = "--simulate takes plain, ec or compact";
                    return r;
                }
                o.simulateModel = value;
            }
        } else if (arg == "--address") {
            if (!needValue())
                return r;
            if (!parseLong(value, 0, 255, n)) {
                r.error = "--address takes a number from 0 to 255";
                return r;
            }
            o.address = static_cast<int>(n);
        } else if (arg == "--parity") {
            if (!needValue())
                return r;
            if (value != "on" && value != "off") {
                r.error = "--parity takes on or off";
                return r;
            }
            o.parity = value == "on";
        } else if (arg == "--interval") {
            if (!needValue())
                return r;
            if (!parseLong(value, ProgramSettings::kIntervalMinMs, ProgramSettings::kIntervalMaxMs, n)) {
                r.error = "--interval takes milliseconds from 100 to 3600000";
                return r;
            }
            o.interval = static_cast<int>(n);
        } else if (arg == "--count") {
            if (!needValue())
                return r;
            if (!parseLong(value, 1, 1000000000L, n)) {
                r.error = "--count takes a positive number";
                return r;
            }
            o.count = n;
        } else if (arg == "--single") {
            o.single = true;
        } else if (arg == "--calibrate") {
            o.calibrate = true;
        } else if (arg == "--protocol") {
            if (!needValue())
                return r;
            o.protocolFile = value;
        } else if (arg == "--csv") {
            if (!needValue())
                return r;
            o.csvFile = value;
        } else if (arg == "--format") {
            if (!needValue())
                return r;
            if (value == "tsv")
                o.format = Format::Tsv;
            else if (value == "json")
                o.format = Format::Json;
            else if (value == "csv")
                o.format = Format::Csv;
            else {
                r.error = "--format takes tsv, json or csv";
                return r;
            }
        } else if (arg == "--mqtt") {
            if (!needValue())
                return r;
            if (!MqttConfig().setBroker(value)) {
                r.error = "--mqtt takes HOST or HOST:PORT (port 1..65535)";
                return r;
            }
            o.mqttBroker = value;
        } else if (arg == "--modbus") {
            if (!needValue())
                return r;
            if (!ModbusConfig().setAddress(value)) {
                r.error = "--modbus takes PORT or ADDR:PORT (port 1..65535)";
                return r;
            }
            o.modbus = value;
        } else if (arg == "--scpi") {
            if (!needValue())
                return r;
            if (!ScpiConfig().setAddress(value)) {
                r.error = "--scpi takes PORT or ADDR:PORT (port 1..65535)";
                return r;
            }
            o.scpi = value;
        } else if (arg == "--station") {
            if (!needValue())
                return r;
            if (const std::string why = MqttConfig::topicLevelProblem(value); !why.empty()) {
                r.error = "--station \"" + value.substr(0, 80) + "\" refused: " + why;
                return r;
            }
            o.station = value;
        } else if (arg == "--open-shutter" || arg == "--close-shutter") {
            if (o.shutter != ShutterMove::None) {
                r.error = "--open-shutter and --close-shutter exclude each other";
                return r;
            }
            o.shutter = arg == "--open-shutter" ? ShutterMove::Open : ShutterMove::Close;
        } else if (arg == "--sim-flow-drop" || arg == "--sim-silence") {
            if (!needValue())
                return r;
            long at = 0, length = 0;
            const size_t colon = value.find(':');
            if (colon == std::string::npos || !parseLong(value.substr(0, colon), 0, 86400, at) ||
                !parseLong(value.substr(colon + 1), 1, 86400, length)) {
                r.error = arg + " takes AT:SECONDS, e.g. 3:5";
                return r;
            }
            (arg == "--sim-flow-drop" ? o.simFlowDropAt : o.simSilenceAt) = static_cast<int>(at);
            (arg == "--sim-flow-drop" ? o.simFlowDropFor : o.simSilenceFor) = static_cast<int>(length);
        } else if (arg == "--history") {
            o.history = true;
        } else if (arg == "--from" || arg == "--to") {
            if (!needValue())
                return r;
            if (!parseIsoTime(value, arg == "--from" ? o.historyFrom : o.historyTo)) {
                r.error = arg + " takes an ISO 8601 time, e.g. 2026-12-09T08:00 or 2026-12-09T08:00:00+01:00";
                return r;
            }
        } else if (arg == "--stale-exit") {
            if (!needValue())
                return r;
            if (!parseLong(value, 1, 86400, n)) {
                r.error = "--stale-exit takes seconds from 1 to 86400";
                return r;
            }
            o.staleExit = static_cast<int>(n);
        } else {
            r.error = "unknown option " + std::string(argv[i]);
            return r;
        }
    }
    const bool ranged = o.historyFrom != INT64_MIN || o.historyTo != INT64_MAX;
    if (ranged && !o.history)
        r.error = "--from and --to go with --history";
    else if (o.history && (linkOptions > 0 || o.single || o.calibrate || o.count >= 0 || !o.protocolFile.empty() ||
                           !o.csvFile.empty() || o.shutter != ShutterMove::None))
        r.error = "--history reads the stored points: it takes no link, measurement or output file";
    else if (o.format == Format::Csv && !o.history)
        r.error = "--format csv goes with --history (while measuring: --csv FILE)";
    else if ((o.simFlowDropAt || o.simSilenceAt) && o.link != LinkChoice::Simulate)
        r.error = "--sim-flow-drop and --sim-silence need --simulate";
    else if (linkOptions > 1)
        r.error = "choose one of --port, --usb and --simulate";
    else if ((o.single ? 1 : 0) + (o.calibrate ? 1 : 0) + (o.count >= 0 ? 1 : 0) > 1)
        r.error = "choose one of --count, --single and --calibrate";
    return r;
}

std::string jsonLine(const MeasurePoint& p, int shutterState, const std::vector<std::string>& alarms,
                     std::optional<double> stdDeviation, std::optional<int64_t> seq)
{
    std::string s = "{\"time\":" + jsonQuoted(isoTime(p.timeMs)) + "," + pointJsonMembers(p, shutterState);
    if (seq)
        s += ",\"seq\":" + std::to_string(*seq);
    if (stdDeviation)
        s += ",\"std_dev\":" + jsonNumber(*stdDeviation);
    s += ",\"alarm\":[";
    for (size_t i = 0; i < alarms.size(); ++i)
        s += (i ? "," : "") + jsonQuoted(alarms[i]);
    return s + "]}";
}

} // namespace bv::cli
