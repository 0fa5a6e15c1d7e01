#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/Device.h"
#include "control/DeviceDoc.h"
#include "data/MeasurePoint.h"
#include "devices/Alarms.h"
#include "devices/MeterCommands.h"
#include "platform/Logging.h"

struct mosquitto;
struct mosquitto_message;

namespace bv {

class CPowerMeter;
class ProgramSettings;

// Where and how the plant link publishes; read from the "MQTT" section.
struct MqttConfig {
    bool enabled = false;
    std::string host = "localhost";
    int port = 1883;
    std::string station;  // empty: the host name
    std::string topicPrefix = "brivane";
    std::string username;
    std::string password;  // never logged
    bool tls = false;
    std::string caFile;  // empty with TLS: the system's certificate directory
    int qos = 1;
    bool acceptCommands = false;
    int keepAliveSeconds = 30;
    std::size_t queueLimit = 10000;

    static MqttConfig fromSettings(const ProgramSettings& settings);
    // "HOST" or "HOST:PORT"; false when the port is not a number in 1..65535.
    bool setBroker(const std::string& hostAndPort);
    // Why a station name or topic prefix cannot be one level of a topic
    // (empty when it can): no / + #, no leading $, printable, at most
    // kMaxNameBytes.
    static constexpr std::size_t kMaxNameBytes = 64;
    static std::string topicLevelProblem(const std::string& name);
};

// Publishes readings, alarms and the link state to an MQTT broker and takes
// commands from it, which run through the core's command door as a remote
// caller's. Retained messages are never commands: they would run again on
// every reconnect. The heartbeat thread only queues and
// hands messages over; a network thread of ours talks to the broker, so a
// broker that is down or slow never holds up measuring. Readings wait in a
// bounded queue while the broker is away and go out afterwards: each at
// least once, a reading's seq tells repeats and order.
class MqttPublisher final : public IPointListener, public IDeviceListener, public IAlarmListener {
public:
    using StatusHandler = std::function<void(const std::string&)>;
    // Handed to libmosquitto and not yet confirmed. The heartbeat hands over
    // ten times a second, so this bounds how fast a backlog drains.
    static constexpr std::size_t kMaxInFlight = 500;
    static constexpr std::chrono::microseconds kHandOverSlice{2000};
    static constexpr std::size_t kQueueMinimum = 100;
    // A command is a word or {"command":"word"}: anything longer is dropped unread.
    static constexpr std::size_t kMaxCommandBytes = 256;
    // Commands taken in a burst, and per second after it.
    static constexpr double kCommandBurst = 10;
    static constexpr double kCommandsPerSecond = 5;

    // The points and the alarm topic come from the alarm monitor; commands
    // may be null: then none are taken.
    MqttPublisher(MqttConfig config, CPowerMeter& device, AlarmMonitor& alarms, MeterCommands* commands = nullptr);
    ~MqttPublisher() override;
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Listens to the device and its store and starts the network thread.
    // False (with a log line) when libmosquitto refuses the settings.
    bool start();
    // Publishes "offline", waits a little for the queue to go out, disconnects.
    void stop();
    // From the heartbeat: runs received commands, hands queued messages over.
    void poll();

    // One alarm raised or cleared: "no flow", "low flow", "shutter", "no reading".
    void publishAlarm(const std::string& name, bool raised, const std::string& text);

    // Texts for the operator (connected, refused, lost), on the heartbeat's thread.
    void setStatusHandler(StatusHandler handler) { m_onStatus = std::move(handler); }
    // What the status message names as the link ("usb", "serial COM1", "none").
    void setLinkDescription(std::function<std::string()> describe) { m_describeLink = std::move(describe); }

    void OnNewPoint(const DecidedPoint& point) override;
    void OnDeviceChanged(int code, long parameter) override;
    void OnAlarm(const AlarmChange& change) override;

    const MqttConfig& config() const { return m_config; }
    std::string topic(const char* leaf) const;
    bool connected() const { return m_connected.load(); }
    std::size_t queued() const { return m_queue.size(); }
    unsigned long dropped() const { return m_dropped; }
    unsigned long readingsQueued() const { return m_sequence; }

private:
    enum class Kind { Reading, Alarm, Status, Reply };
    struct Outgoing {
        Kind kind;
        std::string topic;
        std::string payload;
        bool retain = false;
        int mid = 0;
    };
    struct Shared {  // written by the network thread, read on the heartbeat
        std::vector<int> published;
        std::vector<std::string> commands;
        std::vector<std::pair<Refusal, std::string>> unread;  // refused on arrival
        std::vector<std::string> notes;
        unsigned connects = 0;
    };

    void enqueue(Kind kind, std::string topic, std::string payload, bool retain);
    void handOver();
    void queueStatus(bool online);
    std::string statusPayload(bool online) const;
    void runCommand(const std::string& command);
    void tellDropped(bool atEnd);
    bool refuseToStart(const std::string& text);  // heartbeat thread, before the network thread runs
    bool takeCommandToken();
    void note(const std::string& text);  // network thread
    void report(int rc, const char* what);  // network thread
    void networkLoop();
    void sleepFor(int ms);

    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);

    MqttConfig m_config;
    CPowerMeter& m_device;
    AlarmMonitor& m_alarms;
    MeterCommands* m_commands;
    StatusHandler m_onStatus;
    std::function<std::string()> m_describeLink;
    mosquitto* m_mosq = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_closing{false};  // our own disconnect: no failure
    std::atomic<bool> m_connected{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    Shared m_shared;
    std::string m_lastFailure;  // network thread: one line per distinct failure

    // Heartbeat side.
    std::deque<Outgoing> m_queue;  // the first m_handed are with libmosquitto
    std::size_t m_handed = 0;
    unsigned m_connectsSeen = 0;
    bool m_draining = false;  // after a reconnect: old messages go first
    int m_drainPolls = 0;
    unsigned long m_sequence = 0;
    unsigned long m_dropped = 0;
    unsigned long m_droppedTold = 0;  // the total the operator last heard
    std::vector<std::string> m_activeAlarms;
    double m_commandTokens = kCommandBurst;
    std::chrono::steady_clock::time_point m_tokensAt{};
    bool m_listening = false;
    log::Logger m_log{"MqttPublisher"};
};

} // namespace bv
