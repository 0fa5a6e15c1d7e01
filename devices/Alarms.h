#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "control/DeviceDoc.h"
#include "data/MeasurePoint.h"

namespace bv {

class CPowerMeter;

namespace status {

enum Kind { kError = 0, kWarning = 1, kInformation = 2 };

// What the status decision reads of the device.
struct DeviceView {
    int shutterState = 4;  // 0 open, 1 closed, 2 error, 3 none, 4 unknown
    bool compactModel = false;        // no shutter check
    bool calibrationRunning = false;  // the EC protocol flag
    bool unknownShutterConfirmed = false;
    double flowMinimum = 4.0;
    // Until the identification has told the model and its flow minimum, a
    // reading is not judged: the defaults would raise false alarms.
    bool limitsKnown = true;
};
DeviceView viewOf(const CPowerMeter& device);

struct Outcome {
    std::string message;
    int kind = kInformation;
    std::optional<std::string> alarmText;  // set only when this point chose one
    bool alarmShown = false;
    int thermalizationShown = -1;
    // The conditions behind it, for the alarm states.
    bool noFlow = false;
    bool lowFlow = false;
    bool shutterNotOpen = false;
};

// Whether a newest point takes part in the status update at all.
bool takesPart(const MeasurePoint& point);
// The status line and alarm for the newest point (no line, no alarm while
// the limits are not known).
Outcome evaluate(const MeasurePoint& point, const DeviceView& device);

// Shutter button: its text and whether it may be pressed.
std::string shutterButtonText(int shutterState);
bool shutterButtonEnabled(bool shutterNeedsPlc, bool useSps);

enum class ShutterAction { None, Close, Open, RefuseLaserOn };
// Above 50 W the shutter must not close onto a running laser.
ShutterAction shutterAction(int shutterState, const MeasurePoint* newest);

// "Thermalizing  7 ..."
std::string thermalizingText(int countdown);

} // namespace status

// The first three are decided from a point; the last two by the watch of
// the readings and of the link.
enum class AlarmKind { NoFlow, LowFlow, Shutter, NoReading, LinkLost };
constexpr int kAlarmKinds = 5;
constexpr bool decidedByPoint(AlarmKind kind) { return kind <= AlarmKind::Shutter; }
// "no flow", "low flow", "shutter", "no reading", "link lost"
const char* alarmName(AlarmKind kind);

struct AlarmChange {
    AlarmKind kind;
    bool raised;       // false: cleared
    std::string text;  // the status line that raised it (empty when cleared)
    // Wall time (ms) the condition began, when its watcher knows it (0: the
    // time of the point, or now).
    int64_t sinceMs = 0;
};

class IAlarmListener {
public:
    virtual ~IAlarmListener() = default;
    virtual void OnAlarm(const AlarmChange& change) = 0;
};

// A new point as its listeners get it, after the alarm monitor decided it.
struct DecidedPoint {
    MeasurePoint point;  // with its one time stamp
    int64_t seq = 0;     // its number in the store
    int shutterState = 4;
    // The status decision for it; null when it took no part in one.
    const status::Outcome* outcome = nullptr;
};

class IPointListener {
public:
    virtual ~IPointListener() = default;
    virtual void OnNewPoint(const DecidedPoint& point) = 0;
};

// Keeps the alarm states of the running program: those of the store's new
// points through the one status decision, "no reading" and "link lost" as
// their watchers raise them. Tells its alarm listeners of every change, then
// its point listeners of the decided point. Points that take no part in the
// status update leave the states alone.
class AlarmMonitor final : public IDocListener {
public:
    explicit AlarmMonitor(CPowerMeter& device);
    ~AlarmMonitor() override;
    AlarmMonitor(const AlarmMonitor&) = delete;
    AlarmMonitor& operator=(const AlarmMonitor&) = delete;

    void addListener(IAlarmListener* listener);
    void removeListener(IAlarmListener* listener);
    // Heard in the order added.
    void addPointListener(IPointListener* listener);
    void removePointListener(IPointListener* listener);
    // Raises or clears an alarm not decided from a point; text says why.
    void raise(AlarmKind kind, bool on, const std::string& text, int64_t sinceMs = 0);
    // The text that raised an active alarm.
    const std::string& text(AlarmKind kind) const { return m_texts[static_cast<int>(kind)]; }

    bool active(AlarmKind kind) const { return m_active[static_cast<int>(kind)]; }
    // Names of the active alarms, in the order of AlarmKind.
    std::vector<std::string> activeNames() const;
    // Clears every active alarm (told to the listeners), e.g. when the link is gone.
    void clearAll();
    // The status decision taken for the store's newest point, when it was
    // taken for that point; the status line shows it rather than deciding again.
    const status::Outcome* outcomeForNewest() const;

    void OnDocChanged(int hint, CDeviceDoc* doc) override;

private:
    void set(AlarmKind kind, bool on, const std::string& text, int64_t sinceMs = 0);

    CPowerMeter& m_device;
    status::Outcome m_outcome;
    // Which point it was: the store's clear count and the point's number.
    int64_t m_judgedClears = -1, m_judgedSeq = -1;
    bool m_active[kAlarmKinds] = {};
    std::string m_texts[kAlarmKinds];
    std::vector<IAlarmListener*> m_listeners;
    std::vector<IPointListener*> m_pointListeners;
};

} // namespace bv
