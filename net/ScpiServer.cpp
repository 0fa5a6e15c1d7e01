#include "net/ScpiServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <list>

#include "net/ScpiSession.h"
#include "platform/Logging.h"
#include "settings/ProgramSettings.h"

namespace bv {

namespace {
constexpr const char* kTag = "ScpiServer";
constexpr const char* kCaller = "SCPI";
// Answers a client has not read; beyond this it is not read from either.
constexpr size_t kMaxUnsent = 64 * 1024;
log::Logger& logger()
{
    static log::Logger l{"ScpiServer"};
    return l;
}

struct Client {
    int fd;
    uint64_t number;
    std::string peer;
    ScpiSession session;
    std::string unsent;
    bool asked = false;  // its pending command went to the heartbeat
    std::chrono::steady_clock::time_point lastHeard;
    std::chrono::steady_clock::time_point lastDrained;
};
// How long answers may pile up unread before the client is let go.
constexpr auto kUnreadGrace = std::chrono::seconds(5);
} // namespace

ScpiConfig ScpiConfig::fromSettings(const ProgramSettings& s)
{
    ScpiConfig c;
    c.enabled = s.m_bScpiEnabled != 0;
    c.bind = s.m_sScpiBind.empty() ? "127.0.0.1" : s.m_sScpiBind;
    c.port = s.m_iScpiPort >= 1 && s.m_iScpiPort <= 65535 ? s.m_iScpiPort : 5025;
    c.acceptCommands = s.m_bScpiAcceptCommands != 0;
    c.maxClients = std::clamp(s.m_iScpiMaxClients, 1, 64);
    c.allowFrom = s.m_sScpiAllowFrom;
    c.idleSeconds = s.m_iScpiIdleSeconds > 0 ? s.m_iScpiIdleSeconds : 600;
    return c;
}

ScpiServer::ScpiServer(ScpiConfig config, CPowerMeter& device, AlarmMonitor& alarms, ReadingWatchdog& watchdog,
                       MeterCommands* commands)
    : m_config(std::move(config)), m_taker(device, alarms, watchdog), m_commands(commands)
{
}

ScpiServer::~ScpiServer() { stop(); }

bool ScpiServer::start(std::string& error)
{
    stop();
    if (!m_allow.parse(m_config.allowFrom, error)) {
        error = "SCPI: AllowFrom: " + error;
        return false;
    }
    m_listen = listenTcp(m_config.bind, m_config.port, m_config.maxClients, error);
    if (m_listen < 0) {
        error = "SCPI: " + error;
        return false;
    }
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wake < 0) {
        error = "SCPI: no event descriptor";
        ::close(m_listen);
        m_listen = -1;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_snapshot = m_taker.take();
    }
    m_quit = false;
    m_thread = std::thread([this] { serve(); });
    BV_LOG_INFO(logger(), kTag, "SCPI on " << m_config.bind << ":" << m_config.port << ", commands "
                                           << (m_config.acceptCommands ? "on" : "off")
                                           << (m_allow.empty() ? "" : ", from " + m_config.allowFrom));
    return true;
}

void ScpiServer::stop()
{
    m_quit = true;
    wake();
    if (m_thread.joinable())
        m_thread.join();
    for (int* fd : {&m_listen, &m_wake}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void ScpiServer::wake()
{
    if (m_wake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(m_wake, &one, sizeof one);
    }
}

void ScpiServer::poll()
{
    const ReadingSnapshot s = m_taker.take();
    std::vector<std::pair<uint64_t, MeterCommand>> requests;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_snapshot = s;
        requests.swap(m_requests);
    }
    if (requests.empty())
        return;
    std::vector<std::pair<uint64_t, CommandOutcome>> outcomes;
    for (const auto& [number, command] : requests) {
        CommandOutcome o;
        if (m_commands) {
            o = m_commands->run({command, CommandSource::Remote}, kCaller);
        } else {
            o.result = CommandOutcome::Result::Refused;
            o.text = "no meter commands here";
        }
        outcomes.emplace_back(number, std::move(o));
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& o : outcomes)
            m_outcomes.push_back(std::move(o));
    }
    wake();
}

void ScpiServer::serve()
{
    std::list<Client> clients;
    uint64_t next = 1;
    OnceEach told;
    bool toldFull = false;
    const auto idle = std::chrono::seconds(m_config.idleSeconds);
    auto snapshot = [this] {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_snapshot;
    };
    // Runs what the client sent, asks for its command, sends what it can.
    auto progress = [&](Client& c) {
        c.session.run(snapshot(), c.unsent);
        if (auto complaint = c.session.takeFirstComplaint())
            BV_LOG_WARN(logger(), kTag, "SCPI client " << c.peer << ": " << *complaint);
        if (c.session.waiting() && !c.asked) {
            c.asked = true;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.emplace_back(c.number, *c.session.pendingCommand());
        }
        while (!c.unsent.empty()) {
            const ssize_t n = ::send(c.fd, c.unsent.data(), c.unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n <= 0)
                return n == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
            c.unsent.erase(0, static_cast<size_t>(n));
        }
        c.lastDrained = std::chrono::steady_clock::now();
        return true;
    };
    while (!m_quit) {
        std::vector<pollfd> fds{{m_listen, POLLIN, 0}, {m_wake, POLLIN, 0}};
        for (const Client& c : clients) {
            short events = 0;
            if (!c.session.waiting() && c.unsent.size() < kMaxUnsent && c.session.heldLines() == 0)
                events |= POLLIN;
            if (!c.unsent.empty())
                events |= POLLOUT;
            fds.push_back({c.fd, events, 0});
        }
        ::poll(fds.data(), fds.size(), 200);
        if (m_quit)
            break;
        const auto now = std::chrono::steady_clock::now();
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] const auto n = ::read(m_wake, &count, sizeof count);
            std::vector<std::pair<uint64_t, CommandOutcome>> outcomes;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                outcomes.swap(m_outcomes);
            }
            for (const auto& [number, outcome] : outcomes) {
                const auto c = std::find_if(clients.begin(), clients.end(),
                                            [n = number](const Client& k) { return k.number == n; });
                if (c == clients.end())
                    continue;
                c->session.commandDone(outcome);
                c->asked = false;
                c->lastHeard = now;
            }
        }
        // Each client, the ones only just answered included, gets a turn.
        size_t at = 2;
        for (auto c = clients.begin(); c != clients.end(); ++at) {
            const short revents = at < fds.size() ? fds[at].revents : 0;
            bool keep = true;
            if (revents & POLLIN) {
                char buffer[4096];
                const ssize_t n = ::recv(c->fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n > 0) {
                    c->session.receive(buffer, static_cast<size_t>(n));
                    c->lastHeard = now;
                } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    keep = false;
                }
            } else if (revents & (POLLHUP | POLLERR)) {
                keep = false;
            }
            if (keep)
                keep = progress(*c);
            if (keep && !c->session.waiting() && now - c->lastHeard > idle) {
                BV_LOG_INFO(logger(), kTag, "SCPI client " << c->peer << " idle, let go");
                keep = false;
            }
            if (keep && c->unsent.size() >= kMaxUnsent && now - c->lastDrained > kUnreadGrace) {
                BV_LOG_WARN(logger(), kTag, "SCPI client " << c->peer << " does not read its answers, let go");
                keep = false;
            }
            if (keep) {
                ++c;
                continue;
            }
            ::close(c->fd);
            c = clients.erase(c);
        }
        if (fds[0].revents & POLLIN) {
            const AcceptedClient accepted = acceptClient(m_listen, m_allow);
            if (accepted.fd >= 0 && !accepted.allowed) {
                if (told.first(accepted.peer))
                    BV_LOG_WARN(logger(), kTag, "SCPI: connection from " << accepted.peer << " refused (not in AllowFrom)");
                ::close(accepted.fd);
            } else if (accepted.fd >= 0 && static_cast<int>(clients.size()) >= m_config.maxClients) {
                if (!toldFull)
                    BV_LOG_WARN(logger(), kTag, "SCPI: a client refused, " << m_config.maxClients << " connected");
                toldFull = true;
                ::close(accepted.fd);
            } else if (accepted.fd >= 0) {
                clients.push_back({accepted.fd, next++, accepted.peer,
                                   ScpiSession(m_config.acceptCommands, m_config.version), {}, false, now, now});
                toldFull = false;
            }
        }
    }
    for (const Client& c : clients)
        ::close(c.fd);
}

} // namespace bv
