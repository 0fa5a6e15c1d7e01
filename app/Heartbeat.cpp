#include "app/Heartbeat.h"

#include <algorithm>

#include "control/BusMessage.h"
#include "control/Device.h"
#include "control/Scheduler.h"
#include "link/Link.h"

namespace bv {

Heartbeat::Heartbeat(CScheduler& scheduler, CDevice& device) : m_scheduler(scheduler), m_device(device) {}

void Heartbeat::addObserver(IFrameSink* observer)
{
    if (observer && std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void Heartbeat::removeObserver(IFrameSink* observer)
{
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}

void Heartbeat::pass(const FRAME& frame)
{
    for (IFrameSink* o : m_observers)
        o->onFrame(frame);
    m_scheduler.Dispatch(BusMessage(frame));
}

int Heartbeat::tick()
{
    int frames = 0;
    if (ILink* link = m_device.Link()) {
        link->takeFrames([&](const FRAME& frame, bool checkFailed) {
            if (checkFailed) {
                // Shown and logged, but a corrupted answer must never become a reading.
                for (IFrameSink* o : m_observers)
                    o->onCheckFailedFrame(frame);
                return true;
            }
            pass(frame);
            ++frames;
            // A state handler may have replaced the link (a new scan).
            return m_device.Link() == link;
        });
    }
    m_scheduler.Dispatch(BusMessage::Time());
    return frames;
}

} // namespace bv
