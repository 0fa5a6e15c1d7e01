#pragma once
#include <vector>

#include "link/FrameSink.h"

namespace bv {

class CPowerMeter;
class CScheduler;
class CSerial;
class ProgramSettings;

// The body of the 100 ms heartbeat: every complete frame from the active link
// goes to the observers (bus monitor, bus traffic log) and to the scheduler,
// oldest first; then one time message. The window calls it from its timer,
// the CLI from a loop, tests directly.
class Heartbeat {
public:
    Heartbeat(ProgramSettings& settings, CSerial& serial, CScheduler& scheduler, CPowerMeter& device);

    void addObserver(IFrameSink* observer);
    void removeObserver(IFrameSink* observer);
    // Returns the number of frames dispatched.
    int tick();

private:
    void pass(const FRAME& frame);

    ProgramSettings& m_settings;
    CSerial& m_serial;
    CScheduler& m_scheduler;
    CPowerMeter& m_device;
    std::vector<IFrameSink*> m_observers;
};

} // namespace bv
