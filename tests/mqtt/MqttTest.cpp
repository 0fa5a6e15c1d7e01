// The plant link against a real mosquitto broker on loopback.
#include <gtest/gtest.h>
#include <mosquitto.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/BrivaneCore.h"
#include "devices/PowerMeter.h"
#include "net/MqttPublisher.h"
#include "platform/Clock.h"
#include "settings/ProgramSettings.h"
#include "sim/SimWorld.h"
#include "support/LogCapture.h"
#include "support/MqttBroker.h"
#include "support/ScriptedPrompt.h"
#include "support/SimCore.h"
#include "support/TempDir.h"

namespace bv {
namespace {

using namespace std::chrono_literals;
using test::Broker;
using test::waitFor;
const std::string kBroker = test::kMosquitto;
const std::string kCli = BRIVANE_BINARY_DIR "/cli/brivane-cli";

struct Message {
    std::string topic, payload;
    bool retain;
};

// A plain libmosquitto subscriber with a persistent session (QoS 1).
class Subscriber {
public:
    Subscriber(int port, const std::string& pattern, const std::string& id = "test-subscriber")
    {
        mosquitto_lib_init();
        m_mosq = mosquitto_new(id.c_str(), false, this);
        mosquitto_connect_callback_set(m_mosq, [](mosquitto* m, void* self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->m_pattern.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(m_mosq, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->m_subscribed = true;
        });
        mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard<std::mutex> lock(s->m_mutex);
            s->m_messages.push_back({m->topic, std::string(static_cast<const char*>(m->payload), m->payloadlen),
                                     m->retain});
        });
        m_pattern = pattern;
        mosquitto_reconnect_delay_set(m_mosq, 1, 1, false);
        mosquitto_connect(m_mosq, "127.0.0.1", port, 5);
        mosquitto_loop_start(m_mosq);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }
    bool subscribed() { return waitFor([&] { return m_subscribed.load(); }, 5s); }
    void publish(const std::string& topic, const std::string& payload, bool retain = false)
    {
        mosquitto_publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
    }
    std::vector<Message> on(const std::string& topic)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Message> r;
        for (const Message& m : m_messages)
            if (m.topic == topic)
                r.push_back(m);
        return r;
    }

private:
    mosquitto* m_mosq;
    std::string m_pattern;
    std::atomic<bool> m_subscribed{false};
    std::mutex m_mutex;
    std::vector<Message> m_messages;
};

long field(const std::string& json, const std::string& key)
{
    const auto at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::stol(json.substr(at + key.size() + 3));
}

std::string text(const std::string& json, const std::string& key)
{
    const auto at = json.find("\"" + key + "\":");
    if (at == std::string::npos)
        return "";
    const auto start = at + key.size() + 3;
    if (json[start] == '"')
        return json.substr(start + 1, json.find('"', start + 1) - start - 1);
    return json.substr(start, json.find_first_of(",}", start) - start);
}

// Powers of the store's points as the payload carries them.
class PointLog final : public IDocListener {
public:
    explicit PointLog(CPowerMeter& d) : m_device(d) {}
    void OnDocChanged(int hint, CDeviceDoc*) override
    {
        if (hint != kDocNewPoint)
            return;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.6g", m_device.Store().pGetLastMeasureValue()->power);
        powers.push_back(buf);
    }
    std::vector<std::string> powers;

private:
    CPowerMeter& m_device;
};

class MqttTest : public ::testing::Test, protected test::SimCore {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(kBroker))
            << kBroker << " is missing: install the Debian packages mosquitto and mosquitto-clients (scripts/setup)";
    }

    void startCore(const Broker& broker, MqttConfig config = {})
    {
        SimCore::startCore();
        config.enabled = true;
        config.host = "127.0.0.1";
        config.port = broker.port();
        config.station = "st1";
        ASSERT_TRUE(core->StartPlantLink(config, [this](const std::string& t) { notes.push_back(t); }));
        points = std::make_unique<PointLog>(*core->device());
        core->device()->Store().AddListener(points.get());
        core->links()->Initialise();
        run(3000);
    }
    // Real time for the network thread, heartbeats meanwhile.
    bool drain()
    {
        return waitFor([&] {
            core->plantLink()->poll();
            return core->plantLink()->queued() == 0;
        }, 10s);
    }
    void expectEveryPointInOrder(Subscriber& sub, bool exactlyOnce)
    {
        const size_t n = points->powers.size();
        ASSERT_TRUE(waitFor([&] { return sub.on("brivane/st1/reading").size() >= n; }, 10s))
            << sub.on("brivane/st1/reading").size() << " of " << n;
        std::vector<Message> got = sub.on("brivane/st1/reading");
        long expected = 1;
        size_t duplicates = 0;
        for (const Message& m : got) {
            const long seq = field(m.payload, "seq");
            if (!exactlyOnce && seq < expected) {
                ++duplicates;  // QoS 1 may repeat across a broker restart, on either side
                continue;
            }
            ASSERT_EQ(seq, expected) << m.payload;
            EXPECT_EQ(text(m.payload, "power"), points->powers[expected - 1]) << m.payload;
            ++expected;
        }
        EXPECT_EQ(expected - 1, static_cast<long>(n));
        EXPECT_LE(duplicates, MqttPublisher::kMaxInFlight);
    }
    // A broker of the test's own, a subscriber to every topic of st1, and
    // the core taking commands.
    void startWithCommands()
    {
        broker = std::make_unique<Broker>();
        ASSERT_TRUE(broker->start());
        sub = std::make_unique<Subscriber>(broker->port(), "brivane/st1/#");
        ASSERT_TRUE(sub->subscribed());
        startCore(*broker, commandsTaken());
    }
    static MqttConfig commandsTaken()
    {
        MqttConfig config;
        config.acceptCommands = true;
        return config;
    }
    // Sends a command and waits for its answer on command/result.
    Message command(Subscriber& sub, const std::string& word)
    {
        const size_t before = sub.on("brivane/st1/command/result").size();
        sub.publish("brivane/st1/command", word);
        waitFor([&] { run(100); return sub.on("brivane/st1/command/result").size() > before; }, 5s);
        const auto results = sub.on("brivane/st1/command/result");
        return results.size() > before ? results.back() : Message{};
    }
    void restartBroker(Broker& broker)
    {
        broker.stop();
        ASSERT_TRUE(waitFor([&] { run(100); return !core->plantLink()->connected(); }, 5s));
        ASSERT_TRUE(broker.start());
        ASSERT_TRUE(waitFor([&] { run(100); return core->plantLink()->connected(); }, 10s));
        run(3000);
    }
    void TearDown() override
    {
        if (core) {
            core->device()->Store().RemoveListener(points.get());
            core->Shutdown();
        }
    }

    std::unique_ptr<PointLog> points;
    std::vector<std::string> notes;
    std::unique_ptr<Broker> broker;
    std::unique_ptr<Subscriber> sub;
};

TEST_F(MqttTest, SimulatedEcRunStartedByCommandDeliversEveryPointOnceInOrder)
{
    startWithCommands();
    Subscriber& sub = *this->sub;
    ASSERT_TRUE(waitFor([&] { core->heartbeat(); return core->plantLink()->connected(); }, 5s));
    sub.publish("brivane/st1/command", "start");
    ASSERT_TRUE(waitFor([&] { core->heartbeat(); return core->device()->m_bMeasuringActive == 1; }, 5s));
    run(60000);
    sub.publish("brivane/st1/command", "{\"command\":\"stop\"}");
    ASSERT_TRUE(waitFor([&] { run(100); return core->device()->m_bMeasuringActive == 0; }, 5s));
    ASSERT_GE(points->powers.size(), 55u);
    // An electronic calibration: its points carry the EC fields.
    core->device()->StartMeasuring(MeasuringMode::Calibration, 1);
    run(90000);
    ASSERT_TRUE(drain());
    expectEveryPointInOrder(sub, true);

    const std::string last = sub.on("brivane/st1/reading").back().payload;
    EXPECT_NE(last.find("\"ec_power\":"), std::string::npos) << last;
    EXPECT_EQ(text(last, "time").size(), 29u) << last;  // 2026-12-09T07:15:02.125+01:00
    const auto status = sub.on("brivane/st1/status");
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(text(status.back().payload, "measuring"), "false");
    EXPECT_EQ(text(status.back().payload, "model"), "EC-Brivane");
    EXPECT_EQ(text(status.back().payload, "link"), "usb");

    core->device()->Store().RemoveListener(points.get());
    core->Shutdown();
    core.reset();
    ASSERT_TRUE(waitFor([&] { return text(sub.on("brivane/st1/status").back().payload, "state") == "offline"; }, 5s));
}

// Commands left on the broker, oversized or in a flood: none runs, and the
// log says so in a few short lines.
TEST_F(MqttTest, RetainedOversizedAndFloodedCommandsNeverRun)
{
    test::LogCapture log({"MeterCommands"});
    startWithCommands();
    Broker& broker = *this->broker;
    Subscriber& sub = *this->sub;
    const std::pair<const char*, bool> cases[] = {{"zero", true}, {"stop", true}, {"start", false}};
    for (const auto& [word, measuring] : cases) {
        SCOPED_TRACE(word);
        const size_t before = sub.on("brivane/st1/command").size();
        sub.publish("brivane/st1/command", word, true);
        ASSERT_TRUE(waitFor([&] { return sub.on("brivane/st1/command").size() > before; }, 5s));
        if (core) {
            core->device()->Store().RemoveListener(points.get());
            core->Shutdown();
        }
        startCore(broker, commandsTaken());
        if (measuring) {
            ASSERT_TRUE(core->commands()->run({MeterCommand::Start}).done());
            run(5000);
            ASSERT_GT(core->device()->Store().pGetLastMeasureValue()->power, 100.0);
        }
        // Every reconnect hands the retained message over again.
        for (int i = 0; i < 2; ++i) {
            restartBroker(broker);
            EXPECT_EQ(core->device()->MeasuringActive(), measuring);
            EXPECT_EQ(core->device()->m_dZeroOffset, 0.0);
        }
    }
    EXPECT_GE(log.count("MQTT: retained command ignored", "WARN"), 3u);

    CPowerMeter* meter = core->device();
    ASSERT_TRUE(core->commands()->run({MeterCommand::Start}).done());
    sub.publish("brivane/st1/command", std::string(1 << 20, 'z'));
    for (int i = 0; i < 300; ++i)
        sub.publish("brivane/st1/command", "bogus");
    ASSERT_TRUE(waitFor([&] { run(100); return log.has("MQTT: command of 1048576 bytes dropped unread"); }, 10s));
    run(3000);
    EXPECT_TRUE(meter->MeasuringActive());
    EXPECT_EQ(meter->m_dZeroOffset, 0.0);
    EXPECT_LE(log.count("MQTT: unknown command", "WARN") + log.count("MQTT: too many", "WARN"), 2u);
    for (const auto& r : log.records())
        EXPECT_LT(r.message.size(), 300u) << r.message.substr(0, 80);
}

// A calibration cannot be turned into something else from afar, a stop ends
// it with the heater off, and no remote command ever asks a question.
TEST_F(MqttTest, RemoteCommandsKeepACalibrationSafeAndNeverAsk)
{
    startWithCommands();
    Subscriber& sub = *this->sub;
    std::vector<std::string> told;
    core->commands()->setReporter([&](const std::string& t) { told.push_back(t); });
    CPowerMeter& meter = *core->device();
    ASSERT_TRUE(waitFor([&] { run(100); return core->plantLink()->connected(); }, 5s));
    ASSERT_TRUE(core->commands()->run({MeterCommand::Calibrate}).done());
    run(3000);
    ASSERT_TRUE(world->meter().heaterOn());

    Message m = command(sub, "start");
    EXPECT_EQ(text(m.payload, "result"), "refused") << m.payload;
    EXPECT_NE(m.payload.find("\"reason\":\"\\\"start\\\" refused: the electronic calibration runs"), std::string::npos)
        << m.payload;
    run(3000);
    EXPECT_TRUE(meter.CalibrationRunning());
    EXPECT_TRUE(world->meter().heaterOn());
    m = command(sub, "stop");
    EXPECT_EQ(text(m.payload, "result"), "done") << m.payload;
    run(5000);
    EXPECT_FALSE(meter.m_Measuring.IsRunning());
    EXPECT_FALSE(world->meter().heaterOn());

    // Nobody stands at the meter to confirm an unknown shutter.
    world->meter().reportShutterUnknown(true);
    ASSERT_TRUE(core->commands()->run({MeterCommand::Single}).done());
    run(3000);
    ASSERT_EQ(meter.m_iShutterState, kShutterUnknown);
    prompt.shown.clear();
    m = command(sub, "start");
    EXPECT_EQ(text(m.payload, "result"), "refused") << m.payload;
    EXPECT_NE(m.payload.find("refused: the shutter state is unknown"), std::string::npos) << m.payload;
    run(3000);
    EXPECT_FALSE(meter.MeasuringActive());
    EXPECT_TRUE(prompt.shown.empty()) << prompt.shown.front().text;
    ASSERT_FALSE(told.empty());
    EXPECT_NE(told.back().find("shutter"), std::string::npos) << told.back();
}

TEST_F(MqttTest, FlowAlarmIsRetainedWhileActiveAndItsClearingReplacesIt)
{
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port(), "brivane/st1/alarm");
    ASSERT_TRUE(sub.subscribed());
    startCore(broker);
    core->device()->StartMeasuring(MeasuringMode::Continuous, 1);
    run(5000);
    world->meter().failFlow(0);
    run(5000);
    ASSERT_TRUE(drain());
    {
        Subscriber late(broker.port(), "brivane/st1/alarm", "late-1");
        ASSERT_TRUE(waitFor([&] { return !late.on("brivane/st1/alarm").empty(); }, 5s));
        const Message m = late.on("brivane/st1/alarm").back();
        EXPECT_TRUE(m.retain);
        EXPECT_EQ(text(m.payload, "alarm"), "no flow") << m.payload;
        EXPECT_EQ(text(m.payload, "raised"), "true");
        EXPECT_NE(m.payload.find("\"no flow\""), m.payload.rfind("\"no flow\"")) << m.payload;  // also active
    }
    {
        // A link started while the alarm is active says so at once, not at its next change.
        const size_t before = sub.on("brivane/st1/alarm").size();
        MqttConfig again;
        again.enabled = true;
        again.host = "127.0.0.1";
        again.port = broker.port();
        again.station = "st1";
        ASSERT_TRUE(core->StartPlantLink(again));
        ASSERT_TRUE(waitFor([&] { run(100); return sub.on("brivane/st1/alarm").size() > before; }, 5s));
        EXPECT_EQ(text(sub.on("brivane/st1/alarm").back().payload, "raised"), "true");
    }
    world->meter().restoreFlow();
    run(5000);
    ASSERT_TRUE(drain());
    ASSERT_TRUE(waitFor([&] { return sub.on("brivane/st1/alarm").size() >= 2; }, 5s));
    const auto seen = sub.on("brivane/st1/alarm");
    EXPECT_EQ(text(seen.front().payload, "raised"), "true") << seen.front().payload;
    EXPECT_EQ(text(seen.back().payload, "alarm"), "no flow") << seen.back().payload;
    EXPECT_EQ(text(seen.back().payload, "raised"), "false");
    Subscriber later(broker.port(), "brivane/st1/alarm", "late-2");
    ASSERT_TRUE(waitFor([&] { return !later.on("brivane/st1/alarm").empty(); }, 5s));
    const Message m = later.on("brivane/st1/alarm").front();
    EXPECT_EQ(text(m.payload, "raised"), "false");
    EXPECT_NE(m.payload.find("\"active\":[]"), std::string::npos) << m.payload;
}

TEST_F(MqttTest, SilentMeterRaisesNoReadingAndItsReturnClearsIt)
{
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port(), "brivane/st1/alarm");
    ASSERT_TRUE(sub.subscribed());
    startCore(broker);
    core->device()->StartMeasuring(MeasuringMode::Continuous, 1);
    run(5000);
    world->meter().silenceUntilCleared();
    run(8000);
    ASSERT_TRUE(core->watchdog()->stale());
    ASSERT_TRUE(drain());
    ASSERT_TRUE(waitFor([&] { return !sub.on("brivane/st1/alarm").empty(); }, 5s));
    const Message raised = sub.on("brivane/st1/alarm").back();
    EXPECT_EQ(text(raised.payload, "alarm"), "no reading") << raised.payload;
    EXPECT_EQ(text(raised.payload, "raised"), "true");
    EXPECT_EQ(text(raised.payload, "text").rfind("No reading from the meter since ", 0), 0u) << raised.payload;

    world->meter().clearSilence();
    run(3000);
    ASSERT_FALSE(core->watchdog()->stale());
    ASSERT_TRUE(drain());
    ASSERT_TRUE(waitFor([&] { return sub.on("brivane/st1/alarm").size() >= 2; }, 5s));
    const Message cleared = sub.on("brivane/st1/alarm").back();
    EXPECT_EQ(text(cleared.payload, "alarm"), "no reading") << cleared.payload;
    EXPECT_EQ(text(cleared.payload, "raised"), "false");
    EXPECT_NE(cleared.payload.find("\"active\":[]"), std::string::npos) << cleared.payload;
}

TEST_F(MqttTest, BrokerAwayTenSecondsLosesNoReading)
{
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port(), "brivane/st1/reading");
    ASSERT_TRUE(sub.subscribed());
    startCore(broker);
    core->device()->StartMeasuring(MeasuringMode::Continuous, 1);
    ASSERT_TRUE(waitFor([&] { run(100); return core->plantLink()->connected(); }, 5s));
    run(10000);
    broker.stop();
    ASSERT_TRUE(waitFor([&] { run(100); return !core->plantLink()->connected(); }, 5s));
    // Ten seconds without a broker: a hundred simulated seconds of readings.
    const auto away = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - away < 10s) {
        run(1000);
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_GT(core->plantLink()->queued(), 80u);
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(waitFor([&] { run(100); return core->plantLink()->connected(); }, 10s));
    run(5000);
    core->device()->StartMeasuring(MeasuringMode::Continuous, 0);
    run(3000);
    ASSERT_TRUE(drain());
    expectEveryPointInOrder(sub, false);
    EXPECT_EQ(core->plantLink()->dropped(), 0u);
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(),
                            [](const std::string& n) { return n.find("lost the broker") != std::string::npos; }));
}

// A full queue drops the oldest readings: every one not dropped arrives, and
// the operator hears the total when the broker returns and at the end.
TEST_F(MqttTest, FullQueueSaysHowManyWereDroppedAndDeliversTheRest)
{
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port(), "brivane/st1/reading");
    ASSERT_TRUE(sub.subscribed());
    MqttConfig config;
    config.queueLimit = MqttPublisher::kQueueMinimum;
    startCore(broker, config);
    core->device()->StartMeasuring(MeasuringMode::Continuous, 1);
    ASSERT_TRUE(waitFor([&] { run(100); return core->plantLink()->connected(); }, 5s));
    run(5000);
    broker.stop();
    ASSERT_TRUE(waitFor([&] { run(100); return !core->plantLink()->connected(); }, 5s));
    for (int i = 0; i < 30; ++i) {
        run(10000);
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_GT(core->plantLink()->dropped(), 100u);
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(waitFor([&] { run(100); return core->plantLink()->connected(); }, 10s));
    core->device()->StartMeasuring(MeasuringMode::Continuous, 0);
    run(3000);
    ASSERT_TRUE(drain());
    const unsigned long dropped = core->plantLink()->dropped();
    const size_t n = points->powers.size();
    std::vector<bool> seen(n + 1, false);
    ASSERT_TRUE(waitFor([&] {
        size_t distinct = 0;
        std::fill(seen.begin(), seen.end(), false);
        for (const Message& m : sub.on("brivane/st1/reading")) {
            const long seq = field(m.payload, "seq");
            if (seq >= 1 && seq <= static_cast<long>(n) && !seen[seq]) {
                seen[seq] = true;
                ++distinct;
            }
        }
        return distinct + dropped == n;
    }, 10s)) << dropped << " dropped of " << n;
    // Those kept before the outage came through; the oldest made room.
    EXPECT_TRUE(seen[1]);
    EXPECT_FALSE(seen[n / 2]);
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [&](const std::string& t) {
        return t.find(" messages dropped while the broker was away") != std::string::npos;
    }));
    const std::string total = std::to_string(dropped) + " messages dropped";
    core->device()->Store().RemoveListener(points.get());
    core->Shutdown();
    core.reset();
    EXPECT_NE(notes.back().find(total + " in this run"), std::string::npos) << notes.back();
}

// What keeps the link from working is said to the operator, not only logged.
TEST_F(MqttTest, BrokerNeverReachedAndRefusedSettingsAreSaidPlainly)
{
    Broker never;  // not started: nobody listens on its port
    startCore(never);
    ASSERT_TRUE(waitFor([&] { run(100); return !notes.empty(); }, 5s));
    EXPECT_NE(notes.front().find("cannot reach the broker at 127.0.0.1:" + std::to_string(never.port())),
              std::string::npos) << notes.front();
    for (const std::string& n : notes)
        EXPECT_EQ(n.find("lost"), std::string::npos) << n;

    struct Case {
        const char* station;
        const char* prefix;
        const char* ca;
        const char* said;
    };
    const std::string longName(100, 's');
    const Case cases[] = {
        {"a/b", "brivane", "", "Station \"a/b\" refused: a topic level may not hold / + or #"},
        {"#", "brivane", "", "Station \"#\" refused"},
        {longName.c_str(), "brivane", "", "refused: it is 100 bytes long, at most 64"},
        {"st1", "$SYS", "", "TopicPrefix \"$SYS\" refused: topics beginning with $ are the broker's own"},
        {"st1", "a+b", "", "TopicPrefix \"a+b\" refused"},
        {"st1", "brivane", "/nonexistent/ca.pem", "CAFile \"/nonexistent/ca.pem\" cannot be read: No such file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.said);
        MqttConfig config;
        config.enabled = true;
        config.host = "127.0.0.1";
        config.port = never.port();
        config.station = c.station;
        config.topicPrefix = c.prefix;
        config.tls = c.ca[0] != 0;
        config.caFile = c.ca;
        notes.clear();
        EXPECT_FALSE(core->StartPlantLink(config, [this](const std::string& t) { notes.push_back(t); }));
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_NE(notes[0].find(c.said), std::string::npos) << notes[0];
        EXPECT_NE(notes[0].find("not publishing"), std::string::npos) << notes[0];
    }
}

TEST_F(MqttTest, WrongPasswordGivesOneLineAndMeasuringGoesOn)
{
    test::TempDir pw;
    std::filesystem::permissions(pw.path(), std::filesystem::perms::all);  // read by the user "mosquitto"
    const std::string file = pw.file("passwd");
    ASSERT_EQ(std::system(("mosquitto_passwd -b -c " + file + " plant right-secret >/dev/null 2>&1").c_str()), 0);
    std::filesystem::permissions(file, std::filesystem::perms::owner_all | std::filesystem::perms::others_read);
    Broker broker("allow_anonymous false\npassword_file " + file + "\n");
    ASSERT_TRUE(broker.start());
    test::LogCapture log({"MqttPublisher"});
    MqttConfig config;
    config.username = "plant";
    config.password = "wrong-secret";
    startCore(broker, config);
    core->device()->StartMeasuring(MeasuringMode::Continuous, 1);
    const auto until = std::chrono::steady_clock::now() + 3s;  // several attempts
    while (std::chrono::steady_clock::now() < until) {
        run(1000);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_GT(points->powers.size(), 30u);
    EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                            [](const std::string& n) { return n.find("refused") != std::string::npos; }),
              1)
        << (notes.empty() ? "" : notes.front());
    EXPECT_EQ(log.count("MQTT: the broker at", "ERROR"), 1u);
    for (const auto& r : log.records())
        EXPECT_EQ(r.message.find("wrong-secret"), std::string::npos) << r.message;
}

// One point, one time: the CLI's JSON line, its CSV row and its MQTT reading
// carry the store's stamp as the same ISO 8601 text.
TEST_F(MqttTest, CliJsonCsvAndReadingsGiveEachPointTheSameTime)
{
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port(), "brivane/same/reading");
    ASSERT_TRUE(sub.subscribed());
    test::TempDir cliDir;
    const std::string cmd = "cd " + cliDir.path() + " && timeout 60 " + kCli + " --settings-dir " + cliDir.path() +
                            " --simulate=ec --count 4 --interval 500 --format json --csv " + cliDir.file("p.csv") +
                            " --mqtt 127.0.0.1:" + std::to_string(broker.port()) + " --station same >" +
                            cliDir.file("out.json") + " 2>" + cliDir.file("err.txt");
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    ASSERT_TRUE(waitFor([&] { return sub.on("brivane/same/reading").size() >= 4; }, 10s));
    {
        std::ofstream readings(cliDir.file("readings.json"));
        for (const Message& m : sub.on("brivane/same/reading"))
            readings << m.payload << "\n";
    }
    const std::string check = "python3 " BRIVANE_SOURCE_DIR "/tests/mqtt/same_times.py " + cliDir.file("out.json") +
                              " " + cliDir.file("p.csv") + " " + cliDir.file("readings.json") + " 2>&1";
    FILE* pipe = popen(check.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string said;
    char buf[512];
    while (fgets(buf, sizeof buf, pipe))
        said += buf;
    EXPECT_EQ(pclose(pipe), 0) << said;
    EXPECT_EQ(said, "4\n");
}

TEST_F(MqttTest, CliTellsRefusalsOnStderrAndItsLastWillAppearsWhenKilled)
{
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber sub(broker.port(), "brivane/lw/status");
    ASSERT_TRUE(sub.subscribed());
    test::TempDir cliDir;
    std::ofstream(cliDir.file("BrivaneSoftware.ini")) << "[Version]\nno=15\n[MQTT]\nKeepAlive=5\nAcceptCommands=1\n";
    const std::string errFile = cliDir.file("err.txt");
    const std::string brokerArg = "127.0.0.1:" + std::to_string(broker.port());
    const pid_t cli = fork();
    ASSERT_GE(cli, 0);
    if (cli == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        dup2(open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        chdir(cliDir.path().c_str());
        execl(kCli.c_str(), kCli.c_str(), "--simulate=ec", "--settings-dir", cliDir.path().c_str(), "--mqtt",
              brokerArg.c_str(), "--station", "lw", static_cast<char*>(nullptr));
        _exit(127);
    }
    const bool online = waitFor([&] {
        auto s = sub.on("brivane/lw/status");
        return !s.empty() && text(s.back().payload, "measuring") == "true";
    }, 20s);
    // Refusals reach the operator on stderr, short whatever was sent.
    std::string said;
    if (online) {
        sub.publish("brivane/lw/command", "calibrate");
        sub.publish("brivane/lw/command", std::string(1 << 20, 'z'));
        waitFor([&] {
            std::ifstream in(errFile);
            said.assign(std::istreambuf_iterator<char>(in), {});
            return said.find("bytes dropped unread") != std::string::npos &&
                   said.find("\"calibrate\" refused") != std::string::npos;
        }, 5s);
    }
    kill(cli, SIGKILL);
    waitpid(cli, nullptr, 0);
    ASSERT_TRUE(online);
    // At 1500 W, or before the first reading: refused either way.
    EXPECT_NE(said.find("brivane-cli: MQTT: \"calibrate\" refused: "), std::string::npos) << said;
    EXPECT_NE(said.find("brivane-cli: MQTT: command of 1048576 bytes dropped unread"), std::string::npos) << said;
    EXPECT_LT(said.size(), 4000u);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return text(sub.on("brivane/lw/status").back().payload, "state") == "offline"; }, 10s));
    // The broker gives up after one and a half keep-alive periods.
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 10s);
}

} // namespace
} // namespace bv
