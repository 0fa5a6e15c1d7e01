#include "sim/SimMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bv::sim {

namespace {

constexpr double kWaterHeatCapacity = 4186.0; // J/(kg K), one litre is one kilogram
constexpr double kMaxRise = 80.0;             // the absorber boils dry beyond this
constexpr double kStagnantFlow = 0.05;        // l/min that convection still carries
constexpr uint32_t kStepMs = 100;
constexpr uint32_t kLongestCatchUpMs = 60u * 60u * 1000u; // settled long before that

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.back() == '\0' || text.back() == '\r' || text.back() == '\n'
                             || text.back() == ' '))
        text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return text;
}

template <typename... Args>
std::string format(const char* pattern, Args... args)
{
    char buffer[160];
    const int n = std::snprintf(buffer, sizeof buffer, pattern, args...);
    return std::string(buffer, n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
}

// Keeps a value inside what its fixed-width field can show.
double clampField(double value, double limit)
{
    return std::clamp(value, -limit, limit);
}

double riseFor(double watts, double litresPerMinute)
{
    const double massFlow = std::max(litresPerMinute, kStagnantFlow) / 60.0;
    return std::min(watts / (massFlow * kWaterHeatCapacity), kMaxRise);
}

const std::string kUnknownCommand = "Error: unknown command";

} // namespace

SimMeter::SimMeter(SimMeterConfig config)
    : m_config(config),
      m_model(&meterModel(config.model)),
      m_shutterKind(config.shutter.value_or(m_model->shutter)),
      m_address(config.address),
      m_rng(config.seed),
      m_inlet(config.inletTemperature)
{
    if (m_shutterKind == ShutterKind::None)
        m_shutter = ShutterPosition::None;
    else
        m_shutter = config.shutterStartsOpen ? ShutterPosition::Open : ShutterPosition::Closed;
    m_config.heaterPower = std::clamp(m_config.heaterPower, 0.0, 9999.0);
    m_config.heaterVoltage = std::clamp(m_config.heaterVoltage, 1.0, 999.0);
    if (m_config.replyDelayMinMs > m_config.replyDelayMaxMs)
        std::swap(m_config.replyDelayMinMs, m_config.replyDelayMaxMs);
    // The meter has been running for a while: the absorber sits at its steady state.
    const bool lit = m_shutter == ShutterPosition::Open || m_shutter == ShutterPosition::None;
    m_rise = riseFor(lit ? m_config.laserPower : 0.0, currentFlow());
}

std::vector<Reply> SimMeter::onFrame(uint8_t /*source*/, std::string_view payload, uint32_t now)
{
    return command(payload, now);
}

std::vector<Reply> SimMeter::command(std::string_view text, uint32_t now)
{
    advance(now);
    if (silent(now))
        return {};
    const std::string_view cmd = trimmed(text);
    if (cmd == "qr")
        return {{replyDelay(), std::string(m_model->readyText)}};
    if (cmd == "info")
        return {{replyDelay(), answerInfo()}};
    if (cmd == "ql")
        return answerMeasure(now);
    if (cmd == "sa" || cmd == "sz")
        return answerShutter(cmd == "sa", now);
    if (m_model->electronicCalibration && cmd.starts_with("elp")) {
        const std::string_view arg = trimmed(cmd.substr(3));
        if (cmd.size() > 3 && cmd[3] == ' ' && (arg == "1" || arg == "0"))
            return answerCalibration(arg == "1", now);
    }
    return {{replyDelay(), kUnknownCommand}};
}

// ---- time and physics ------------------------------------------------------

void SimMeter::advance(uint32_t now)
{
    if (!m_started) {
        m_started = true;
        m_lastTick = now;
        return;
    }
    uint32_t remaining = now - m_lastTick;
    if (remaining == 0 || remaining >= 0x80000000u)
        return; // an earlier time than already seen: keep the state as it is
    uint32_t at = m_lastTick;
    if (remaining > kLongestCatchUpMs) {
        at = now - kLongestCatchUpMs;
        remaining = kLongestCatchUpMs;
    }
    while (remaining > 0) {
        const uint32_t ms = std::min(remaining, kStepMs);
        at += ms;
        remaining -= ms;
        step(at, ms / 1000.0);
    }
    m_lastTick = now;
}

void SimMeter::step(uint32_t at, double seconds)
{
    settleShutter(at);
    if (m_heaterOn) {
        // The meter protects its heater on its own.
        if (currentFlow() < m_model->flowMinimum) {
            m_heaterOn = false;
            m_heaterValue = kHeaterLowFlow;
        } else if (at - m_heaterSince >= m_config.heaterMaxOnMs) {
            m_heaterOn = false;
            m_heaterValue = kHeaterTimeout;
        }
    }
    m_inlet += (m_config.inletTemperature - m_inlet) * seconds / 600.0
               + m_config.inletDrift * std::sqrt(seconds) * m_gauss(m_rng);
    const double target = riseFor(absorbedNow(), currentFlow());
    const double tau = std::max(m_config.thermalTimeConstantMs, 1.0) / 1000.0;
    m_rise += (target - m_rise) * (1.0 - std::exp(-seconds / tau));
}

double SimMeter::currentFlow() const
{
    if (m_flowFault)
        return *m_flowFault;
    return m_config.flow.value_or(m_model->nominalFlow);
}

double SimMeter::absorbedPower(uint32_t now)
{
    advance(now);
    return absorbedNow();
}

double SimMeter::absorbedNow() const
{
    double watts = 0.0;
    if (m_shutter == ShutterPosition::None || (!m_moving && m_shutter == ShutterPosition::Open))
        watts += std::max(m_config.laserPower, 0.0);
    if (m_heaterOn)
        watts += m_config.heaterPower;
    return watts;
}

double SimMeter::temperatureRise(uint32_t now)
{
    advance(now);
    return m_rise;
}

uint32_t SimMeter::replyDelay()
{
    return std::uniform_int_distribution<uint32_t>(m_config.replyDelayMinMs,
                                                   m_config.replyDelayMaxMs)(m_rng);
}

// ---- shutter ---------------------------------------------------------------

void SimMeter::settleShutter(uint32_t at)
{
    if (m_moving && at - m_moveStart >= m_moveDuration) {
        m_moving = false;
        if (m_moveFails)
            m_shutter = ShutterPosition::Stalled;
        else
            m_shutter = m_movingOpen ? ShutterPosition::Open : ShutterPosition::Closed;
    }
}

void SimMeter::startMotion(bool open, uint32_t now)
{
    if (m_shutterKind == ShutterKind::None)
        return;
    if (m_moving && m_movingOpen == open)
        return;
    const ShutterPosition target = open ? ShutterPosition::Open : ShutterPosition::Closed;
    if (!m_moving && m_shutter == target)
        return;
    m_moving = true;
    m_movingOpen = open;
    m_moveStart = now;
    m_moveFails = m_failMoves > 0;
    if (m_moveFails)
        --m_failMoves;
    m_moveDuration = m_moveFails ? m_config.shutterStallMs : m_config.shutterMotionMs;
}

void SimMeter::driveShutter(bool open, uint32_t now)
{
    advance(now);
    startMotion(open, now);
}

ShutterPosition SimMeter::shutterPosition(uint32_t now)
{
    advance(now);
    return m_moving ? ShutterPosition::Moving : m_shutter;
}

char SimMeter::shutterChar()
{
    if (m_shutterUnknown)
        return 'U';
    if (m_moving)
        return 'U';
    switch (m_shutter) {
    case ShutterPosition::Open: return 'O';
    case ShutterPosition::Closed: return 'C';
    case ShutterPosition::None: return 'N';
    default: return 'U';
    }
}

std::vector<Reply> SimMeter::answerShutter(bool open, uint32_t now)
{
    if (m_shutterKind == ShutterKind::None)
        return {{replyDelay(), "Error: no shutter"}};
    if (m_shutterKind == ShutterKind::External)
        return {{replyDelay(), "Error: shutter driven externally"}};
    startMotion(open, now);
    const char* done = open ? "asa" : "asz";
    if (!m_moving)
        return {{replyDelay(), done}};
    const uint32_t left = m_moveDuration - std::min(now - m_moveStart, m_moveDuration);
    return {{left + replyDelay(), m_moveFails ? "schieber error" : done}};
}

// ---- answers ---------------------------------------------------------------

std::string SimMeter::answerInfo()
{
    if (!m_config.answersInfo || m_refuseInfo)
        return "Error: command not available";
    const std::string type(m_model->typeDigits);
    return format("Typ %s Range %.0fW FlowMin %6.3f shutter=%c", type.c_str(), m_model->maxPower,
                  m_model->flowMinimum, shutterChar());
}

// The heater state sits two places behind the key's separator, its value two more:
// "heater: 1 000".
std::string SimMeter::heaterField(int state, int value) const
{
    return format("heater: %d %03d", std::clamp(state, 0, 9), std::clamp(value, 0, 999));
}

int SimMeter::heaterValue(uint32_t now) const
{
    if (!m_heaterOn)
        return m_heaterValue;
    return now - m_heaterSince < m_config.heaterSettleMs ? kHeaterUnsettled : 0;
}

std::vector<Reply> SimMeter::answerMeasure(uint32_t now)
{
    const double flow = currentFlow();
    const double flowReading = std::max(0.0, flow * (1.0 + m_config.flowNoise * m_gauss(m_rng)));
    const double calorimetric = m_rise * std::max(flow, 0.0) / 60.0 * kWaterHeatCapacity;
    const double power = calorimetric * (1.0 + m_config.powerNoise * m_gauss(m_rng))
                         + m_config.powerNoiseFloor * m_gauss(m_rng);
    const double inlet = m_inlet + 0.002 * m_gauss(m_rng);
    const double rise = m_rise + 0.002 * m_gauss(m_rng);
    constexpr double kField = 99999.0; // "%10.3f" holds five integer digits and a sign
    const uint32_t delay = replyDelay();
    std::vector<Reply> replies;
    replies.push_back({delay, format("al PL=%10.3f Fl=%10.3f Te=%10.3f Td=%10.3f shutter=%c",
                                     clampField(power, kField), clampField(flowReading, kField),
                                     clampField(inlet, kField), clampField(rise, kField),
                                     shutterChar())});
    if (m_garbleAnswers > 0) {
        --m_garbleAnswers;
        ++m_garbledSent;
        replies.back().payload[13] = '#';  // "al PL=" and seven characters of the value
    }
    if (m_calibrating) {
        const double volts = m_config.heaterVoltage * (1.0 + 0.001 * m_gauss(m_rng));
        const double amps = m_heaterOn ? m_config.heaterPower / m_config.heaterVoltage
                                             * (1.0 + 0.001 * m_gauss(m_rng))
                                       : 0.0;
        const int value = heaterValue(now);
        replies.push_back({delay + m_config.pelGapMs,
                           format("Pel: %4.0f IRMS: %6.3f VRMS: %3.0f ",
                                  std::clamp(volts * amps, 0.0, 9999.0), std::clamp(amps, 0.0, 99.999),
                                  std::clamp(volts, 0.0, 999.0))
                               + heaterField(m_heaterOn ? 1 : 0, value)});
    }
    return replies;
}

std::vector<Reply> SimMeter::answerCalibration(bool on, uint32_t now)
{
    if (!on) {
        m_calibrating = false;
        m_heaterOn = false;
        m_heaterValue = 0;
        return {{replyDelay(), "elcal_enabled=0 " + heaterField(0, 0)}};
    }
    m_calibrating = true;
    if (m_heaterFailArmed) {
        m_heaterOn = false;
        m_heaterValue = *m_heaterFailArmed;
        m_heaterFailArmed.reset();
    } else if (currentFlow() < m_model->flowMinimum) {
        m_heaterOn = false;
        m_heaterValue = kHeaterLowFlow;
    } else if (!m_heaterOn) {
        m_heaterOn = true;
        m_heaterSince = now;
        m_heaterValue = 0;
    }
    return {{replyDelay(), "elcal_enabled=1 " + heaterField(m_heaterOn ? 1 : 0, heaterValue(now))}};
}

// ---- faults ----------------------------------------------------------------

bool SimMeter::silent(uint32_t now) const
{
    if (m_silentForever)
        return true;
    return m_silentTimed && static_cast<int32_t>(now - m_silentUntil) < 0;
}

void SimMeter::silence(uint32_t now, uint32_t durationMs)
{
    m_silentTimed = true;
    m_silentUntil = now + durationMs;
}

void SimMeter::silenceUntilCleared()
{
    m_silentForever = true;
}

void SimMeter::clearSilence()
{
    m_silentForever = false;
    m_silentTimed = false;
}

void SimMeter::failFlow(double litresPerMinute)
{
    m_flowFault = std::max(litresPerMinute, 0.0);
}

void SimMeter::restoreFlow()
{
    m_flowFault.reset();
}

void SimMeter::failShutterMoves(int count)
{
    m_failMoves = std::max(count, 0);
}

void SimMeter::failHeater(int value)
{
    if (m_heaterOn) {
        m_heaterOn = false;
        m_heaterValue = value;
    } else {
        m_heaterFailArmed = value;
    }
}

} // namespace bv::sim
