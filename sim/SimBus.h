#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SerialPort.h"
#include "sim/SimDevice.h"

namespace bv {
class IClock;
}

namespace bv::sim {

// One byte on the line at 9600 baud: start, 8 data, parity and stop bit.
constexpr uint64_t kByteTimeUs = 11'000'000 / 9600;  // 1145 us
// A receiver forgets a half frame after this much silence between bytes.
constexpr uint64_t kInterByteResetUs = 50'000;

// A frame the PC put on the bus, as the devices saw it.
struct SentFrame {
    uint32_t time = 0;  // ms of the clock when its last byte had passed
    uint8_t destination = 0;
    uint8_t source = 0;
    std::string payload;
    std::vector<Parity> parities;  // of every frame byte, as the PC's port sent it
    // The address byte under mark and every other byte under space.
    bool addressMarked() const;
    // Every byte under space: no address marking at all.
    bool allSpace() const;
};

// The RS-485 bus behind the PC's adapter, evaluated lazily against the
// clock: nothing happens until the PC's port asks, and then every byte whose
// time has come is there. One line, half duplex; bytes follow each other at
// the line time. The adapter echoes what the PC sends; devices listen by
// address and answer after their own delay, once the line is free.
class SimBus {
public:
    explicit SimBus(IClock& clock, uint32_t seed = 1);

    // Devices are not owned and must outlive their attachment.
    void attach(ISimBusDevice& device);
    void detach(ISimBusDevice& device);

    // The PC's side of the adapter.
    void transmit(const uint8_t* bytes, size_t count, Parity parity);
    size_t available();
    size_t receive(uint8_t* out, size_t max);
    void discardInput();  // what has already arrived
    // The PC's last byte is still on the line (dropping RTS now cuts it off).
    bool pcTransmitting();
    // Milliseconds until the next byte arrives, -1 when nothing is under way.
    int nextArrivalMs();

    // The adapter.
    void setEchoEnabled(bool on) { m_echo = on; }            // off: the PC's bytes go out unechoed
    void setAdapterConnected(bool on) { m_connected = on; }  // off: nothing goes out, nothing comes back
    bool adapterConnected() const { return m_connected; }

    // Byte-level faults.
    void injectBytes(const std::vector<uint8_t>& bytes);  // someone else talks, from now on
    void injectNoise(size_t count);                       // seeded random bytes
    void corruptNextReplyCheck();
    // The next reply stops after firstPart bytes and goes on after a pause.
    void splitNextReply(size_t firstPart, uint32_t pauseMs);
    // A frame from a device that nobody asked for (addresses as given).
    void sendFrame(uint8_t destination, uint8_t source, std::string_view payload,
                   uint32_t delayMs = 0);

    // What the PC sent.
    const std::vector<SentFrame>& sentFrames() const { return m_sent; }
    void clearSentFrames() { m_sent.clear(); }
    uint64_t bytesFromPc() const { return m_bytesFromPc; }
    size_t wakeUpBytes() const { return m_wakeUpBytes; }
    size_t droppedPcBytes() const { return m_droppedPcBytes; }

    std::mt19937& random() { return m_random; }

private:
    struct Arrival {
        uint64_t at;  // us
        uint8_t byte;
    };
    struct PendingReply {
        uint64_t start;  // us, earliest the device begins to talk
        uint64_t order;
        std::vector<uint8_t> bytes;
        size_t splitAt = 0;  // 0: in one piece
        uint64_t pauseUs = 0;
    };

    void advance();
    void materialize(PendingReply& reply);
    uint64_t putOnLine(uint8_t byte, uint64_t earliest, bool toPc);
    void hearFromPc(uint8_t byte, Parity parity, uint64_t end);
    void cutFrames(uint64_t end);
    void deliver(const std::vector<uint8_t>& frame, uint64_t end);
    void queueReply(std::vector<uint8_t> bytes, uint64_t start);
    uint32_t msAt(uint64_t us) const;

    IClock& m_clock;
    std::mt19937 m_random;
    std::vector<ISimBusDevice*> m_devices;

    bool m_started = false;
    uint32_t m_lastMs = 0;
    uint64_t m_nowUs = 0;
    uint64_t m_lineFreeUs = 0;
    uint64_t m_pcLineEndUs = 0;

    std::deque<Arrival> m_toPc;
    std::vector<PendingReply> m_pending;
    uint64_t m_order = 0;

    // Bytes from the PC not yet cut into frames.
    std::vector<uint8_t> m_rxBytes;
    std::vector<Parity> m_rxParity;
    uint64_t m_lastRxUs = 0;

    bool m_echo = true;
    bool m_connected = true;
    bool m_corruptNext = false;
    size_t m_splitAt = 0;
    uint64_t m_splitPauseUs = 0;

    std::vector<SentFrame> m_sent;
    uint64_t m_bytesFromPc = 0;
    size_t m_wakeUpBytes = 0;
    size_t m_droppedPcBytes = 0;
};

} // namespace bv::sim
