#include "res/StringTable.h"

#include <cerrno>

namespace bv::strings {
namespace {

const std::map<unsigned, std::string>& builtIn()
{
    static const std::map<unsigned, std::string> table = {
        // Operator window
        {29, "Laser power detected\n-> Shutter cannot be closed !"},
        {4000, "Peak "},
        {4001, "Average"},
        {4002, "Current"},
        {4003, "Start power measurement"},
        {4004, "Stop"},
        {4007, "Error: Flow rate too low !"},
        {4008, "Error: Open shutter before measurement !"},

        // Protocol
        {6117, "Cannot open Database !"},
        {10003, "No filename entered!"},

        // Bus traffic log
        {61214, "Cannot open BV_BusPro%02lu.Dat."},

        // Initial detector names
        {61221, "Thermopile"},
        {61222, "Volume absorber"},
        {61223, "Surface absorber"},
        {61224, "Water calorimeter"},
        {61225, "Noname"},
        {61226, "Noname"},
        {61227, "Noname"},
        {61228, "Noname"},
        {61229, "Noname"},
        {61230, "Noname"},

        // Initial trigger-mode names
        {61233, "CW-Trigger"},
        {61234, "Trigger with delay and following pulse length"},
        {61235, "Trigger for single pulse"},
        {61236, "Trigger with S&H and line konversion"},
        {61237, "Trigger with Delay for single pulse"},
        {61238, "Trigger with S&H, single-pixel"},
        {61239, "Trigger with S&H w\u00e4hrend Pixelpause"},
        {61240, "cw-beam, with measuringtime"},
        {61241, "Triggered operation with exposure time"},
        {61242, "Noname"},

        // Settings file: message and section/key names
        {61248, "The *.ini file cannot be written!\nCheck if this file is write-protected ."},
        {61251, "Address"},
        {61252, "Wavelength"},
        {61253, "RotationSpeed"},
        {61254, "Camerachip"},
        {61255, "LaserPower"},
        {61256, "Focallength"},
        {61257, "BeamFindTrigger"},
        {61258, "BeamFindPercent"},
        {61259, "FuncExist"},
        {61260, "Detectortype"},
        {61261, "MechanicalLimits"},
        {61262, "Startfile"},
        {61271, "CompanyAddress"},
        {61272, "ServiceTechnician"},
        {61273, "Command_No"},
        {61274, "File_No"},
        {61275, "BusProtocol"},
        {61276, "Protocol"},
        {61277, "CarriageConstant"},
        {61278, "Script"},
        {61279, "Trigger_modi"},

        // Status list, value area, buttons and alarms
        {61280, "Error: NO FLOW RATE, SHUT DOWN LASER IMMEDIATELY!!!"},
        {61285, "Voltage"},
        {61287, "Deviation"},
        {61288, "Limit"},
        {61289, "O.K."},
        {61290, "Start electronic calibration"},
        {61291, "!!!DANGER!!!\n!!!SHUTDOWN LASER!!!\n!!!Shutter NOT OPEN!!!"},
        {61292, "!!!DANGER!!!\n!!!SHUTDOWN LASER!!!\n!!!NO water!!!"},
        {61293, "!!!DANGER!!!\n!!!SHUTDOWN LASER!!!\n!!!LOW flow rate!!!"},
        {61294, "Close shutter"},
        {61295, "Open shutter"},
        {61296, "Electronic Calibration"},
        {61297, "Calorimeter"},
        {61298, "Warning: Timeout, electronic calibration stopped"},
        {61299, "Error: Electronic calibration stopped"},
        {61300, "Error: Low flow rate, electronic calibration stopped"},
        {61301, "Current"},
        {61302, "Shutdown LASER before electric calibration!"},
        {61303, "Thermalizing"},
        {61304, "No reading from the meter since %s"},
        {61305, "Readings resumed"},
        {61306, "Std. deviation"},
        {61340, "Measurement stopped \xE2\x80\x94 last reading %s"},
        {61341, "Measurement stopped"},
        {61342, "No meter found"},
        {61343, "No meter found: measuring cannot start.\nCheck the meter's cable and power, then choose the link "
                "in the \"Communication\" menu."},
        {61344, "Calibration ended: passed, deviation %s within the limit of %s"},
        {61345, "Calibration ended: FAILED, deviation %s beyond the limit of %s"},
        {61346, "Calibration ended without a result: no calibration readings"},
        {61470, "The settings file %s holds the MQTT password and may be read by other users.\n"
                "Make it readable by its owner only (chmod 600)."},
        {61471, "Device Address=%s in the settings is no bus address (0 to 255): %s is used."},
        {61472, "The settings file %s has no \"[Version] no=%s\" line, so it was replaced by the initial "
                "settings.\nThe old file is kept as %s: copy what you need from it into the new one."},

        // Questions, link state, alarms, the zero field and the averaging
        {kUnknownShutterQuestion, "Shutter state unknown! Continue anyway?"},
        {kLinkLost, "Link to the meter lost: %s (%s); trying again every %d s"},
        {kLinkRestored, "Link to the meter restored: %s"},
        {kSerialPortName, "serial port %s"},
        {kUsbAdapterName, "USB adapter \"%s\""},
        {kErrorCode, "error code %d"},
        {kExitWhileMeasuring, "A measurement is running. End the program?\nThe points shown are lost."},
        {kExitWhileCalibrating,
         "The electronic calibration is running. End the program?\nThe heater is switched off first."},
        {kZeroRefused, "Zero level \"%s\" is not a number: the offset stays %s W"},
        {kAlarmNoFlow, "No flow"},
        {kAlarmLowFlow, "Low flow"},
        {kAlarmShutter, "Shutter not open"},
        {kAlarmRaised, "raised"},
        {kAlarmCleared, "cleared"},
        {kActiveAlarms, "Alarms"},
        {kAlarmSince, "since %s"},
        {kAlarmLog, "Alarm log"},
        {kAlarmLogEmpty, "No alarm since the program started."},
        {kAverageAll, "all"},
        {kCalibrationWindow, "The calibration averages over its own %d s."},
        {kButtonOk, "OK"},
        {kButtonCancel, "Cancel"},
        {kButtonYes, "Yes"},
        {kButtonNo, "No"},
        {kAcknowledge, "Acknowledge"},
        {kAlarmWasActive, "%s to %s"},
        {kCalibrationWindowItem, "%ds calibration"},
        {kAlarmLogTime, "Time"},
        {kCommandNoMeter, "\"%s\" refused: no meter found"},
        {kCommandIdentifying, "\"%s\" refused: the meter is being identified; try again when it has answered"},
        {kCommandCalibrating, "\"%s\" refused: the electronic calibration runs (stop it first)"},
        {kCommandMeasuring, "\"%s\" refused: a measurement runs (stop it first)"},
        {kCommandShutterUnknown, "\"%s\" refused: the shutter state is unknown; open the shutter or start at the meter"},
        {kCommandNoCalibration, "\"%s\" refused: the %s has no electronic calibration"},
        {kCommandLaserOn, "\"%s\" refused: laser power detected (%s W)"},
        {kCommandNoReading, "\"%s\" refused: no current reading"},
        {kCommandNoShutter, "\"%s\" refused: the meter has no shutter"},
        {kCommandShutterMoving, "\"%s\" refused: the shutter is moving"},
        {kCommandNotANumber, "\"%s\" refused: \"%s\" is not a number"},
        {kCommandCancelled, "\"%s\" cancelled"},
        {kCommandNotStarted, "\"%s\" could not start"},
        {kCommandRetained, "retained command ignored: commands must not be retained"},
        {kCommandTooLong, "command of %s bytes dropped unread (at most %s)"},
        {kCommandTooMany, "too many commands: dropped unread"},
        {kCommandUnknownWord, "unknown command \"%s\" ignored"},
        {kCommandRefusalsHeld, " (and %s more of this kind since the last report)"},
        {kAlarmNoReading, "No reading"},
        {kAlarmLinkLost, "Link to the meter lost"},
        {kHistoryMovedAside, "History file %s could not be used (%s): moved aside as %s; a new history begins"},
        {kHistoryInUse, "History file %s is in use by another program: this one measures without history"},
        {kHistoryUnavailable, "History file %s cannot be written (%s): measuring goes on without history"},
        {kHistoryStopped, "History writes stopped (%s): measuring goes on"},
        {kHistoryEarlierRuns, "Earlier runs"},
        {kHistoryLoaded, "Points read back from the history: %s"},
        {kHistoryNotSqlite, "not an SQLite file"},
        {kHistoryDamaged, "damaged"},
        {kHistoryForeign, "not a history file of this program"},
        {kHistoryNewer, "written by a newer version, schema %s"},
        {kHistoryReadOnly, "read-only"},
        {kHistoryDiskFull, "the disk is full"},
        {kCannotListen, "cannot listen on %s: %s"},
        {kAlarmLogAlarm, "Alarm"},
        {kAlarmLogEvent, "Event"},

        // Operating-system errors (see osErrorText)
        {kOsErrorOther, "system error %d"},
        {kOsErrorNoEntry, "No such file or directory"},
        {kOsErrorAccess, "Permission denied"},
        {kOsErrorNoSpace, "No space left on device"},
        {kOsErrorReadOnly, "Read-only file system"},
        {kOsErrorIsDirectory, "Is a directory"},
        {kOsErrorNotDirectory, "Not a directory"},
        {kOsErrorIo, "Input/output error"},
        {kOsErrorBusy, "Device or resource busy"},
        {kOsErrorNoDevice, "No such device"},
        {kOsErrorNameTooLong, "File name too long"},
        {kOsErrorTooManyFiles, "Too many open files"},
        {kOsErrorAddressInUse, "Address already in use"},
        {kOsErrorAddressNotAvailable, "Cannot assign requested address"},

        // Serial link errors, by kind (see commErrorText)
        {kCommErrorBase + 0, "CSerial: Error !"},
        {kCommErrorBase + 1, "CSerial: Error at Cyclic Buffering"},
        {kCommErrorBase + 2, "CSerial: Cannot open Serial Interface !"},
        {kCommErrorBase + 3, "CSerial: Error at BuildDCB !"},
        {kCommErrorBase + 4, "CSerial: Error at SetCommState !"},
        {kCommErrorBase + 5, "CSerial: Cannot close Serial Interface !"},
        {kCommErrorBase + 6, "CSerial: No Echo"},
        {kCommErrorBase + 7, "No Port opened!\nPlease select 'Com-Port' first"},
        {kCommErrorBase + 8, "CSerial: Error !"},
    };
    return table;
}

std::map<unsigned, std::string>& overrides()
{
    static std::map<unsigned, std::string> table;
    return table;
}

} // namespace

const std::string& text(unsigned id)
{
    static const std::string empty;
    if (auto it = overrides().find(id); it != overrides().end())
        return it->second;
    if (auto it = builtIn().find(id); it != builtIn().end())
        return it->second;
    return empty;
}

bool has(unsigned id) { return overrides().count(id) || builtIn().count(id); }

void setOverrides(std::map<unsigned, std::string> table) { overrides() = std::move(table); }

std::string osErrorText(int code)
{
    switch (code) {
    case ENOENT: return text(kOsErrorNoEntry);
    case EACCES:
    case EPERM: return text(kOsErrorAccess);
    case ENOSPC:
    case EDQUOT: return text(kOsErrorNoSpace);
    case EROFS: return text(kOsErrorReadOnly);
    case EISDIR: return text(kOsErrorIsDirectory);
    case ENOTDIR: return text(kOsErrorNotDirectory);
    case EIO: return text(kOsErrorIo);
    case EBUSY: return text(kOsErrorBusy);
    case ENXIO:
    case ENODEV: return text(kOsErrorNoDevice);
    case ENAMETOOLONG: return text(kOsErrorNameTooLong);
    case EMFILE:
    case ENFILE: return text(kOsErrorTooManyFiles);
    case EADDRINUSE: return text(kOsErrorAddressInUse);
    case EADDRNOTAVAIL: return text(kOsErrorAddressNotAvailable);
    default: return fill(text(kOsErrorOther), {std::to_string(code)});
    }
}

std::string fill(const std::string& pattern, std::initializer_list<std::string> values)
{
    std::string out;
    auto value = values.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 's' || pattern[i + 1] == 'd')) {
            if (value != values.end())
                out += *value++;
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

const std::string& commErrorText(unsigned kind)
{
    static const std::string empty;
    return kind <= kCommErrorLastKind ? text(kCommErrorBase + kind) : empty;
}

} // namespace bv::strings
