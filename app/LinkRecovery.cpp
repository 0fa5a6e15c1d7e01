#include "app/LinkRecovery.h"

#include "app/LinkSelection.h"
#include "control/Messages.h"
#include "devices/Alarms.h"
#include "devices/PowerMeter.h"
#include "devices/ReadingWatchdog.h"
#include "link/Link.h"
#include "platform/Clock.h"
#include "platform/Logging.h"
#include "res/StringTable.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger l("CFreeComm");
    return l;
}
constexpr const char* kTag = "CFreeComm";

} // namespace

LinkRecovery::LinkRecovery(LinkSelection& links, CPowerMeter& device, IClock& clock)
    : m_links(links), m_device(device), m_clock(clock)
{
    m_device.AddListener(this);
}

LinkRecovery::~LinkRecovery()
{
    m_device.RemoveListener(this);
    m_links.setRecovering(false);
}

bool LinkRecovery::linkLost() const
{
    const ILink* link = m_links.active();
    return link && link->lost();
}

bool LinkRecovery::superseded() const { return m_links.active() != m_lost; }

bool LinkRecovery::linkDown() const { return m_state != State::Connected || linkLost(); }

void LinkRecovery::resumeLater(int mode)
{
    m_resumeMode = mode;
    if (m_watchdog)
        m_watchdog->holdThroughLinkLoss(true);
}

void LinkRecovery::OnDeviceChanged(int code, long parameter)
{
    const CMeasuringProgram& program = m_device.m_Measuring;
    if (code == kNotifyMeasuringEnded) {
        // Ended by the loss (its poll could not go out, or the loss was found
        // while it ran): it comes back with the link. A stop asked for clears m_bRun.
        if ((parameter == 0 || parameter == 1) && program.m_bRun == 1 && linkDown())
            resumeLater(static_cast<int>(parameter));
    } else if (code == kNotifyMeasuringStarted && m_resumeMode >= 0) {
        // Somebody started or stopped measuring meanwhile: theirs is the word.
        m_resumeMode = -1;
        if (program.m_bRun == 0 && m_watchdog)
            m_watchdog->holdThroughLinkLoss(false);
    }
}

void LinkRecovery::poll()
{
    switch (m_state) {
    case State::Connected:
        if (linkLost())
            onLost();
        break;
    case State::Waiting:
        if (superseded())
            abandon("another link was chosen");
        else if (m_clock.now() - m_lastAttempt >= kRetryMs)
            attempt();
        break;
    case State::Identifying:
        if (superseded()) {
            abandon("another link was chosen");
        } else if (linkLost()) {
            BV_LOG_INFO(logger(), kTag, "reconnect attempt " << m_attempts << ": " << m_name << " lost again");
            m_state = State::Waiting;
        } else if (!m_device.m_Identification.IsRunning()) {
            identified();
        }
        break;
    }
}

void LinkRecovery::onLost()
{
    m_lost = m_links.active();
    m_name = m_lost->name();
    const std::string reason = m_lost->lastError();
    m_links.setRecovering(true);
    m_state = State::Waiting;
    m_attempts = 0;
    m_lastAttempt = m_clock.now();
    ++m_outages;

    // A program that still runs (the USB road does not end it) ends now;
    // with the state above its end counts as the loss's.
    CMeasuringProgram& program = m_device.m_Measuring;
    if (program.IsRunning() && program.m_bRun == 1 && (program.m_mode == MeasuringMode::Continuous || program.m_mode == MeasuringMode::Calibration)) {
        resumeLater(static_cast<int>(program.m_mode));
        program.End(kEndFailed);
    }
    BV_LOG_ERROR(logger(), kTag, "link lost: " << m_name << " (" << reason << "); trying again every "
                                               << kRetryMs / 1000 << " s"
                                               << (m_resumeMode >= 0 ? ", measuring resumes then" : ""));
    const std::string lost =
        strings::fill(strings::text(strings::kLinkLost), {m_name, reason, std::to_string(kRetryMs / 1000)});
    if (m_alarms)
        m_alarms->raise(AlarmKind::LinkLost, true, lost);
    m_device.ReportStatus(lost, kStatusError);
}

void LinkRecovery::attempt()
{
    m_lastAttempt = m_clock.now();
    ++m_attempts;
    BV_LOG_INFO(logger(), kTag, "reconnect attempt " << m_attempts << ": opening " << m_name);
    switch (m_lost->open()) {
    case LinkResult::Ok:
        break;
    case LinkResult::NotOpen:
        BV_LOG_INFO(logger(), kTag, "reconnect attempt " << m_attempts << ": cannot open " << m_name << ": "
                                                           << m_lost->lastError());
        return;
    default:
        BV_LOG_INFO(logger(), kTag, "reconnect attempt " << m_attempts << ": " << m_name << " does not answer");
        return;
    }
    BV_LOG_INFO(logger(), kTag, "reconnect attempt " << m_attempts << ": " << m_name << " open, identifying the meter");
    m_state = State::Identifying;
    m_device.StartIdentification();
}

void LinkRecovery::identified()
{
    if (m_device.m_Identification.Status() != kEndOk) {
        BV_LOG_INFO(logger(), kTag, "reconnect attempt " << m_attempts << ": no answer from the meter");
        closeLink();
        m_state = State::Waiting;
        return;
    }
    const int mode = m_resumeMode;
    BV_LOG_INFO(logger(), kTag, "link restored: " << m_name << " after " << m_attempts << " attempt(s)");
    m_device.ReportStatus(strings::fill(strings::text(strings::kLinkRestored), {m_name}), kStatusInformation);
    endOutage();
    if (mode >= 0 && !m_device.m_Measuring.IsRunning())
        m_device.ResumeMeasuring(static_cast<MeasuringMode>(mode));
    // Released after the new start: the watch goes straight on with it.
    if (m_watchdog)
        m_watchdog->holdThroughLinkLoss(false);
}

void LinkRecovery::closeLink()
{
    if (!superseded())
        m_lost->close();
}

void LinkRecovery::abandon(const char* why)
{
    BV_LOG_INFO(logger(), kTag, "reconnecting " << m_name << " given up: " << why);
    endOutage();
    if (m_watchdog)
        m_watchdog->holdThroughLinkLoss(false);
}

void LinkRecovery::endOutage()
{
    m_state = State::Connected;
    m_resumeMode = -1;
    m_lost = nullptr;
    m_links.setRecovering(false);
    if (m_alarms)
        m_alarms->raise(AlarmKind::LinkLost, false, {});
}

} // namespace bv
