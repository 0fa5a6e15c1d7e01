#include "net/MqttPublisher.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "control/Messages.h"
#include "data/PointExport.h"
#include "devices/PowerMeter.h"
#include "res/StringTable.h"
#include "settings/ProgramSettings.h"

namespace bv {
namespace {

constexpr const char* kTag = "MqttPublisher";
constexpr int kFirstRetryMs = 500;
constexpr int kLastRetryMs = 5000;
constexpr int kStopWaitMs = 2000;
// Polls after a reconnect before new messages go out even though the old
// ones were not confirmed (a broker that forgot them must not stall us).
constexpr int kDrainPolls = 50;

void initLibrary()
{
    static const int once = [] { return mosquitto_lib_init(); }();
    (void)once;
}

std::int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string hostName()
{
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0 || !buf[0])
        return "brivane";
    return buf;
}

// A name from the settings as a message may show it.
std::string printable(const std::string& text)
{
    std::string out;
    for (char c : text.substr(0, 80))
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    return text.size() > 80 ? out + "..." : out;
}

std::string modelName(const CPowerMeter& d)
{
    return d.m_bAnswerSeen ? d.Model().name : "";
}

std::string payloadWord(std::string text)
{
    // A plain word or {"command":"start"}.
    if (auto key = text.find("\"command\""); key != std::string::npos) {
        const auto open = text.find('"', text.find(':', key) + 1);
        const auto close = open == std::string::npos ? open : text.find('"', open + 1);
        text = close == std::string::npos ? std::string() : text.substr(open + 1, close - open - 1);
    }
    std::string word;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isspace(u))
            continue;
        // What is shown of an unknown word stays short and printable.
        word += u < 0x20 || u > 0x7e ? '?' : static_cast<char>(std::tolower(u));
        if (word.size() >= 32)
            break;
    }
    return word;
}

} // namespace

MqttConfig MqttConfig::fromSettings(const ProgramSettings& s)
{
    MqttConfig c;
    c.enabled = s.m_bMqttEnabled != 0;
    c.host = s.m_sMqttHost;
    c.port = s.m_iMqttPort;
    c.station = s.m_sMqttStation;
    c.topicPrefix = s.m_sMqttTopicPrefix;
    c.username = s.m_sMqttUsername;
    c.password = s.m_sMqttPassword;
    c.tls = s.m_bMqttTls != 0;
    c.caFile = s.m_sMqttCaFile;
    c.qos = std::clamp(s.m_iMqttQos, 0, 2);
    c.acceptCommands = s.m_bMqttAcceptCommands != 0;
    c.keepAliveSeconds = std::clamp(s.m_iMqttKeepAlive, 5, 3600);  // libmosquitto's least
    c.queueLimit = static_cast<std::size_t>(std::max(s.m_iMqttQueueLimit, static_cast<int>(MqttPublisher::kQueueMinimum)));
    return c;
}

bool MqttConfig::setBroker(const std::string& hostAndPort)
{
    const auto colon = hostAndPort.rfind(':');
    if (colon == std::string::npos) {
        if (hostAndPort.empty())
            return false;
        host = hostAndPort;
        return true;
    }
    const std::string p = hostAndPort.substr(colon + 1);
    if (colon == 0 || p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int n = std::stoi(p);
    if (n < 1 || n > 65535)
        return false;
    host = hostAndPort.substr(0, colon);
    port = n;
    return true;
}

std::string MqttConfig::topicLevelProblem(const std::string& name)
{
    if (name.empty())
        return "it is empty";
    if (name.size() > kMaxNameBytes)
        return "it is " + std::to_string(name.size()) + " bytes long, at most " + std::to_string(kMaxNameBytes);
    if (name.find_first_of("/+#") != std::string::npos)
        return "a topic level may not hold / + or #";
    if (name[0] == '$')
        return "topics beginning with $ are the broker's own";
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return "it holds a control character";
    return {};
}

MqttPublisher::MqttPublisher(MqttConfig config, CPowerMeter& device, AlarmMonitor& alarms, MeterCommands* commands)
    : m_config(std::move(config)), m_device(device), m_alarms(alarms), m_commands(commands)
{
    if (m_config.station.empty())
        m_config.station = hostName();
    m_config.queueLimit = std::max(m_config.queueLimit, kQueueMinimum);
}

MqttPublisher::~MqttPublisher()
{
    stop();
    if (m_mosq)
        mosquitto_destroy(m_mosq);
}

std::string MqttPublisher::topic(const char* leaf) const
{
    return m_config.topicPrefix + "/" + m_config.station + "/" + leaf;
}

bool MqttPublisher::start()
{
    if (m_mosq)
        return true;
    // Said where the operator looks: a link that does not start has no later poll to say it.
    if (const std::string why = MqttConfig::topicLevelProblem(m_config.station); !why.empty())
        return refuseToStart("MQTT: Station \"" + printable(m_config.station) + "\" refused: " + why + "; not publishing");
    if (const std::string why = MqttConfig::topicLevelProblem(m_config.topicPrefix); !why.empty())
        return refuseToStart("MQTT: TopicPrefix \"" + printable(m_config.topicPrefix) + "\" refused: " + why +
                             "; not publishing");
    if (m_config.tls && !m_config.caFile.empty()) {
        if (FILE* f = std::fopen(m_config.caFile.c_str(), "r"))
            std::fclose(f);
        else
            return refuseToStart("MQTT: TLS refused: the CAFile \"" + printable(m_config.caFile) +
                                 "\" cannot be read: " + std::strerror(errno) + "; not publishing");
    }
    initLibrary();
    const std::string id = "brivane-" + m_config.station + "-" + std::to_string(getpid());
    m_mosq = mosquitto_new(id.c_str(), true, this);
    if (!m_mosq)
        return refuseToStart(std::string("MQTT: cannot create the client: ") + std::strerror(errno));
    mosquitto_threaded_set(m_mosq, true);
    mosquitto_max_inflight_messages_set(m_mosq, static_cast<unsigned>(kMaxInFlight));
    mosquitto_connect_callback_set(m_mosq, &MqttPublisher::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttPublisher::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttPublisher::onPublish);
    mosquitto_message_callback_set(m_mosq, &MqttPublisher::onMessage);

    int rc = MOSQ_ERR_SUCCESS;
    if (!m_config.username.empty())
        rc = mosquitto_username_pw_set(m_mosq, m_config.username.c_str(),
                                       m_config.password.empty() ? nullptr : m_config.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && m_config.tls) {
        const char* caFile = m_config.caFile.empty() ? nullptr : m_config.caFile.c_str();
        rc = mosquitto_tls_set(m_mosq, caFile, caFile ? nullptr : "/etc/ssl/certs", nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            return refuseToStart("MQTT: TLS cannot be set up with the CAFile \"" + printable(m_config.caFile) +
                                 "\": " + mosquitto_strerror(rc) + "; not publishing");
        }
    }
    const std::string will = statusPayload(false);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_will_set(m_mosq, topic("status").c_str(), static_cast<int>(will.size()), will.data(),
                                m_config.qos, true);
    if (rc != MOSQ_ERR_SUCCESS)
        return refuseToStart(std::string("MQTT: settings refused by libmosquitto: ") + mosquitto_strerror(rc));

    m_alarms.addPointListener(this);
    m_device.AddListener(this);
    m_alarms.addListener(this);
    m_listening = true;
    // Raised before the link started (a meter silent from the start).
    for (int i = 0; i < kAlarmKinds; ++i)
        if (m_alarms.active(static_cast<AlarmKind>(i)))
            publishAlarm(alarmName(static_cast<AlarmKind>(i)), true, m_alarms.text(static_cast<AlarmKind>(i)));
    m_stopping = false;
    m_closing = false;
    m_thread = std::thread([this] { networkLoop(); });
    BV_LOG(m_log, log::Level::Info, kTag,
           "MQTT: publishing to " << m_config.host << ":" << m_config.port << " as " << topic("#")
                                  << (m_config.tls ? " over TLS" : "")
                                  << (m_config.acceptCommands ? ", commands accepted" : ""));
    return true;
}

void MqttPublisher::stop()
{
    if (m_listening) {
        m_alarms.removePointListener(this);
        m_device.RemoveListener(this);
        m_alarms.removeListener(this);
        m_listening = false;
    }
    if (!m_thread.joinable())
        return;
    // What is still queued gets a short chance to go out, "offline" last.
    queueStatus(false);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    while (!m_queue.empty() && std::chrono::steady_clock::now() < until) {
        poll();
        if (!m_connected)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!m_queue.empty())
        BV_LOG(m_log, log::Level::Warn, kTag,
               "MQTT: " << m_queue.size() << " messages not delivered at the end");
    tellDropped(true);
    m_closing = true;
    if (m_connected) {
        mosquitto_disconnect(m_mosq);
        for (int i = 0; i < 100 && m_connected; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
    m_connected = false;
}

// --- the heartbeat side ----------------------------------------------------

void MqttPublisher::OnNewPoint(const DecidedPoint& decided)
{
    const MeasurePoint& p = decided.point;
    // The point's own stamp: the CLI's JSON and the CSV give the same text.
    const std::string s = "{\"time\":" + jsonQuoted(isoTime(p.timeMs)) + ",\"seq\":" + std::to_string(++m_sequence) +
                          "," + pointJsonMembers(p, decided.shutterState);
    enqueue(Kind::Reading, topic("reading"), s + "}", false);
}

void MqttPublisher::OnDeviceChanged(int code, long)
{
    if (code == kNotifyIdentificationEnded || code == kNotifyMeasuringStarted || code == kNotifyMeasuringEnded)
        queueStatus(true);
}

void MqttPublisher::OnAlarm(const AlarmChange& change)
{
    publishAlarm(alarmName(change.kind), change.raised, change.text);
}

void MqttPublisher::publishAlarm(const std::string& name, bool raised, const std::string& text)
{
    auto at = std::find(m_activeAlarms.begin(), m_activeAlarms.end(), name);
    if (raised && at == m_activeAlarms.end())
        m_activeAlarms.push_back(name);
    else if (!raised && at != m_activeAlarms.end())
        m_activeAlarms.erase(at);
    // Retained, with every alarm still active: a subscriber arriving later
    // sees the present state, an empty list once all have cleared.
    std::string s = "{\"time\":" + jsonQuoted(isoTime(nowMs())) + ",\"alarm\":" + jsonQuoted(name) +
                    ",\"raised\":" + (raised ? "true" : "false") + ",\"text\":" + jsonQuoted(text) + ",\"active\":[";
    for (std::size_t i = 0; i < m_activeAlarms.size(); ++i)
        s += (i ? "," : "") + jsonQuoted(m_activeAlarms[i]);
    enqueue(Kind::Alarm, topic("alarm"), s + "]}", true);
}

std::string MqttPublisher::statusPayload(bool online) const
{
    std::string s = "{\"state\":" + jsonQuoted(online ? "online" : "offline") + ",\"station\":" + jsonQuoted(m_config.station);
    if (!online)
        return s + "}";
    const std::string link = m_describeLink ? m_describeLink() : std::string();
    return s + ",\"time\":" + jsonQuoted(isoTime(nowMs())) + ",\"model\":" + jsonQuoted(modelName(m_device)) +
           ",\"address\":" + std::to_string(m_device.m_byDevice) + ",\"link\":" + jsonQuoted(link) +
           ",\"measuring\":" + (m_device.MeasuringActive() ? "true" : "false") + "}";
}

void MqttPublisher::queueStatus(bool online)
{
    if (m_mosq)
        enqueue(Kind::Status, topic("status"), statusPayload(online), true);
}

void MqttPublisher::enqueue(Kind kind, std::string topic, std::string payload, bool retain)
{
    if (m_queue.size() >= m_config.queueLimit) {
        // The oldest reading not yet with libmosquitto makes room.
        auto victim = std::find_if(m_queue.begin() + static_cast<std::ptrdiff_t>(m_handed), m_queue.end(),
                                   [](const Outgoing& o) { return o.kind == Kind::Reading; });
        if (victim == m_queue.end())
            victim = m_queue.begin() + static_cast<std::ptrdiff_t>(m_handed);
        if (victim != m_queue.end()) {
            m_queue.erase(victim);
            ++m_dropped;
            if (m_dropped == 1 || m_dropped % 1000 == 0)
                BV_LOG(m_log, log::Level::Warn, kTag,
                       "MQTT: queue full (" << m_config.queueLimit << " messages), oldest dropped; " << m_dropped
                                            << " dropped so far");
        }
    }
    m_queue.push_back(Outgoing{kind, std::move(topic), std::move(payload), retain, 0});
}

void MqttPublisher::poll()
{
    if (!m_mosq)
        return;
    Shared in;
    bool connected = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::swap(in, m_shared);
        m_shared.connects = in.connects;
        connected = m_connected;
    }
    if (!in.published.empty()) {
        std::sort(in.published.begin(), in.published.end());
        auto acked = [&](const Outgoing& o) { return std::binary_search(in.published.begin(), in.published.end(), o.mid); };
        const auto end = m_queue.begin() + static_cast<std::ptrdiff_t>(m_handed);
        const auto kept = std::stable_partition(m_queue.begin(), end, [&](const Outgoing& o) { return acked(o); });
        const std::size_t done = static_cast<std::size_t>(kept - m_queue.begin());
        m_queue.erase(m_queue.begin(), kept);
        m_handed -= done;
        m_drainPolls = 0;
    }
    if (in.connects != m_connectsSeen) {
        m_connectsSeen = in.connects;
        // libmosquitto sends what it held again first; ours wait for that.
        m_draining = m_handed > 0;
        m_drainPolls = 0;
        queueStatus(true);
        tellDropped(false);
    }
    if (m_draining && (m_handed == 0 || ++m_drainPolls > kDrainPolls))
        m_draining = false;
    for (const std::string& text : in.notes)
        if (m_onStatus)
            m_onStatus(text);
    if (m_commands)
        for (const auto& [kind, what] : in.unread)
            m_commands->refuseUnread(kind, "MQTT", what);
    for (const std::string& command : in.commands)
        runCommand(command);
    if (connected && !m_draining)
        handOver();
}

void MqttPublisher::handOver()
{
    // libmosquitto's lock is shared with the network thread: the heartbeat
    // hands over what fits into a short slice and the rest next time.
    const auto until = std::chrono::steady_clock::now() + kHandOverSlice;
    for (std::size_t n = 0; m_handed < m_queue.size() && m_handed < kMaxInFlight; ++n) {
        if (n % 16 == 15 && std::chrono::steady_clock::now() > until)
            return;
        Outgoing& o = m_queue[m_handed];
        const int qos = m_config.qos;
        int mid = 0;
        const int rc = mosquitto_publish(m_mosq, &mid, o.topic.c_str(), static_cast<int>(o.payload.size()),
                                         o.payload.data(), qos, o.retain);
        // With QoS 1 and 2 libmosquitto keeps a message it could not send yet
        // and sends it after the reconnect.
        if (rc == MOSQ_ERR_SUCCESS || (rc == MOSQ_ERR_NO_CONN && qos > 0)) {
            o.mid = mid;
            ++m_handed;
        } else if (rc == MOSQ_ERR_NO_CONN) {
            return;
        } else {
            BV_LOG_ERROR(m_log, kTag, "MQTT: message on " << o.topic << " dropped: " << mosquitto_strerror(rc));
            m_queue.erase(m_queue.begin() + static_cast<std::ptrdiff_t>(m_handed));
        }
    }
}

bool MqttPublisher::refuseToStart(const std::string& text)
{
    BV_LOG_ERROR(m_log, kTag, text);
    if (m_onStatus)
        m_onStatus(text);
    return false;
}

void MqttPublisher::tellDropped(bool atEnd)
{
    if (m_dropped == m_droppedTold && !(atEnd && m_dropped > 0))
        return;
    const unsigned long now = m_dropped - m_droppedTold;
    std::string text = "MQTT: " + std::to_string(atEnd ? m_dropped : now) + " messages dropped " +
                       (atEnd ? "in this run" : "while the broker was away") + " (queue limit " +
                       std::to_string(m_config.queueLimit) + " messages)";
    if (!atEnd && m_droppedTold > 0)
        text += ", " + std::to_string(m_dropped) + " in this run";
    m_droppedTold = m_dropped;
    BV_LOG(m_log, log::Level::Warn, kTag, text);
    if (m_onStatus)
        m_onStatus(text);
}

bool MqttPublisher::takeCommandToken()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_tokensAt != std::chrono::steady_clock::time_point{}) {
        const double seconds = std::chrono::duration<double>(now - m_tokensAt).count();
        m_commandTokens = std::min(kCommandBurst, m_commandTokens + seconds * kCommandsPerSecond);
    }
    m_tokensAt = now;
    if (m_commandTokens < 1)
        return false;
    m_commandTokens -= 1;
    return true;
}

void MqttPublisher::runCommand(const std::string& word)
{
    if (!m_commands)
        return;
    if (!takeCommandToken()) {
        m_commands->refuseUnread(Refusal::TooMany, "MQTT", strings::text(strings::kCommandTooMany));
        return;
    }
    const std::optional<MeterCommand> command = commandFromWord(word);
    if (!command) {
        m_commands->refuseUnread(Refusal::UnknownWord, "MQTT",
                                 strings::fill(strings::text(strings::kCommandUnknownWord), {word}));
        return;
    }
    const CommandOutcome outcome = m_commands->run({*command, CommandSource::Remote}, "MQTT");
    // The caller hears what came of it; the window and the CLI hear of refusals through the door.
    std::string s = "{\"time\":" + jsonQuoted(isoTime(nowMs())) + ",\"command\":" + jsonQuoted(commandWord(*command)) +
                    ",\"result\":" + jsonQuoted(outcome.resultWord());
    if (!outcome.text.empty())
        s += ",\"reason\":" + jsonQuoted(outcome.text);
    enqueue(Kind::Reply, topic("command/result"), s + "}", false);
}

// --- the network thread ----------------------------------------------------

void MqttPublisher::note(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shared.notes.push_back(text);
}

void MqttPublisher::report(int rc, const char* what)
{
    std::string reason;
    if (rc == MOSQ_ERR_ERRNO)
        reason = std::strerror(errno);
    else if (rc == MOSQ_ERR_TLS)
        reason = "TLS handshake failed (check TLS, CAFile and the broker's certificate)";
    else if (rc == MOSQ_ERR_EAI)
        reason = "the host name cannot be resolved";
    else
        reason = mosquitto_strerror(rc);
    const std::string text = "MQTT: " + std::string(what) + " " + m_config.host + ":" + std::to_string(m_config.port) +
                             ": " + reason + "; readings wait in the queue";
    if (text == m_lastFailure)
        return;
    m_lastFailure = text;
    BV_LOG_ERROR(m_log, kTag, text);
    note(text);
}

void MqttPublisher::sleepFor(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopping.load(); });
}

void MqttPublisher::networkLoop()
{
    bool initialised = false;
    bool attached = false;
    bool reached = false;
    int delay = kFirstRetryMs;
    while (!m_stopping) {
        if (!attached) {
            const int rc = initialised ? mosquitto_reconnect_async(m_mosq)
                                       : mosquitto_connect_async(m_mosq, m_config.host.c_str(), m_config.port,
                                                                 m_config.keepAliveSeconds);
            if (rc == MOSQ_ERR_INVAL && !initialised) {
                const std::string text = "MQTT: host, port or keep-alive refused by libmosquitto (" +
                                         m_config.host + ":" + std::to_string(m_config.port) + ", " +
                                         std::to_string(m_config.keepAliveSeconds) + " s); not publishing";
                BV_LOG_ERROR(m_log, kTag, text);
                note(text);
                return;
            }
            initialised = true;
            if (rc != MOSQ_ERR_SUCCESS) {
                report(rc, "cannot reach the broker at");
                sleepFor(delay);
                delay = std::min(delay * 2, kLastRetryMs);
                continue;
            }
            attached = true;
            reached = false;
        }
        const int rc = mosquitto_loop(m_mosq, 100, 1);
        if (rc == MOSQ_ERR_SUCCESS) {
            if (m_connected) {
                delay = kFirstRetryMs;
                reached = true;
            }
            continue;
        }
        attached = false;
        if (m_closing)
            break;
        // A refusal was reported with the broker's reason already; a broker
        // never reached was not lost.
        if (rc != MOSQ_ERR_CONN_REFUSED)
            report(rc, reached ? "lost the broker at" : "cannot reach the broker at");
        sleepFor(delay);
        delay = std::min(delay * 2, kLastRetryMs);
    }
}

void MqttPublisher::onConnect(mosquitto* mosq, void* self, int rc)
{
    auto* p = static_cast<MqttPublisher*>(self);
    if (rc != 0) {
        std::string text = "MQTT: the broker at " + p->m_config.host + ":" + std::to_string(p->m_config.port) +
                           " refused the connection: " + mosquitto_connack_string(rc);
        if (rc == 4 || rc == 5)
            text += " (check Username and Password)";
        if (text != p->m_lastFailure) {
            p->m_lastFailure = text;
            BV_LOG_ERROR(p->m_log, kTag, text);
            p->note(text);
        }
        return;
    }
    if (p->m_config.acceptCommands)
        mosquitto_subscribe(mosq, nullptr, p->topic("command").c_str(), 1);
    p->m_lastFailure.clear();
    const std::string text =
        "MQTT: connected to " + p->m_config.host + ":" + std::to_string(p->m_config.port);
    BV_LOG(p->m_log, log::Level::Info, kTag, text);
    std::lock_guard<std::mutex> lock(p->m_mutex);
    p->m_shared.notes.push_back(text);
    ++p->m_shared.connects;
    p->m_connected = true;
}

void MqttPublisher::onDisconnect(mosquitto*, void* self, int)
{
    auto* p = static_cast<MqttPublisher*>(self);
    std::lock_guard<std::mutex> lock(p->m_mutex);
    p->m_connected = false;
}

void MqttPublisher::onPublish(mosquitto*, void* self, int mid)
{
    auto* p = static_cast<MqttPublisher*>(self);
    std::lock_guard<std::mutex> lock(p->m_mutex);
    p->m_shared.published.push_back(mid);
}

void MqttPublisher::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* p = static_cast<MqttPublisher*>(self);
    if (!message || !message->topic || p->topic("command") != message->topic)
        return;
    const auto size = static_cast<std::size_t>(std::max(message->payloadlen, 0));
    std::lock_guard<std::mutex> lock(p->m_mutex);
    // Said without the payload: a hostile one must not fill the log.
    if (message->retain) {
        p->m_shared.unread.emplace_back(Refusal::Retained, strings::text(strings::kCommandRetained));
        return;
    }
    if (size > kMaxCommandBytes) {
        p->m_shared.unread.emplace_back(
            Refusal::TooLong, strings::fill(strings::text(strings::kCommandTooLong),
                                            {std::to_string(size), std::to_string(kMaxCommandBytes)}));
        return;
    }
    // More than a burst between two heartbeats is a flood, not an operator.
    if (p->m_shared.commands.size() >= static_cast<std::size_t>(kCommandBurst)) {
        p->m_shared.unread.emplace_back(Refusal::TooMany, strings::text(strings::kCommandTooMany));
        return;
    }
    p->m_shared.commands.push_back(payloadWord(std::string(static_cast<const char*>(message->payload), size)));
}

} // namespace bv
