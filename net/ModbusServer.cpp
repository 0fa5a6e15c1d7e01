#include "net/ModbusServer.h"

#include <modbus/modbus.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "control/Messages.h"
#include "platform/Logging.h"
#include "settings/ProgramSettings.h"

namespace bv {

namespace {
constexpr const char* kTag = "ModbusServer";
constexpr const char* kCaller = "Modbus";
log::Logger& logger()
{
    static log::Logger l{"ModbusServer"};
    return l;
}

modbus_t* context(void* p) { return static_cast<modbus_t*>(p); }

void putFloat(uint16_t* registers, int at, double wide)
{
    const auto value = static_cast<float>(wide);
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    registers[at] = static_cast<uint16_t>(bits >> 16);
    registers[at + 1] = static_cast<uint16_t>(bits & 0xFFFF);
}

} // namespace

ModbusConfig ModbusConfig::fromSettings(const ProgramSettings& s)
{
    ModbusConfig c;
    c.enabled = s.m_bModbusEnabled != 0;
    c.bind = s.m_sModbusBind.empty() ? "127.0.0.1" : s.m_sModbusBind;
    c.port = s.m_iModbusPort >= 1 && s.m_iModbusPort <= 65535 ? s.m_iModbusPort : 1502;
    c.unitId = std::clamp(s.m_iModbusUnitId, 0, 255);
    c.acceptCommands = s.m_bModbusAcceptCommands != 0;
    c.maxClients = std::clamp(s.m_iModbusMaxClients, 1, 64);
    c.allowFrom = s.m_sModbusAllowFrom;
    return c;
}

namespace modbus {

void fill(const ModbusSnapshot& s, std::chrono::steady_clock::time_point now, uint16_t* r, uint8_t* d)
{
    const double nan = std::nan("");
    const bool current = s.current;
    putFloat(r, kPower, current ? s.power : nan);
    putFloat(r, kFlow, current ? s.flow : nan);
    putFloat(r, kInletTemperature, current ? s.te : nan);
    putFloat(r, kTemperatureRise, current ? s.td : nan);
    putFloat(r, kEcPower, current ? s.ecPower : nan);
    putFloat(r, kStdDeviation, current ? s.stdDeviation : nan);
    r[kSequence] = static_cast<uint16_t>(s.seq >> 16);
    r[kSequence + 1] = static_cast<uint16_t>(s.seq & 0xFFFF);
    // Tenths of a second since the newest valid reading; never read: the most.
    long long tenths = 65535;
    if (s.anyValid)
        tenths = std::chrono::duration_cast<std::chrono::milliseconds>(now - s.lastValid).count() / 100;
    r[kAgeTenths] = static_cast<uint16_t>(std::clamp<long long>(tenths, 0, 65535));
    r[kAliveCounter] = s.alive;
    r[kModel] = s.model;
    d[kMeasuring] = s.measuring;
    d[kReadingsCurrent] = current;
    d[kLinkUp] = s.linkUp;
    d[kNoFlow] = s.noFlow;
    d[kLowFlow] = s.lowFlow;
    d[kShutterNotOpen] = s.shutterNotOpen;
    d[kCalibrationRunning] = s.calibrating;
    d[kCalibrationFailed] = s.calibrationFailed;
}

int coilSwitchedOn(const uint8_t* pdu, int length)
{
    if (length < 5)
        return -1;
    const int address = pdu[1] << 8 | pdu[2];
    if (pdu[0] == MODBUS_FC_WRITE_SINGLE_COIL) {
        const int value = pdu[3] << 8 | pdu[4];
        return value == 0xFF00 && address < kCoilCount ? address : -1;
    }
    if (pdu[0] == MODBUS_FC_WRITE_MULTIPLE_COILS && length >= 7) {
        const int quantity = pdu[3] << 8 | pdu[4];
        const int bytes = pdu[5];
        for (int i = 0; i < quantity && i / 8 < bytes && 6 + i / 8 < length; ++i)
            if (pdu[6 + i / 8] & (1 << (i % 8)))
                return address + i < kCoilCount ? address + i : -1;
    }
    return -1;
}

} // namespace modbus

ModbusServer::ModbusServer(ModbusConfig config, CPowerMeter& device, AlarmMonitor& alarms, ReadingWatchdog& watchdog,
                           MeterCommands* commands)
    : m_config(std::move(config)), m_taker(device, alarms, watchdog), m_commands(commands)
{
}

ModbusServer::~ModbusServer() { stop(); }

bool ModbusServer::start(std::string& error)
{
    stop();
    if (!m_allow.parse(m_config.allowFrom, error)) {
        error = "Modbus: AllowFrom: " + error;
        return false;
    }
    // libmodbus frames the requests; the socket is ours, so any address family binds.
    modbus_t* ctx = modbus_new_tcp(nullptr, m_config.port);
    if (!ctx) {
        error = std::string("Modbus: ") + modbus_strerror(errno);
        return false;
    }
    m_listen = listenTcp(m_config.bind, m_config.port, m_config.maxClients, error);
    if (m_listen < 0) {
        error = "Modbus: " + error;
        modbus_free(ctx);
        return false;
    }
    // A half frame holds the others up this long at most.
    modbus_set_indication_timeout(ctx, 0, 100000);
    modbus_set_byte_timeout(ctx, 0, 100000);
    m_ctx = ctx;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_snapshot = m_taker.take();
    }
    m_quit = false;
    m_thread = std::thread([this] { serve(); });
    BV_LOG_INFO(logger(), kTag, "Modbus TCP on " << m_config.bind << ":" << m_config.port << ", unit "
                                                 << m_config.unitId << ", commands "
                                                 << (m_config.acceptCommands ? "on" : "off")
                                                 << (m_allow.empty() ? "" : ", from " + m_config.allowFrom));
    return true;
}

void ModbusServer::stop()
{
    m_quit = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listen >= 0)
        ::close(m_listen);
    m_listen = -1;
    if (m_ctx) {
        modbus_free(context(m_ctx));
        m_ctx = nullptr;
    }
}

void ModbusServer::poll()
{
    const ModbusSnapshot s = m_taker.take();
    std::vector<int> coils;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_snapshot = s;
        coils.swap(m_queued);
    }
    static constexpr MeterCommand kCommands[modbus::kCoilCount] = {
        MeterCommand::Start, MeterCommand::Stop, MeterCommand::Zero, MeterCommand::OpenShutter,
        MeterCommand::CloseShutter};
    if (m_commands)
        for (int coil : coils)
            m_commands->run({kCommands[coil], CommandSource::Remote}, kCaller);
}

void ModbusServer::serve()
{
    modbus_t* ctx = context(m_ctx);
    modbus_mapping_t* map =
        modbus_mapping_new(modbus::kCoilCount, modbus::kDiscreteInputCount, 0, modbus::kInputRegisterCount);
    if (!map) {
        BV_LOG_ERROR(logger(), kTag, "Modbus: no register map: " << modbus_strerror(errno));
        return;
    }
    const int header = modbus_get_header_length(ctx);
    std::vector<int> clients;
    OnceEach told;  // clients whose refused request was logged, refused addresses
    bool toldFull = false;
    auto drop = [&](size_t i) {
        told.forget(std::to_string(clients[i]));
        ::close(clients[i]);
        clients.erase(clients.begin() + static_cast<long>(i));
    };
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    while (!m_quit) {
        std::vector<pollfd> fds{{m_listen, POLLIN, 0}};
        for (int c : clients)
            fds.push_back({c, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 200) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const AcceptedClient accepted = acceptClient(m_listen, m_allow);
            const int fd = accepted.fd;
            if (fd >= 0 && !accepted.allowed) {
                if (told.first("from " + accepted.peer))
                    BV_LOG_WARN(logger(), kTag, "Modbus: connection from " << accepted.peer << " refused (not in AllowFrom)");
                ::close(fd);
            } else if (fd >= 0 && static_cast<int>(clients.size()) >= m_config.maxClients) {
                ::close(fd);
                if (!toldFull)
                    BV_LOG_WARN(logger(), kTag, "Modbus: a client refused, " << m_config.maxClients << " connected");
                toldFull = true;
            } else if (fd >= 0) {
                clients.push_back(fd);
                toldFull = false;
            }
        }
        // Backwards, so that a drop leaves the rest of the round in place.
        for (size_t i = fds.size() - 1; i >= 1; --i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const size_t at = i - 1;
            const int fd = clients[at];
            modbus_set_socket(ctx, fd);
            const int rc = modbus_receive(ctx, query);
            if (rc < 0) {
                drop(at);
                continue;
            }
            if (rc <= header)
                continue;
            const uint8_t unit = query[header - 1];
            const uint8_t function = query[header];
            int sent;
            if (unit != m_config.unitId && unit != 0 && unit != 0xFF) {
                sent = modbus_reply_exception(ctx, query, MODBUS_EXCEPTION_GATEWAY_TARGET);
            } else if (function == MODBUS_FC_WRITE_SINGLE_COIL || function == MODBUS_FC_WRITE_MULTIPLE_COILS) {
                if (!m_config.acceptCommands) {
                    if (told.first(std::to_string(fd)))
                        BV_LOG_WARN(logger(), kTag, "Modbus: coil write refused (commands are off)");
                    sent = modbus_reply_exception(ctx, query, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
                } else {
                    const int coil = modbus::coilSwitchedOn(query + header, rc - header);
                    if (coil >= 0) {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        m_queued.push_back(coil);
                    }
                    sent = modbus_reply(ctx, query, rc, map);
                    std::fill(map->tab_bits, map->tab_bits + modbus::kCoilCount, 0);
                }
            } else {
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    modbus::fill(m_snapshot, std::chrono::steady_clock::now(), map->tab_input_registers,
                                 map->tab_input_bits);
                }
                sent = modbus_reply(ctx, query, rc, map);
            }
            // A client that does not read its answers is let go.
            if (sent < 0)
                drop(at);
        }
    }
    for (int c : clients)
        ::close(c);
    modbus_mapping_free(map);
}

} // namespace bv
