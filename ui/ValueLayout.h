#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace bv::value {

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const Box&) const = default;
};

struct Line {
    int x1, y1, x2, y2;
};

// Geometry of one value panel in panel coordinates (x from 0 to w, top 0).
struct PanelLayout {
    int columnWidth = 0;   // c
    int rowHeight = 0;     // r
    Box title;
    Box bigValue;
    Box unit;
    std::array<Box, 5> header{};  // five cells on either panel
    std::array<Box, 5> values{};
    int cells = 4;
    std::array<Line, 9> lines{};
    int lineCount = 0;
};

constexpr int kMargin = 5;
PanelLayout digitalLayout(int width, int height);
PanelLayout ecLayout(int width, int height);

// Display modes of the radio group.
enum Mode { kCurrent = 0, kMin = 1, kMax = 2, kAverage = 3 };

// Inputs of the calorimeter panel, read at drawing time.
struct DigitalInput {
    bool hasPoints = false;
    double current = 0, minimum = 0, maximum = 0, average = 0;
    double stdDeviation = 0;  // of the power over the averaging window
    int averageCount = 0;     // points the average and the deviation cover
    std::string averageWindow;  // the window's length as shown ("30 s"), empty: not shown
    int decimals = 0;  // 1 on a type-3.4 device
    int mode = kCurrent;
    bool stale = false;  // no reading for too long: "---" instead of the current value
};

struct DigitalTexts {
    std::string title;
    std::string bigValue;        // empty when the store is empty
    std::array<std::string, 5> header;  // Current, Peak, Min, Average, Std. deviation
    std::array<std::string, 5> values;  // empty when the store is empty
};
DigitalTexts digitalTexts(const DigitalInput& in);

struct EcInput {
    double average = 0;    // dGetAverage(0)
    double ecAverage = 0;  // dGetAverage(4)
    double ecPower = 0, ecVoltage = 0, ecCurrent = 0;  // newest point
    double limit = 1.5;    // "Deviation Limit", percent
    bool stale = false;
};

struct EcTexts {
    std::string title;
    std::string bigValue;
    std::array<std::string, 5> header;
    std::array<std::string, 5> values;
    double deviation = 0;
    bool deviationRed = false;
};
EcTexts ecTexts(const EcInput& in);

constexpr uint32_t kBlue = 0xFF0000;  // 0x00BBGGRR
constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kStaleGrey = 0x999999;  // everything drawn while the readings are stale
inline constexpr const char* kNoValue = "---";

// Font heights in pixels (character height).
constexpr int kLabelFont = 12;
constexpr int kBigFont = 150;
constexpr int kBigFontCalibration = 100;
constexpr int kUnitFont = 30;
constexpr int kAlarmFont = 50;

std::string format(const char* fmt, double value);

} // namespace bv::value
