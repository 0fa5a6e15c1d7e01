#include "devices/Alarms.h"

#include <algorithm>
#include <cstdio>

#include "data/CBrivaneDoc.h"
#include "devices/PowerMeter.h"
#include "res/StringTable.h"

namespace bv {
namespace status {

DeviceView viewOf(const CPowerMeter& device)
{
    DeviceView view;
    view.shutterState = device.m_iShutterState;
    view.compactModel = !device.Model().shutterChecked;
    view.calibrationRunning = device.CalibrationRunning();
    view.unknownShutterConfirmed = device.m_bUnknownShutterConfirmed != 0;
    view.flowMinimum = device.m_dFlowMin;
    view.limitsKnown = device.LimitsKnown();
    return view;
}

bool takesPart(const MeasurePoint& p) { return p.valid || p.heaterState == 0; }

Outcome evaluate(const MeasurePoint& p, const DeviceView& d)
{
    Outcome o;
    bool shutterProblem = false;
    if (p.valid && !d.limitsKnown)
        return o;
    if (p.valid) {
        if (!d.compactModel && !d.calibrationRunning &&
            (d.shutterState == 1 || d.shutterState == 2 || d.shutterState == 4)) {
            o.message = strings::text(4008);
            o.kind = kError;
            o.alarmText = strings::text(61291);
            shutterProblem = true;
            o.shutterNotOpen = true;
            if (d.shutterState == 4 && !d.unknownShutterConfirmed)
                o.alarmShown = true;
        }
        if (!(p.flow > 0)) {
            o.message = strings::text(61280);
            o.kind = kError;
            o.alarmText = strings::text(61292);
            o.alarmShown = true;
            o.noFlow = true;
        } else if (p.flow < d.flowMinimum) {
            o.message = strings::text(4007);
            o.kind = kError;
            o.alarmText = strings::text(61293);
            o.alarmShown = true;
            o.lowFlow = true;
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
        o.lowFlow = true;
    } else {
        o.message = strings::text(61299);
        o.kind = kError;
    }
    if (!o.alarmShown && p.thermalization >= 0)
        o.thermalizationShown = p.thermalization;
    return o;
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

bool shutterButtonEnabled(bool shutterNeedsPlc, bool useSps) { return !(shutterNeedsPlc && !useSps); }

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

} // namespace status

const char* alarmName(AlarmKind kind)
{
    switch (kind) {
    case AlarmKind::NoFlow: return "no flow";
    case AlarmKind::LowFlow: return "low flow";
    case AlarmKind::Shutter: return "shutter";
    case AlarmKind::NoReading: return "no reading";
    case AlarmKind::LinkLost: return "link lost";
    }
    return "";
}

AlarmMonitor::AlarmMonitor(CPowerMeter& device) : m_device(device) { m_device.Store().AddListener(this); }

AlarmMonitor::~AlarmMonitor() { m_device.Store().RemoveListener(this); }

void AlarmMonitor::addListener(IAlarmListener* listener)
{
    if (listener && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void AlarmMonitor::removeListener(IAlarmListener* listener)
{
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

void AlarmMonitor::addPointListener(IPointListener* listener)
{
    if (listener && std::find(m_pointListeners.begin(), m_pointListeners.end(), listener) == m_pointListeners.end())
        m_pointListeners.push_back(listener);
}

void AlarmMonitor::removePointListener(IPointListener* listener)
{
    m_pointListeners.erase(std::remove(m_pointListeners.begin(), m_pointListeners.end(), listener),
                           m_pointListeners.end());
}

void AlarmMonitor::raise(AlarmKind kind, bool on, const std::string& text, int64_t sinceMs)
{
    if (!decidedByPoint(kind))
        set(kind, on, text, sinceMs);
}

std::vector<std::string> AlarmMonitor::activeNames() const
{
    std::vector<std::string> names;
    for (int i = 0; i < kAlarmKinds; ++i)
        if (m_active[i])
            names.emplace_back(alarmName(static_cast<AlarmKind>(i)));
    return names;
}

void AlarmMonitor::clearAll()
{
    for (int i = 0; i < kAlarmKinds; ++i)
        set(static_cast<AlarmKind>(i), false, {});
}

void AlarmMonitor::OnDocChanged(int hint, CDeviceDoc*)
{
    if (hint != kDocNewPoint)
        return;
    const CBrivaneDoc& store = m_device.Store();
    const MeasurePoint* newest = store.pGetLastMeasureValue();
    if (!newest)
        return;
    DecidedPoint decided{*newest, store.NewestSeq(), m_device.m_iShutterState, nullptr};
    if (status::takesPart(*newest)) {
        m_outcome = status::evaluate(*newest, status::viewOf(m_device));
        m_judgedClears = store.ClearCount();
        m_judgedSeq = decided.seq;
        decided.outcome = &m_outcome;
        const status::Outcome& o = m_outcome;
        if (newest->valid) {
            set(AlarmKind::NoFlow, o.noFlow, o.message);
            set(AlarmKind::LowFlow, o.lowFlow, o.message);
            set(AlarmKind::Shutter, o.shutterNotOpen, strings::text(4008));
        } else if (o.lowFlow) {
            // A calibration stopped for low flow.
            set(AlarmKind::LowFlow, true, o.message);
        }
    }
    const auto listeners = m_pointListeners;
    for (IPointListener* l : listeners)
        if (std::find(m_pointListeners.begin(), m_pointListeners.end(), l) != m_pointListeners.end())
            l->OnNewPoint(decided);
}

const status::Outcome* AlarmMonitor::outcomeForNewest() const
{
    const CBrivaneDoc& store = m_device.Store();
    if (store.GetCount() == 0 || store.ClearCount() != m_judgedClears || store.NewestSeq() != m_judgedSeq)
        return nullptr;
    return &m_outcome;
}

void AlarmMonitor::set(AlarmKind kind, bool on, const std::string& text, int64_t sinceMs)
{
    bool& state = m_active[static_cast<int>(kind)];
    if (state == on)
        return;
    state = on;
    m_texts[static_cast<int>(kind)] = on ? text : std::string();
    const AlarmChange change{kind, on, on ? text : std::string(), on ? sinceMs : 0};
    const auto listeners = m_listeners;
    for (IAlarmListener* l : listeners)
        l->OnAlarm(change);
}

} // namespace bv
