#include "ui/StatusLogic.h"

#include <cstdio>

#include "res/StringTable.h"

namespace bv::status {

bool takesPart(const MeasurePoint& p) { return p.valid || p.heaterState == 0; }

Outcome evaluate(const MeasurePoint& p, const DeviceView& d)
{
    Outcome o;
    bool shutterProblem = false;
    if (p.valid) {
        if (!d.compactModel && !d.calibrationRunning &&
            (d.shutterState == 1 || d.shutterState == 2 || d.shutterState == 4)) {
            o.message = strings::text(4008);
            o.kind = kError;
            o.alarmText = strings::text(61291);
            shutterProblem = true;
            if (d.shutterState == 4 && !d.unknownShutterConfirmed)
                o.alarmShown = true;
        }
        if (!(p.flow > 0)) {
            o.message = strings::text(61280);
            o.kind = kError;
            o.alarmText = strings::text(61292);
            o.alarmShown = true;
        } else if (p.flow < d.flowMinimum) {
            o.message = strings::text(4007);
            o.kind = kError;
            o.alarmText = strings::text(61293);
            o.alarmShown = true;
        } else if (!shutterProblem) {
            o.message = strings::text(61289);
            o.kind = kInformation;
        }
    } else if (p.heaterValue & 1) {
        o.message = strings::text(61298);
        o.kind = kWarning;
    } else if (p.heaterValue & 2) {
        o.message = strings::text(61300);
        o.kind = kError;
        o.alarmText = strings::text(61293);
        o.alarmShown = true;
    } else {
        o.message = strings::text(61299);
        o.kind = kError;
    }
    if (!o.alarmShown && p.thermalization >= 0)
        o.thermalizationShown = p.thermalization;
    return o;
}

void StatusLines::add(std::string text, int kind)
{
    m_droppedOne = false;
    if (m_lines.size() >= kMaxLines) {
        m_lines.pop_front();
        m_droppedOne = true;
    }
    m_lines.push_back({std::move(text), kind});
}

std::string shutterButtonText(int shutterState)
{
    switch (shutterState) {
    case 0: return strings::text(61294);
    case 1:
    case 2:
    case 4: return strings::text(61295);
    default: return "";
    }
}

bool shutterButtonEnabled(bool compactModel, bool useSps) { return !(compactModel && !useSps); }

ShutterAction shutterAction(int shutterState, const MeasurePoint* newest)
{
    switch (shutterState) {
    case 0:
        if (!newest)
            return ShutterAction::None;
        return newest->power > 50 ? ShutterAction::RefuseLaserOn : ShutterAction::Close;
    case 1:
    case 4: return ShutterAction::Open;
    default: return ShutterAction::None;
    }
}

std::string thermalizingText(int countdown)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "%s %2d ...", strings::text(61303).c_str(), countdown);
    return buf;
}

} // namespace bv::status
