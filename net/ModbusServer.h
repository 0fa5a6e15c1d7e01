#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/MeterCommands.h"
#include "net/ReadingSnapshot.h"
#include "net/RemoteAccess.h"

namespace bv {

class ProgramSettings;

// Where the Modbus TCP server listens and what it takes; the "Modbus" section.
struct ModbusConfig : ServerConfig {
    int unitId = 1;

    ModbusConfig()
    {
        port = 1502;
        maxClients = 8;
    }
    static ModbusConfig fromSettings(const ProgramSettings& settings);
};

using ModbusSnapshot = ReadingSnapshot;

// The register map (function 04 input registers, 02 discrete inputs, 01/05/15 coils).
namespace modbus {
enum InputRegister : int {
    kPower = 0, kFlow = 2, kInletTemperature = 4, kTemperatureRise = 6, kEcPower = 8, kStdDeviation = 10,
    kSequence = 12, kAgeTenths = 14, kAliveCounter = 15, kModel = 16, kInputRegisterCount = 17
};
enum DiscreteInput : int {
    kMeasuring = 0, kReadingsCurrent, kLinkUp, kNoFlow, kLowFlow, kShutterNotOpen, kCalibrationRunning,
    kCalibrationFailed, kDiscreteInputCount
};
enum Coil : int { kStart = 0, kStop, kZero, kOpenShutter, kCloseShutter, kCoilCount };

// Fills the registers from a snapshot: floats and 32-bit values high word
// first; a reading that is not current reads NaN, the age goes on counting.
void fill(const ModbusSnapshot& s, std::chrono::steady_clock::time_point now, uint16_t* inputRegisters,
          uint8_t* discreteInputs);
// The coil a write request (function 05 or 15, after the MBAP header)
// switches on, -1 for anything else or a coil switched off. Never reads
// beyond length.
int coilSwitchedOn(const uint8_t* pdu, int length);
} // namespace modbus

// A Modbus TCP server on a thread of its own: it reads a snapshot the
// heartbeat hands over and queues the coil writes (only with commands
// enabled) that the heartbeat runs through the command door. Clients beyond
// the limit are refused; one that sends half a frame or stops reading is
// dropped, so the others go on being served.
class ModbusServer {
public:
    ModbusServer(ModbusConfig config, CPowerMeter& device, AlarmMonitor& alarms, ReadingWatchdog& watchdog,
                 MeterCommands* commands);
    ~ModbusServer();
    ModbusServer(const ModbusServer&) = delete;
    ModbusServer& operator=(const ModbusServer&) = delete;

    // Binds and starts the thread; false with the reason in error.
    bool start(std::string& error);
    void stop();
    // From the heartbeat: the snapshot handed over, queued commands run.
    void poll();
    // The last calibration's verdict, from whoever judged it.
    void setCalibrationFailed(bool failed) { m_taker.setCalibrationFailed(failed); }
    const ModbusConfig& config() const { return m_config; }

private:
    void serve();

    ModbusConfig m_config;
    SnapshotTaker m_taker;
    MeterCommands* m_commands;
    AllowList m_allow;

    std::mutex m_mutex;  // m_snapshot, m_queued
    ModbusSnapshot m_snapshot;
    std::vector<int> m_queued;  // coils switched on
    std::atomic<bool> m_quit{false};
    void* m_ctx = nullptr;  // modbus_t, kept out of this header
    int m_listen = -1;
    std::thread m_thread;
};

} // namespace bv
