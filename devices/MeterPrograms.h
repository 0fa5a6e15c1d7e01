#pragma once
#include <ostream>
#include <cstdint>
#include <string>
#include <string_view>

#include "control/Scheduler.h"
#include "data/MeasurePoint.h"
#include "link/Link.h"

namespace bv {

class CBrivaneDoc;
class CPowerMeter;

// Base of the power meter's programs: the road every command takes (the
// meter's link: a bus frame, or an adapter text where frames carry no
// addresses) and the common end (bus lock released, then the window is told).
class CMeterProgram : public CState {
public:
    CMeterProgram(CScheduler& scheduler, CPowerMeter& meter, int endCode);
    void OnEnd() override;

protected:
    // Second argument of the end notification.
    virtual long EndParameter() const { return 0; }

    // The meter has a link whose frames carry bus addresses: the bus is
    // shared, its lock is taken before asking.
    bool OnSharedBus() const;
    bool HasLink() const;
    // To the device address; NotOpen without a link.
    LinkResult SendCommand(std::string_view text);
    // The same to another bus address (the PLC interface).
    LinkResult SendTo(uint8_t destination, std::string_view payload);
    // Addressed links: answers from the device to us; others: from anyone.
    void WaitAnswer(std::string_view pattern, int32_t timeout, int timeoutState);
    void WaitAnswerFrom(uint8_t source, std::string_view pattern, int32_t timeout, int timeoutState);

    CPowerMeter& m_meter;

private:
    int m_iEndCode;
};

class CIdentification final : public CMeterProgram {
public:
    CIdentification(CScheduler& scheduler, CPowerMeter& meter);
    void Run(const BusMessage& message) override;
    void OnEnd() override;

private:
    // State 50 doubles as the time-out state of the bus-lock wait.
    bool m_bAwaitingLock = false;
};

class CShutterProgram final : public CMeterProgram {
public:
    CShutterProgram(CScheduler& scheduler, CPowerMeter& meter);
    void Run(const BusMessage& message) override;

    int32_t m_iRetry = 0;
    int32_t m_iAction = 0;  // 0 open, 1 close

private:
    void SendPlcOutputs();
};

// What a run of the measuring program does; the numbers are the ones the
// notifications and the log have always carried.
enum class MeasuringMode : int { Continuous = 0, Calibration = 1, Single = 2 };
inline std::ostream& operator<<(std::ostream& out, MeasuringMode mode) { return out << static_cast<int>(mode); }

class CMeasuringProgram final : public CMeterProgram {
public:
    CMeasuringProgram(CScheduler& scheduler, CPowerMeter& meter, CBrivaneDoc& store);
    void Run(const BusMessage& message) override;
    void OnEnd() override;
    // Ends the run after the cycle in hand: a wait for the next cycle is cut
    // short, so the heater goes off without waiting out an interval of up to an hour.
    void Stop();

    int32_t m_iCounter = 0;
    CBrivaneDoc* m_pStore;
    MeasurePoint m_point;
    MeasuringMode m_mode = MeasuringMode::Continuous;
    int32_t m_bRun = 0;
    int32_t m_iThermalization = -1;
    int32_t m_iCalibration = 0;
    uint32_t m_dwCycleStart = 0;  // when the running cycle was due
    // "elp 1" went out in this run.
    bool m_bHeaterAsked = false;

protected:
    long EndParameter() const override { return static_cast<long>(m_mode); }

private:
    // false (an answer error) when a value is missing or not wholly a number;
    // the point then keeps nothing of the answer but the shutter state.
    bool ReadMeasurement(const FRAME* frame);
    bool ReadCalibration(const FRAME* frame);
    // A point without its EC frame must not carry the previous one's values.
    void ForgetCalibrationValues();
    // Waits out the rest of the interval, then polls again.
    void NextCycle();
    // "heater" with its state and value; false when the key is missing.
    static bool ReadHeater(const FRAME* frame, int32_t& state, int32_t& value);

    uint32_t m_dwNextDue = 0;  // set by NextCycle for the cycle it schedules
    bool m_bNextDueSet = false;
    bool m_bIntervalWait = false;  // NextCycle's wait for state 15 is registered
    bool m_bStopAsked = false;     // Stop was called in this run
};

// PLC channels count from 1; a channel outside 1..16 has no bit.
uint16_t PlcChannelMask(int channel);
// The "so" command that energises exactly the outputs of the mask.
std::string PlcOutputCommand(uint16_t mask);
// Reads the input word of an "ai:" answer (active inputs as 1 bits); false
// when the answer is too short to hold it.
bool PlcInputWord(const FRAME* frame, uint16_t& word);

} // namespace bv
