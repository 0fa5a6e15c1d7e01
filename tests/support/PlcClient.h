#pragma once
#include <modbus.h>

#include <cerrno>
#include <cmath>
#include <string>

#include "net/ModbusServer.h"

namespace bv::test {

// A PLC on libmodbus, blocking: the server answers from its own thread, so
// the test's thread may hold the heartbeat meanwhile.
class PlcClient {
public:
    explicit PlcClient(int port) : m_ctx(modbus_new_tcp("127.0.0.1", port))
    {
        if (m_ctx && modbus_connect(m_ctx) != 0)
            m_error = modbus_strerror(errno);
    }
    ~PlcClient()
    {
        if (m_ctx) {
            modbus_close(m_ctx);
            modbus_free(m_ctx);
        }
    }
    PlcClient(const PlcClient&) = delete;
    PlcClient& operator=(const PlcClient&) = delete;

    bool connected() const { return m_ctx && m_error.empty(); }
    const std::string& error() const { return m_error; }
    // -1 when it could not be read.
    int input(modbus::DiscreteInput which)
    {
        uint8_t bit = 0;
        return modbus_read_input_bits(m_ctx, which, 1, &bit) == 1 ? bit : -1;
    }
    // NaN when it could not be read (or reads NaN).
    float real(modbus::InputRegister which)
    {
        uint16_t words[2] = {};
        return modbus_read_input_registers(m_ctx, which, 2, words) == 2 ? modbus_get_float_abcd(words) : NAN;
    }
    bool writeCoil(modbus::Coil which) { return modbus_write_bit(m_ctx, which, 1) == 1; }

private:
    modbus_t* m_ctx;
    std::string m_error;
};

} // namespace bv::test
