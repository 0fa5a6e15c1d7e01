#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/D2xx.h"
#include "sim/SimDevice.h"

namespace bv {
class IClock;
}

namespace bv::sim {

class SimMeter;

enum class SimUsbKind {
    DirectMeter,   // the measuring device itself takes the adapter texts
    BusConverter,  // answers a few texts itself and relays bus frames
};

struct SimUsbConfig {
    SimUsbKind kind = SimUsbKind::DirectMeter;
    std::string description = "Zelmor USB Brivane";
    std::string serialNumber = "ZB000001";
    // Devices that the list shows before this one (not openable).
    std::vector<D2xxDeviceInfo> devicesBefore;
    // The converter's own answers to adapter texts; other texts get none.
    std::map<std::string, std::string> converterAnswers = {{"qr", "Ready BusConverter V1.00"}};
    uint32_t converterDelayMs = 5;
    uint32_t usbLatencyMs = 1;  // from the device's answer to the PC's driver
};

// A USB adapter of the maker's line behind the D2XX functions, evaluated
// lazily against the clock: answers become readable once their time has come.
// It parses the PC's USB messages like the device does (header check, trailer
// check) and answers with a trailer when the PC sent with one.
class SimUsbAdapter final : public ID2xx {
public:
    SimUsbAdapter(IClock& clock, SimUsbConfig config = {});

    // The measuring device behind a direct adapter (not owned).
    void attachMeter(SimMeter& meter) { m_meter = &meter; }
    // Devices on the bus behind a bus converter (not owned).
    void attachBusDevice(ISimBusDevice& device) { m_busDevices.push_back(&device); }

    // ID2xx
    D2xxStatus createDeviceInfoList(uint32_t& count) override;
    D2xxStatus getDeviceInfoList(std::vector<D2xxDeviceInfo>& nodes, uint32_t& count) override;
    D2xxStatus openEx(const std::string& argument, uint32_t flags, D2xxHandle& handle) override;
    D2xxStatus setFlowControl(D2xxHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) override;
    D2xxStatus setUsbParameters(D2xxHandle handle, uint32_t inSize, uint32_t outSize) override;
    D2xxStatus getStatus(D2xxHandle handle, uint32_t& rxBytes, uint32_t& txBytes, uint32_t& events) override;
    D2xxStatus setTimeouts(D2xxHandle handle, uint32_t readMs, uint32_t writeMs) override;
    D2xxStatus read(D2xxHandle handle, void* buffer, uint32_t count, uint32_t& bytesRead) override;
    D2xxStatus write(D2xxHandle handle, const void* buffer, uint32_t count, uint32_t& bytesWritten) override;
    D2xxStatus close(D2xxHandle handle) override;

    // Faults.
    // Every message from now on reaches the driver in pieces of this size,
    // gapMs apart (0: whole messages).
    void deliverInPieces(size_t pieceSize, uint32_t gapMs);
    // Answers are held back while on and then arrive all at once.
    void holdAnswers(bool on);
    void corruptNextHeaderCheck() { m_corruptHeader = true; }
    void corruptNextTrailer() { m_corruptTrailer = true; }
    // Raw bytes that reach the driver now.
    void injectBytes(const std::vector<uint8_t>& bytes);
    // An adapter text the device sends on its own.
    void sendText(std::string_view text, bool withTrailer, uint32_t delayMs = 0);
    // Unplugged: nothing opens, an open handle fails every call.
    void setConnected(bool connected) { m_connected = connected; }

    // What the PC sent.
    struct TextFromPc {
        std::string text;
        bool trailer = false;
    };
    struct RelayFromPc {
        uint8_t destination = 0;
        uint8_t source = 0;
        std::string payload;
    };
    const std::vector<TextFromPc>& textsFromPc() const { return m_texts; }
    // Forgets what the PC sent: long runs keep their memory flat.
    void clearRecords()
    {
        m_texts.clear();
        m_relays.clear();
    }
    const std::vector<RelayFromPc>& relaysFromPc() const { return m_relays; }
    size_t badHeaderBytes() const { return m_badHeaderBytes; }
    size_t badTrailers() const { return m_badTrailers; }
    size_t badRelays() const { return m_badRelays; }
    bool isOpen() const { return m_opened; }
    std::pair<uint32_t, uint32_t> timeouts() const { return {m_readTimeoutMs, m_writeTimeoutMs}; }

private:
    struct Pending {
        uint64_t at;  // ms on the adapter's own time line
        uint64_t order;
        std::vector<uint8_t> bytes;
    };

    bool valid(D2xxHandle handle) const { return m_opened && handle == static_cast<const void*>(this); }
    uint64_t now();
    void advance();
    void queueMessage(std::vector<uint8_t> message, uint64_t at);
    void parseFromPc();
    void handleText(std::string_view text, bool trailer);
    void handleRelay(const uint8_t* body, size_t length);
    std::vector<D2xxDeviceInfo> listing() const;

    IClock& m_clock;
    SimUsbConfig m_config;
    SimMeter* m_meter = nullptr;
    std::vector<ISimBusDevice*> m_busDevices;

    bool m_started = false;
    uint32_t m_lastTick = 0;
    uint64_t m_nowMs = 0;

    std::vector<D2xxDeviceInfo> m_listed;
    bool m_opened = false;
    bool m_connected = true;
    uint32_t m_readTimeoutMs = 0;
    uint32_t m_writeTimeoutMs = 0;

    std::vector<uint8_t> m_fromPc;
    std::deque<uint8_t> m_toPc;  // in the driver, readable
    std::vector<Pending> m_pending;
    uint64_t m_order = 0;

    size_t m_pieceSize = 0;
    uint32_t m_pieceGapMs = 0;
    uint64_t m_piecesUntil = 0;  // time of the last piece queued
    bool m_hold = false;
    bool m_corruptHeader = false;
    bool m_corruptTrailer = false;

    std::vector<TextFromPc> m_texts;
    std::vector<RelayFromPc> m_relays;
    size_t m_badHeaderBytes = 0;
    size_t m_badTrailers = 0;
    size_t m_badRelays = 0;
};

} // namespace bv::sim
