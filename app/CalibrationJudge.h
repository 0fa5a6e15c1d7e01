#pragma once
#include <cstdint>
#include <functional>
#include <optional>

#include "control/Device.h"
#include "data/CalibrationResult.h"

namespace bv {

class CPowerMeter;
class ProgramSettings;

// Judges every electronic calibration when its heater goes off, whoever
// started it (a button, the command line, a remote caller): the same verdict
// reaches the history, the Modbus inputs and the front end.
class CalibrationJudge final : public IDeviceListener {
public:
    using Handler = std::function<void(const CalibrationResult&)>;

    CalibrationJudge(CPowerMeter& device, const ProgramSettings& settings);
    ~CalibrationJudge() override;
    CalibrationJudge(const CalibrationJudge&) = delete;
    CalibrationJudge& operator=(const CalibrationJudge&) = delete;

    void OnDeviceChanged(int code, long parameter) override;
    // Each verdict goes to the keeper (history, Modbus), then to the front
    // end, inside the notification that ended the calibration and before the
    // front end hears of that end. An empty handler lets go.
    void setKeeper(Handler keeper) { m_keeper = std::move(keeper); }
    void setFrontEnd(Handler frontEnd) { m_frontEnd = std::move(frontEnd); }
    const std::optional<CalibrationResult>& last() const { return m_last; }

private:
    CPowerMeter& m_device;
    const ProgramSettings& m_settings;
    Handler m_keeper, m_frontEnd;
    bool m_running = false;
    int64_t m_firstSeq = -1;
    int64_t m_clears = -1;
    std::optional<CalibrationResult> m_last;
};

} // namespace bv
