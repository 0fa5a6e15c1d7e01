#pragma once
#include <deque>
#include <optional>
#include <string>

#include "data/MeasurePoint.h"

namespace bv::status {

enum Kind { kError = 0, kWarning = 1, kInformation = 2 };

// What the status update reads of the device.
struct DeviceView {
    int shutterState = 4;  // 0 open, 1 closed, 2 error, 3 none, 4 unknown
    bool compactModel = false;
    bool calibrationRunning = false;  // the EC protocol flag
    bool unknownShutterConfirmed = false;
    double flowMinimum = 4.0;
};

struct Outcome {
    std::string message;
    int kind = kInformation;
    std::optional<std::string> alarmText;  // set only when this point chose one
    bool alarmShown = false;
    int thermalizationShown = -1;
};

// Whether a newest point takes part in the status update at all.
bool takesPart(const MeasurePoint& point);
// The status line and alarm for the newest point.
Outcome evaluate(const MeasurePoint& point, const DeviceView& device);

// The status list: at most 21 lines, the oldest dropped first.
class StatusLines {
public:
    static constexpr size_t kMaxLines = 21;
    struct Line {
        std::string text;
        int kind;
    };
    void add(std::string text, int kind);
    const std::deque<Line>& lines() const { return m_lines; }
    bool droppedOne() const { return m_droppedOne; }

private:
    std::deque<Line> m_lines;
    bool m_droppedOne = false;
};

// Shutter button: its text and whether it may be pressed.
std::string shutterButtonText(int shutterState);
bool shutterButtonEnabled(bool compactModel, bool useSps);

enum class ShutterAction { None, Close, Open, RefuseLaserOn };
// Above 50 W the shutter must not close onto a running laser.
ShutterAction shutterAction(int shutterState, const MeasurePoint* newest);

// "Thermalizing  7 ..."
std::string thermalizingText(int countdown);

} // namespace bv::status
