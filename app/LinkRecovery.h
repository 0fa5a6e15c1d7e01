#pragma once
#include <cstdint>
#include <string>

#include "control/Device.h"

namespace bv {

class AlarmMonitor;
class CPowerMeter;
class IClock;
class ILink;
class LinkSelection;
class ReadingWatchdog;

// Brings a lost link back by itself. When the serial port or the USB adapter
// in use fails (the device is gone), the link is closed, the status list
// says so once, and every 2 s the same port or adapter is opened again, with
// no message box. Once it opens, the meter is identified anew and a
// measurement the loss ended starts again with the same settings. Driven by
// the heartbeat on the core's clock; shared by the window and the CLI.
class LinkRecovery final : public IDeviceListener {
public:
    static constexpr uint32_t kRetryMs = 2000;

    enum class State {
        Connected,    // nothing lost (or nothing ever opened)
        Waiting,      // lost; the next attempt comes kRetryMs after the last
        Identifying,  // reopened; the identification decides
    };

    LinkRecovery(LinkSelection& links, CPowerMeter& device, IClock& clock);
    ~LinkRecovery() override;
    LinkRecovery(const LinkRecovery&) = delete;
    LinkRecovery& operator=(const LinkRecovery&) = delete;

    // Kept watching through an outage (may be null).
    void setWatchdog(ReadingWatchdog* watchdog) { m_watchdog = watchdog; }
    // Holds "link lost" through an outage (may be null).
    void setAlarms(AlarmMonitor* alarms) { m_alarms = alarms; }
    // After the heartbeat's frames and time message.
    void poll();

    State state() const { return m_state; }
    bool recovering() const { return m_state != State::Connected; }
    // A measurement the loss ended (mode 0 or 1) starts again once the link is back.
    bool resumePending() const { return m_resumeMode >= 0; }
    int resumeMode() const { return m_resumeMode; }
    // Attempts in the present outage; outages since start.
    int attempts() const { return m_attempts; }
    long outages() const { return m_outages; }
    // The port or adapter being brought back, as the status lines name it.
    const std::string& linkName() const { return m_name; }

    void OnDeviceChanged(int code, long parameter) override;

private:
    bool linkLost() const;
    bool linkDown() const;
    // The lost link is no longer the one in use (another was chosen, a scan
    // made a new one).
    bool superseded() const;
    void onLost();
    void attempt();
    void identified();
    void closeLink();
    void abandon(const char* why);
    void resumeLater(int mode);
    void endOutage();

    LinkSelection& m_links;
    CPowerMeter& m_device;
    IClock& m_clock;
    ReadingWatchdog* m_watchdog = nullptr;
    AlarmMonitor* m_alarms = nullptr;

    State m_state = State::Connected;
    // The lost link: compared, and used only while it is still the one in use.
    ILink* m_lost = nullptr;
    std::string m_name;
    int m_resumeMode = -1;
    int m_attempts = 0;
    long m_outages = 0;
    uint32_t m_lastAttempt = 0;
};

} // namespace bv
