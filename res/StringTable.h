#pragma once
#include <initializer_list>
#include <map>
#include <string>

namespace bv::strings {

// The program's texts by number. A language module may replace any of them.
const std::string& text(unsigned id);
bool has(unsigned id);
// Replaces texts (a language module's table); an empty map restores our own.
void setOverrides(std::map<unsigned, std::string> overrides);

// "%s" and "%d" in a text replaced by the values in turn (already formatted).
std::string fill(const std::string& pattern, std::initializer_list<std::string> values);

// An errno value as the operator reads it, in the table's language (the
// system's own text would stay English).
std::string osErrorText(int code);

// Texts referred to by name.
inline constexpr unsigned kUnknownShutterQuestion = 61400;
inline constexpr unsigned kLinkLost = 61401;
inline constexpr unsigned kLinkRestored = 61402;
inline constexpr unsigned kSerialPortName = 61403;
inline constexpr unsigned kUsbAdapterName = 61404;
inline constexpr unsigned kErrorCode = 61405;
inline constexpr unsigned kExitWhileMeasuring = 61406;
inline constexpr unsigned kExitWhileCalibrating = 61407;
inline constexpr unsigned kZeroRefused = 61408;
inline constexpr unsigned kAlarmNoFlow = 61409;
inline constexpr unsigned kAlarmLowFlow = 61410;
inline constexpr unsigned kAlarmShutter = 61411;
inline constexpr unsigned kAlarmRaised = 61412;
inline constexpr unsigned kAlarmCleared = 61413;
inline constexpr unsigned kActiveAlarms = 61414;
inline constexpr unsigned kAlarmSince = 61415;
inline constexpr unsigned kAlarmLog = 61416;
inline constexpr unsigned kAlarmLogEmpty = 61417;
inline constexpr unsigned kAverageAll = 61418;
inline constexpr unsigned kCalibrationWindow = 61419;
inline constexpr unsigned kButtonOk = 61420;
inline constexpr unsigned kButtonCancel = 61421;
inline constexpr unsigned kButtonYes = 61422;
inline constexpr unsigned kButtonNo = 61423;
inline constexpr unsigned kAcknowledge = 61424;
inline constexpr unsigned kAlarmWasActive = 61425;
inline constexpr unsigned kCalibrationWindowItem = 61426;
inline constexpr unsigned kAlarmLogTime = 61427;
inline constexpr unsigned kAlarmLogAlarm = 61428;
inline constexpr unsigned kAlarmLogEvent = 61429;
inline constexpr unsigned kOsErrorOther = 61430;
inline constexpr unsigned kOsErrorNoEntry = 61431;
inline constexpr unsigned kOsErrorAccess = 61432;
inline constexpr unsigned kOsErrorNoSpace = 61433;
inline constexpr unsigned kOsErrorReadOnly = 61434;
inline constexpr unsigned kOsErrorIsDirectory = 61435;
inline constexpr unsigned kOsErrorNotDirectory = 61436;
inline constexpr unsigned kOsErrorIo = 61437;
inline constexpr unsigned kOsErrorBusy = 61438;
inline constexpr unsigned kOsErrorNoDevice = 61439;
inline constexpr unsigned kOsErrorNameTooLong = 61440;
inline constexpr unsigned kOsErrorTooManyFiles = 61441;
inline constexpr unsigned kOsErrorAddressInUse = 61442;
inline constexpr unsigned kOsErrorAddressNotAvailable = 61443;
// Commands refused, and why.
inline constexpr unsigned kCommandNoMeter = 61490;
inline constexpr unsigned kCommandIdentifying = 61491;
inline constexpr unsigned kCommandCalibrating = 61492;
inline constexpr unsigned kCommandMeasuring = 61493;
inline constexpr unsigned kCommandShutterUnknown = 61494;
inline constexpr unsigned kCommandNoCalibration = 61495;
inline constexpr unsigned kCommandLaserOn = 61496;
inline constexpr unsigned kCommandNoReading = 61497;
inline constexpr unsigned kCommandNoShutter = 61498;
inline constexpr unsigned kCommandShutterMoving = 61499;
inline constexpr unsigned kCommandNotANumber = 61500;
inline constexpr unsigned kCommandCancelled = 61501;
inline constexpr unsigned kCommandNotStarted = 61502;
inline constexpr unsigned kCommandRetained = 61503;
inline constexpr unsigned kCommandTooLong = 61504;
inline constexpr unsigned kCommandTooMany = 61505;
inline constexpr unsigned kCommandUnknownWord = 61506;
inline constexpr unsigned kCommandRefusalsHeld = 61507;
inline constexpr unsigned kAlarmNoReading = 61508;
inline constexpr unsigned kAlarmLinkLost = 61509;
inline constexpr unsigned kHistoryMovedAside = 61510;
inline constexpr unsigned kHistoryInUse = 61511;
inline constexpr unsigned kHistoryUnavailable = 61512;
inline constexpr unsigned kHistoryStopped = 61513;
inline constexpr unsigned kHistoryEarlierRuns = 61514;
inline constexpr unsigned kHistoryLoaded = 61515;
inline constexpr unsigned kHistoryNotSqlite = 61516;
inline constexpr unsigned kHistoryDamaged = 61517;
inline constexpr unsigned kHistoryForeign = 61518;
inline constexpr unsigned kHistoryNewer = 61519;
inline constexpr unsigned kHistoryReadOnly = 61520;
inline constexpr unsigned kHistoryDiskFull = 61521;
inline constexpr unsigned kCannotListen = 61522;

// The serial link's error messages, one per kind 0..8, held in the table from
// kCommErrorBase on so that a language module can replace them too. Kinds
// above 8 give an empty text.
inline constexpr unsigned kCommErrorBase = 61310;
inline constexpr unsigned kCommErrorLastKind = 8;
const std::string& commErrorText(unsigned kind);

} // namespace bv::strings
