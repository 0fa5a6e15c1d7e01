#include "ui/ValueLayout.h"

#include <cmath>
#include <cstdio>

#include "res/StringTable.h"

namespace bv::value {

std::string format(const char* fmt, double value)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, fmt, value);
    std::string text = buf;
    // A small negative value rounded to zero reads "-0": show it as 0.
    const size_t minus = text.find('-');
    if (minus != std::string::npos && text.find_first_of("123456789") == std::string::npos &&
        text.find('0', minus) != std::string::npos) {
        if (minus > 0 && text[0] == ' ')
            text[minus] = ' ';  // keep the width of a padded field
        else
            text.erase(minus, 1);
    }
    return text;
}

namespace {

PanelLayout panel(int w, int h, int cells)
{
    PanelLayout p;
    const int m = kMargin;
    const int B = h;
    const int c = w / cells;
    const int r = h / 12;
    p.cells = cells;
    p.columnWidth = c;
    p.rowHeight = r;
    p.title = {m, 0, w + m, r};
    p.bigValue = {m, 2 * r, w, static_cast<int>(2 * r + 0.75 * h)};
    p.unit = {m, static_cast<int>(2 * r + 0.5 * h), w - m, static_cast<int>(2 * r + 0.75 * h - m)};
    for (int i = 0; i < cells; ++i) {
        p.header[i] = {m + i * c, B - 2 * r, m + c + i * c, B - r};
        p.values[i] = {m + i * c, B - r, m + c + i * c, B};
    }
    p.lines[p.lineCount++] = {0, r, w, r};
    p.lines[p.lineCount++] = {0, B - 2 * r, w, B - 2 * r};
    p.lines[p.lineCount++] = {0, B - r, w, B - r};
    for (int i = 0; i < cells; ++i)
        p.lines[p.lineCount++] = {i * c, B - 2 * r, i * c, B};
    return p;
}

} // namespace

PanelLayout digitalLayout(int width, int height) { return panel(width, height, 5); }

PanelLayout ecLayout(int width, int height)
{
    PanelLayout p = panel(width, height, 5);
    // The EC panel also has its left edge drawn over the full height.
    p.lines[p.lineCount++] = {0, 0, 0, height};
    return p;
}

DigitalTexts digitalTexts(const DigitalInput& in)
{
    DigitalTexts t;
    const char* modeName;
    switch (in.mode) {
    case kMin: modeName = "Min"; break;
    case kMax: modeName = strings::text(4000).c_str(); break;
    case kAverage: modeName = strings::text(4001).c_str(); break;
    default: modeName = strings::text(4002).c_str(); break;
    }
    t.title = strings::text(61297) + " " + modeName;
    t.header = {strings::text(4002), strings::text(4000), "Min",
                in.averageWindow.empty() ? strings::text(4001) : strings::text(4001) + " " + in.averageWindow,
                strings::text(61306)};
    if (!in.hasPoints) {
        // Nothing measured: no digit at all, not even a zero.
        t.bigValue = kNoValue;
        t.values.fill(std::string(kNoValue) + " W");
        return t;
    }
    // Old digits must never pass for live ones; the statistics stay.
    if (in.stale)
        t.bigValue = kNoValue;
    char fmt[16];
    std::snprintf(fmt, sizeof fmt, "%%5.%df", in.decimals);
    double big;
    switch (in.mode) {
    case kMin: big = in.minimum; break;
    case kMax: big = in.maximum; break;
    case kAverage: big = in.average; break;
    default: big = in.current; break;
    }
    if (!in.stale)
        t.bigValue = in.mode == kAverage && in.averageCount < 1 ? std::string(kNoValue) : format(fmt, big);
    const std::string unitFmt = std::string(fmt) + " W";
    // With the number of points behind them; a deviation needs two.
    const std::string covered = "  n=" + std::to_string(in.averageCount);
    t.values = {in.stale ? std::string(kNoValue) + " W" : format(unitFmt.c_str(), in.current),
                format(unitFmt.c_str(), in.maximum), format(unitFmt.c_str(), in.minimum),
                in.averageCount < 1 ? std::string(kNoValue) + " W" : format("%.2f W", in.average) + covered,
                in.averageCount < 2 ? std::string(kNoValue) + " W" : format("%.2f W", in.stdDeviation) + covered};
    return t;
}

EcTexts ecTexts(const EcInput& in)
{
    EcTexts t;
    t.title = strings::text(61296) + " " + strings::text(4001);
    t.bigValue = format("%5.0f", in.ecAverage);
    t.header = {strings::text(4002), strings::text(61285), strings::text(61301), strings::text(61287),
                strings::text(61288)};
    t.deviation = in.ecAverage == 0 ? 0 : (in.average - in.ecAverage) / in.ecAverage * 100;
    t.deviationRed = std::fabs(t.deviation) > in.limit;
    t.values = {format("%.0f W", in.ecPower), format("%.0f V", in.ecVoltage), format("%.3f A", in.ecCurrent),
                format("%.2f%%", t.deviation), format("%.2f%%", in.limit)};
    if (in.stale) {
        t.bigValue = kNoValue;
        for (int i = 0; i < 3; ++i)
            t.values[i] = std::string(kNoValue) + t.values[i].substr(t.values[i].rfind(' '));
    }
    return t;
}

} // namespace bv::value
