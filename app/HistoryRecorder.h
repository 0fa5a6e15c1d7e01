#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "control/Device.h"
#include "data/History.h"
#include "devices/Alarms.h"

namespace bv {

class CPowerMeter;
struct CalibrationResult;

// Keeps every decided point in the history, with the run it belongs to and
// the alarms active with it. A run begins when a measurement starts and
// ends when it ends.
class HistoryRecorder final : public IPointListener, public IDeviceListener {
public:
    HistoryRecorder(std::unique_ptr<HistoryStore> store, CPowerMeter& device, AlarmMonitor& alarms);
    ~HistoryRecorder() override;
    HistoryRecorder(const HistoryRecorder&) = delete;
    HistoryRecorder& operator=(const HistoryRecorder&) = delete;

    void OnNewPoint(const DecidedPoint& point) override;
    void OnDeviceChanged(int code, long parameter) override;
    void addCalibration(const CalibrationResult& result);

    // The run being recorded (0: none).
    int64_t currentRun() const { return m_run; }
    HistoryStore& store() { return *m_store; }

private:
    void endRun();

    std::unique_ptr<HistoryStore> m_store;
    CPowerMeter& m_device;
    AlarmMonitor& m_alarms;
    int64_t m_run = 0;
    int64_t m_lastRun = 0;
    long m_runMode = -1;
};

} // namespace bv
