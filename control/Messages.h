#pragma once

namespace bv {

// Window message numbers (first user message number + 100/200/201). They
// appear in logs and as the window's custom event types.
constexpr int kMsgTimerContinue = 1124;  // heartbeat continuation
constexpr int kMsgDocChanged = 1224;     // the store has a new point
constexpr int kMsgDeviceChanged = 1225;  // device notification (code, parameter)

// Codes of the device notification.
constexpr int kNotifyShutterEnded = 1;
constexpr int kNotifyIdentificationEnded = 1125;
constexpr int kNotifyMeasuringStarted = 1126;  // parameter: mode
constexpr int kNotifyMeasuringEnded = 1127;    // parameter: mode
constexpr int kNotifySingleReading = 1128;     // parameter: 2
// A line for the operator's status list: the text is the device's
// StatusText(), the parameter its kind (kStatusError, kStatusWarning, ...).
constexpr int kNotifyStatusLine = 1129;

// Kinds of a status line, as the window's status list knows them.
constexpr int kStatusError = 0;
constexpr int kStatusWarning = 1;
constexpr int kStatusInformation = 2;

// End words of state programs.
inline constexpr const char* kEndOk = "OK";
inline constexpr const char* kEndFailed = "FEHLER1";

} // namespace bv
