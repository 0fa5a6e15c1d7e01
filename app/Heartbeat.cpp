#include "app/Heartbeat.h"

#include <algorithm>

#include "settings/ProgramSettings.h"
#include "control/BusMessage.h"
#include "control/Scheduler.h"
#include "devices/PowerMeter.h"
#include "link/CSerial.h"
#include "link/ZelmorUSB.h"

namespace bv {

Heartbeat::Heartbeat(ProgramSettings& settings, CSerial& serial, CScheduler& scheduler, CPowerMeter& device)
    : m_settings(settings), m_serial(serial), m_scheduler(scheduler), m_device(device)
{
}

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
    ZelmorUSBCRC* usb = m_device.UsbLink();
    if (m_settings.m_iDataTransferMode == kLinkUsb && usb) {
        usb->ReadUSBDriverBuffer();
        usb->GetFrame();
        // Records taken from the USB link are ours and freed after dispatch.
        while (auto frame = usb->takeFrame()) {
            if (usb->takenFrameFailedCheck()) {
                // Shown and logged, but a corrupted answer must never become a reading.
                for (IFrameSink* o : m_observers)
                    o->onCheckFailedFrame(*frame);
                continue;
            }
            pass(*frame);
            ++frames;
            // A state handler may have replaced the link (a new scan).
            if (m_device.UsbLink() != usb)
                break;
        }
    } else {
        m_serial.ReadAvailable();
        m_serial.ExtractFrames();
        auto& received = m_serial.receivedFrames();
        while (!received.empty()) {
            const FRAME* frame = received.front();
            received.pop_front();
            pass(*frame);
            ++frames;
        }
    }
    m_scheduler.Dispatch(BusMessage::Time());
    return frames;
}

} // namespace bv
