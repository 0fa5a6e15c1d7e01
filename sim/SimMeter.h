#pragma once
#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "sim/MeterModels.h"
#include "sim/SimDevice.h"

namespace bv::sim {

constexpr uint8_t kDefaultMeterAddress = 113;

struct SimMeterConfig {
    MeterModel model = MeterModel::Plain;
    uint8_t address = kDefaultMeterAddress;
    uint32_t seed = 1;

    double laserPower = 1500.0;          // W set point of the laser in front of the meter
    double powerNoise = 0.002;           // relative, one sigma, on the power reading
    double powerNoiseFloor = 0.05;       // W, one sigma, present even without light
    std::optional<double> flow;          // l/min; the model's nominal flow if unset
    double flowNoise = 0.003;            // relative, one sigma
    double inletTemperature = 21.0;      // degrees C, the inlet drifts around it
    double inletDrift = 0.003;           // degrees C per sqrt(s), random walk
    double thermalTimeConstantMs = 3000; // absorber lag of the temperature rise

    uint32_t replyDelayMinMs = 40;       // processing time before an answer leaves
    uint32_t replyDelayMaxMs = 120;
    uint32_t pelGapMs = 60;              // "Pel" frame behind its "al" answer
    uint32_t shutterMotionMs = 800;      // end to end
    uint32_t shutterStallMs = 3000;      // until a stuck move is reported
    bool shutterStartsOpen = false;
    std::optional<ShutterKind> shutter;  // overrides the model's shutter

    double heaterPower = 1000.0;         // W of the calibration heater (at most 9999)
    double heaterVoltage = 230.0;        // V RMS (at most 999)
    uint32_t heaterSettleMs = 2000;      // points flagged invalid after switch-on
    uint32_t heaterMaxOnMs = 30 * 60 * 1000; // the meter's own calibration time-out

    bool answersInfo = true;
};

// Heater values sent behind the heater state. While the heater runs, bit 2 marks a
// point that must not enter the calibration; after it went off, bits 0 and 1 say why.
constexpr int kHeaterTimeout = 1;
constexpr int kHeaterLowFlow = 2;
constexpr int kHeaterUnsettled = 4;

enum class ShutterPosition : uint8_t { Open, Closed, Moving, Stalled, None };

// A simulated calorimetric power meter. command() is the meter itself and knows no
// transport; onFrame() puts it on the RS-485 bus, a USB wrapper can call command()
// with adapter texts. Time is whatever `now` the caller passes (ms, wrapping): the
// meter only ever looks at differences, so a manual clock drives it.
class SimMeter : public ISimBusDevice {
public:
    explicit SimMeter(SimMeterConfig config = {});

    std::vector<Reply> command(std::string_view text, uint32_t now);

    uint8_t address() const override { return m_address; }
    void setAddress(uint8_t address) { m_address = address; }
    std::vector<Reply> onFrame(uint8_t source, std::string_view payload, uint32_t now) override;

    const MeterModelInfo& model() const { return *m_model; }
    ShutterKind shutterKind() const { return m_shutterKind; }
    const SimMeterConfig& config() const { return m_config; }

    // The world around the meter.
    void setLaserPower(double watts) { m_config.laserPower = watts; }
    void setFlow(double litresPerMinute) { m_config.flow = litresPerMinute; }
    // The shutter actuator as a PLC drives it; no answer on the bus.
    void driveShutter(bool open, uint32_t now);
    ShutterPosition shutterPosition(uint32_t now);
    bool heaterOn() const { return m_heaterOn; }
    // Noise-free state for checks: power on the absorber, temperature rise.
    double absorbedPower(uint32_t now);
    double temperatureRise(uint32_t now);

    // Scripted faults.
    void silence(uint32_t now, uint32_t durationMs);   // deaf and dumb for a while
    void silenceUntilCleared();
    void clearSilence();
    void failFlow(double litresPerMinute);              // e.g. 0, or below the minimum
    void restoreFlow();
    void failShutterMoves(int count);                   // next moves end in "schieber error"
    // The running heater drops out (state 0 with this value); when it is off, the
    // next "elp 1" fails that way.
    void failHeater(int value = 0);
    void refuseInfo(bool refuse) { m_refuseInfo = refuse; }
    // The next count measuring answers carry a '#' inside their power value, as
    // a meter with a failing converter sends it; the frame itself stays sound.
    void garbleNextAnswers(int count) { m_garbleAnswers += std::max(count, 0); }
    long garbledAnswers() const { return m_garbledSent; }
    void reportShutterUnknown(bool unknown) { m_shutterUnknown = unknown; }

private:
    void advance(uint32_t now);
    void step(uint32_t at, double seconds);
    void settleShutter(uint32_t at);
    void startMotion(bool open, uint32_t now);
    bool silent(uint32_t now) const;
    double currentFlow() const;
    double absorbedNow() const;
    int heaterValue(uint32_t now) const;
    uint32_t replyDelay();
    char shutterChar();
    std::string heaterField(int state, int value) const;

    std::string answerInfo();
    std::vector<Reply> answerMeasure(uint32_t now);
    std::vector<Reply> answerShutter(bool open, uint32_t now);
    std::vector<Reply> answerCalibration(bool on, uint32_t now);

    SimMeterConfig m_config;
    const MeterModelInfo* m_model;
    ShutterKind m_shutterKind;
    uint8_t m_address;
    std::mt19937 m_rng;
    std::normal_distribution<double> m_gauss{0.0, 1.0};

    bool m_started = false;
    uint32_t m_lastTick = 0;
    double m_inlet;          // degrees C
    double m_rise = 0.0;     // degrees C, lagging behind the absorbed power

    ShutterPosition m_shutter;
    bool m_moving = false;
    bool m_movingOpen = false;
    bool m_moveFails = false;
    uint32_t m_moveStart = 0;
    uint32_t m_moveDuration = 0;

    bool m_calibrating = false;  // "elp 1" seen, "Pel" frames follow every "al"
    bool m_heaterOn = false;
    int m_heaterValue = 0;       // reason of the last switch-off
    uint32_t m_heaterSince = 0;

    // Faults.
    bool m_silentForever = false;
    bool m_silentTimed = false;
    uint32_t m_silentUntil = 0;
    std::optional<double> m_flowFault;
    int m_failMoves = 0;
    std::optional<int> m_heaterFailArmed;
    bool m_refuseInfo = false;
    int m_garbleAnswers = 0;
    long m_garbledSent = 0;
    bool m_shutterUnknown = false;
};

} // namespace bv::sim
