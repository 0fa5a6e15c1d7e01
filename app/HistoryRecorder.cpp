#include "app/HistoryRecorder.h"

#include "control/Messages.h"
#include "data/CalibrationResult.h"
#include "devices/PowerMeter.h"
#include "settings/ProgramSettings.h"

namespace bv {

HistoryRecorder::HistoryRecorder(std::unique_ptr<HistoryStore> store, CPowerMeter& device, AlarmMonitor& alarms)
    : m_store(std::move(store)), m_device(device), m_alarms(alarms)
{
    m_device.AddListener(this);
    m_alarms.addPointListener(this);
}

HistoryRecorder::~HistoryRecorder()
{
    m_alarms.removePointListener(this);
    m_device.RemoveListener(this);
    endRun();
}

void HistoryRecorder::OnNewPoint(const DecidedPoint& decided)
{
    StoredPoint p;
    p.point = decided.point;
    p.runId = m_run;
    p.shutterState = decided.shutterState;
    for (int k = 0; k < kAlarmKinds; ++k)
        if (m_alarms.active(static_cast<AlarmKind>(k)))
            p.alarms |= 1u << k;
    m_store->addPoint(p);
}

void HistoryRecorder::OnDeviceChanged(int code, long parameter)
{
    if (code == kNotifyMeasuringEnded) {
        endRun();
    } else if (code == kNotifyMeasuringStarted) {
        // A continuous measurement turned into a calibration is a run of its own.
        if (m_run != 0 && m_runMode == parameter)
            return;
        endRun();
        HistoryRun run;
        run.startedMs = m_device.Store().WallMs();
        run.mode = static_cast<int>(parameter);
        run.model = m_device.Model().name;
        run.address = m_device.m_byDevice;
        run.intervalMs = m_device.m_iCycleInterval;
        run.zeroOffset = m_device.m_dZeroOffset;
        run.averageSeconds = m_device.Store().AverageSeconds();
        m_run = m_store->beginRun(run);
        m_runMode = parameter;
    }
}

void HistoryRecorder::addCalibration(const CalibrationResult& result)
{
    // Told when the calibration has ended: its run is the last one.
    m_store->addCalibration(m_run != 0 ? m_run : m_lastRun, result);
}

void HistoryRecorder::endRun()
{
    if (m_run != 0) {
        m_store->endRun(m_run, m_device.Store().WallMs());
        m_lastRun = m_run;
    }
    m_run = 0;
    m_runMode = -1;
}

} // namespace bv
