#include "app/CalibrationJudge.h"

#include "control/Messages.h"
#include "devices/PowerMeter.h"
#include "platform/Logging.h"
#include "settings/ProgramSettings.h"

namespace bv {
namespace {
const log::Logger& logger()
{
    static const log::Logger l("CalibrationJudge");
    return l;
}
} // namespace

CalibrationJudge::CalibrationJudge(CPowerMeter& device, const ProgramSettings& settings)
    : m_device(device), m_settings(settings)
{
    m_device.AddListener(this);
}

CalibrationJudge::~CalibrationJudge() { m_device.RemoveListener(this); }

void CalibrationJudge::OnDeviceChanged(int code, long parameter)
{
    if (parameter != static_cast<long>(MeasuringMode::Calibration))
        return;
    const CBrivaneDoc& store = m_device.Store();
    if (code == kNotifyMeasuringStarted && m_device.Measuring()) {
        m_running = true;
        m_firstSeq = store.FirstSeq() + store.GetCount();
        m_clears = store.ClearCount();
    } else if (code == kNotifyMeasuringEnded && m_running) {
        m_running = false;
        // Points cleared during the calibration: what is left is all it has.
        const int64_t first = store.ClearCount() == m_clears ? m_firstSeq : store.FirstSeq();
        m_last = evaluateCalibration(store, first, m_settings.m_dDeviationLimit);
        BV_LOG_INFO(logger(), "BV_cal", "calibration ended: deviation " << m_last->deviationPercent << " % limit "
                                                          << m_last->limitPercent << " %, "
                                                          << (!m_last->available ? "no result"
                                                              : m_last->passed   ? "passed"
                                                                                 : "failed"));
        if (m_keeper)
            m_keeper(*m_last);
        if (m_frontEnd)
            m_frontEnd(*m_last);
    }
}

} // namespace bv
