#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/ProgramSettings.h"
#include "control/Messages.h"
#include "control/Scheduler.h"
#include "devices/PowerMeter.h"
#include "link/CSerial.h"
#include "link/ZelmorUSB.h"
#include "platform/Clock.h"
#include "sim/SimBus.h"
#include "sim/SimMeter.h"
#include "sim/SimPlc.h"
#include "sim/SimSerial.h"
#include "support/FakeD2xx.h"
#include "support/FakeLink.h"
#include "support/ScriptedPrompt.h"

namespace bv::test {

constexpr uint8_t kMeterAddress = 113;
constexpr uint8_t kPlcAddress = 161;

inline sim::SimMeterConfig modelConfig(sim::MeterModel model)
{
    sim::SimMeterConfig config;
    config.model = model;
    return config;
}

// The window's heartbeat: every beat the clock moves on, every frame the
// active link has collected is dispatched as a frame message, then one time
// message follows. Nothing is dispatched while the scheduler is busy.
class Heartbeat {
public:
    using Reader = std::function<std::vector<FRAME>()>;

    Heartbeat(ManualClock& clock, CScheduler& scheduler) : m_clock(clock), m_scheduler(scheduler) {}

    void setReader(Reader reader) { m_read = std::move(reader); }

    void beat(uint32_t ms = 100)
    {
        m_clock.advance(ms);
        if (m_scheduler.IsDispatchBusy())
            return;
        if (m_read) {
            for (const FRAME& frame : m_read()) {
                dispatched.emplace_back(m_clock.now(), std::string(frame.text()));
                m_scheduler.Dispatch(BusMessage(frame));
            }
        }
        m_scheduler.Dispatch(BusMessage::Time());
    }
    void runFor(uint32_t ms, uint32_t step = 100)
    {
        for (uint32_t t = 0; t < ms; t += step)
            beat(step);
    }
    // Beats until the condition holds; false when it did not within limitMs.
    bool runUntil(const std::function<bool()>& done, uint32_t limitMs, uint32_t step = 100)
    {
        for (uint32_t t = 0; t < limitMs; t += step) {
            if (done())
                return true;
            beat(step);
        }
        return done();
    }

    std::vector<std::pair<uint32_t, std::string>> dispatched;

private:
    ManualClock& m_clock;
    CScheduler& m_scheduler;
    Reader m_read;
};

// Answers that leave a device at a time of their own, as frame records.
class ReplyQueue {
public:
    void add(uint32_t due, uint8_t destination, uint8_t source, std::string_view payload, uint8_t kind)
    {
        FRAME frame;
        fillRecord(frame, destination, source, kind, reinterpret_cast<const uint8_t*>(payload.data()),
                   payload.size());
        m_pending.push_back({due, m_order++, frame});
    }
    std::vector<FRAME> takeDue(uint32_t now)
    {
        std::stable_sort(m_pending.begin(), m_pending.end(),
                         [](const Pending& a, const Pending& b) { return a.due < b.due; });
        std::vector<FRAME> out;
        auto it = m_pending.begin();
        while (it != m_pending.end() && static_cast<int32_t>(now - it->due) >= 0) {
            out.push_back(it->frame);
            it = m_pending.erase(it);
        }
        return out;
    }

private:
    struct Pending {
        uint32_t due;
        uint64_t order;
        FRAME frame;
    };
    std::vector<Pending> m_pending;
    uint64_t m_order = 0;
};

// A device on the simulated bus that answers from a table (and stays silent
// for texts it does not know); for answers the simulated meter never gives.
class ScriptedDevice final : public sim::ISimBusDevice {
public:
    explicit ScriptedDevice(uint8_t address) : m_address(address) {}
    uint8_t address() const override { return m_address; }
    std::vector<sim::Reply> onFrame(uint8_t, std::string_view payload, uint32_t) override
    {
        heard.emplace_back(payload);
        auto it = answers.find(std::string(payload));
        if (it == answers.end())
            return {};
        std::vector<sim::Reply> replies;
        for (const std::string& a : it->second)
            replies.push_back({delayMs, a});
        return replies;
    }
    void answer(const std::string& command, std::vector<std::string> replies)
    {
        answers[command] = std::move(replies);
    }

    std::map<std::string, std::vector<std::string>> answers;
    std::vector<std::string> heard;
    uint32_t delayMs = 50;

private:
    uint8_t m_address;
};


// Stands in for the USB link to a meter: adapter texts go straight to the
// simulated devices, their answers come back as received adapter texts
// (kind 2, no addresses) once their time has come.
class UsbStandIn final : public ZelmorUSBCRC {
public:
    using Answerer = std::function<std::vector<sim::Reply>(std::string_view, uint32_t)>;

    UsbStandIn(IClock& clock, ID2xx& d2xx) : ZelmorUSBCRC(d2xx), m_clock(clock) {}

    int SendFrame(std::string_view text) override
    {
        texts.emplace_back(text);
        if (sendResult != 0)
            return sendResult;
        const uint32_t now = m_clock.now();
        if (answer)
            for (const sim::Reply& r : answer(text, now))
                m_replies.add(now + r.delayMs, 0, 0, r.payload, kTextFromAdapter);
        return 0;
    }
    // The answers whose time has come join what the link received.
    int takeFrames(const FrameTaker& take) override
    {
        for (FRAME& f : m_replies.takeDue(m_clock.now()))
            received().push_back(std::make_unique<FRAME>(f));
        return ZelmorUSBCRC::takeFrames(take);
    }

    Answerer answer;
    std::vector<std::string> texts;
    int sendResult = 0;

private:
    IClock& m_clock;
    ReplyQueue m_replies;
};

struct Notification {
    int code;
    long parameter;
    bool operator==(const Notification&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Notification& n)
{
    return os << "{" << n.code << ", " << n.parameter << "}";
}

class NotificationLog final : public IDeviceListener {
public:
    void OnDeviceChanged(int code, long parameter) override { seen.push_back({code, parameter}); }
    int count(int code) const
    {
        return static_cast<int>(std::count_if(seen.begin(), seen.end(),
                                              [code](const Notification& n) { return n.code == code; }));
    }
    std::vector<Notification> seen;
};

// The meter device on the manual clock with its settings, prompt and heartbeat.
class MeterBench : public ::testing::Test {
protected:
    MeterBench()
    {
        settings.m_sDeviceAddress = "113";
        meter.Init(64, kMeterAddress, "Brivane", nullptr);
        meter.AddListener(&notes);
    }

    // The simulated meter on the simulated bus behind COM1 and the serial link.
    void useSerialBus()
    {
        ASSERT_EQ(serial.bInitSerial("com1"), 1);
        meter.Init(64, kMeterAddress, "Brivane", &serial);
        readTheMetersLink();
    }

    // What the program's heartbeat does: the answers the meter's link took.
    void readTheMetersLink()
    {
        heart.setReader([this] {
            std::vector<FRAME> out;
            if (ILink* link = meter.Link())
                link->takeFrames([&](const FRAME& f, bool checkFailed) {
                    if (!checkFailed)
                        out.push_back(f);
                    return true;
                });
            return out;
        });
    }

    // The device holds the USB link and takes it; answers from `devices`.
    UsbStandIn& useUsb(UsbStandIn::Answerer answerer)
    {
        auto link = std::make_unique<UsbStandIn>(clock, d2xx);
        UsbStandIn& usb = *link;
        usb.answer = std::move(answerer);
        meter.SetUsbLink(std::move(link));
        meter.SetLink(&usb);
        readTheMetersLink();
        return usb;
    }

    // A fake serial link whose sent frames go to `answerer`; answers come
    // back from the device address to us after their delay.
    void useFakeLink(std::function<std::vector<sim::Reply>(std::string_view, uint32_t)> answerer)
    {
        meter.Init(64, kMeterAddress, "Brivane", &fake);
        fakeAnswer = std::move(answerer);
        fake.onSend = [this](const FakeLink::Sent& s) {
            sentAt.emplace_back(clock.now(), s.payload);
            if (!fakeAnswer)
                return;
            for (const sim::Reply& r : fakeAnswer(s.payload, clock.now()))
                fakeReplies.add(clock.now() + r.delayMs, s.source, s.destination, r.payload, kBusFrame);
        };
        heart.setReader([this] { return fakeReplies.takeDue(clock.now()); });
    }

    // Lets the holder take the bus lock (it needs a beat to start, one to take it).
    bool takeLock(CState& holder)
    {
        holder.Start();
        return heart.runUntil([&] { return scheduler.SyncHolder(0) == &holder; }, 500);
    }

    // Frames the PC put on the simulated bus with this payload.
    std::vector<sim::SentFrame> sentOnBus(std::string_view payload) const
    {
        std::vector<sim::SentFrame> out;
        for (const sim::SentFrame& f : bus.sentFrames())
            if (f.payload == payload)
                out.push_back(f);
        return out;
    }

    ManualClock clock{10000};
    CScheduler scheduler{clock};
    ScriptedPrompt prompt;
    ProgramSettings settings;
    // Nothing behind it: the USB stand-in never opens.
    test::FakeD2xx d2xx = [] {
        test::FakeD2xx none;
        none.openStatus = kD2xxDeviceNotFound;
        return none;
    }();
    CPowerMeter meter{scheduler, prompt, settings};
    NotificationLog notes;
    Heartbeat heart{clock, scheduler};

    sim::SimBus bus{clock, 3};
    sim::SimSerialSystem ports{clock, bus, "COM1"};
    CSerial serial{ports, clock, prompt, settings};

    FakeLink fake;
    std::function<std::vector<sim::Reply>(std::string_view, uint32_t)> fakeAnswer;
    ReplyQueue fakeReplies;
    std::vector<std::pair<uint32_t, std::string>> sentAt;
};

// Holds the bus lock (sync slot 0) until told to let go.
class LockHolder final : public CState {
public:
    explicit LockHolder(CScheduler& s) : CState(s) {}
    void Run(const BusMessage&) override
    {
        if (m_iState == 0)
            WaitSync(0, 1, 0, 0);
        else if (m_iState == 2)
            End("OK");
    }
    void release()
    {
        ReleaseSync(0);
        End("OK");
    }
};

} // namespace bv::test
