#pragma once
#include <vector>

#include "link/FrameSink.h"

namespace bv {

class CDevice;
class CScheduler;

// The body of the 100 ms heartbeat: every complete frame from the device's link
// goes to the observers (bus monitor, bus traffic log) and to the scheduler,
// oldest first; then one time message. The window calls it from its timer,
// the CLI from a loop, tests directly.
class Heartbeat {
public:
    Heartbeat(CScheduler& scheduler, CDevice& device);

    void addObserver(IFrameSink* observer);
    void removeObserver(IFrameSink* observer);
    // Returns the number of frames dispatched.
    int tick();

private:
    void pass(const FRAME& frame);

    CScheduler& m_scheduler;
    CDevice& m_device;
    std::vector<IFrameSink*> m_observers;
};

} // namespace bv
