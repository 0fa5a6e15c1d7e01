#pragma once
#include <cstdint>
#include <deque>
#include <unordered_set>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/Frame.h"
#include "link/FrameSink.h"
#include "link/Link.h"
#include "link/ReceiveRing.h"
#include "platform/D2xx.h"
#include "platform/Logging.h"

namespace bv {

// The USB link to a device of the maker's line behind an FTDI chip: either a
// measuring device that takes command texts directly (adapter texts), or a bus
// converter that relays whole bus frames. Messages carry a header check and,
// from the derived class, a check trailer.
class ZelmorUSB : public ILink {
public:
    static constexpr uint16_t kRingSize = 4361;
    static constexpr size_t kMessageBuffer = 4412;
    static constexpr size_t kReadChunk = 256;
    static constexpr uint16_t kWaitLimit = 10;
    static constexpr size_t kMaxDescription = 64;
    static constexpr size_t kRelayPrefix = 8;

    explicit ZelmorUSB(ID2xx& d2xx);
    virtual ~ZelmorUSB();
    ZelmorUSB(const ZelmorUSB&) = delete;
    ZelmorUSB& operator=(const ZelmorUSB&) = delete;

    // Sends an adapter text. 0 sent, 4 write failed or incomplete, -1 error.
    virtual int SendFrame(std::string_view text);
    // 0 a byte was dropped (call again), 1 not enough bytes yet, 2 one message
    // was taken into buffer (at least kMessageBuffer bytes).
    virtual int CheckSync(uint8_t* buffer);
    // Record of an adapter text received (kind 2).
    virtual std::unique_ptr<FRAME> ZelmorFrameToFRAME(const uint8_t* message);

    void SetDescription(const std::string& text, int flags);
    const std::string& description() const { return m_description; }
    int openFlags() const { return m_openFlags; }
    int Open();   // 0 open, -1 failed
    int Close();  // 0
    bool IsOpen() const { return m_open != 0; }
    // The open device failed a driver call (unplugged, a libftdi error): it
    // was closed, and stays marked until the next successful Open.
    bool linkLost() const { return m_bLost; }
    D2xxStatus lostStatus() const { return m_lostStatus; }

    // -1 no handle, 0 all waiting bytes read, 1 more than one chunk was
    // waiting, 2 a read failed.
    int ReadUSBDriverBuffer();
    // Parses the ring; returns how many records were appended to the list.
    int GetFrame();
    // Relays a bus frame through a bus converter. 0 sent, 4 failed, -1 error.
    int SendFrame(uint8_t source, uint8_t destination, const uint8_t* payload, uint16_t length);
    // Record of a relayed bus frame with the inner frame's addresses.
    std::unique_ptr<FRAME> ExactFRAMEFromUSBFrame(const uint8_t* message);

    // As a link: open closes and opens again; send carries the adapter text
    // (a text has no bus addresses).
    LinkResult open() override;
    void close() override { Close(); }
    bool isOpen() const override { return IsOpen(); }
    bool lost() const override { return linkLost(); }
    std::string lastError() const override;
    std::string name() const override;
    std::string describe() const override { return "usb"; }
    bool addressed() const override { return false; }
    LinkResult send(uint8_t source, uint8_t destination, std::string_view payload) override;
    int takeFrames(const FrameTaker& take) override;

    // The received list, oldest first; records belong to whoever takes them.
    std::unique_ptr<FRAME> takeFrame();
    // Whether the record takeFrame gave last failed its message's check; such
    // a record is for the monitor and the log, never an answer.
    bool takenFrameFailedCheck() const { return m_bTakenFailed; }
    unsigned long checkErrors() const { return m_ulCheckErrors; }
    size_t receivedCount() const { return m_received.size(); }
    std::deque<std::unique_ptr<FRAME>>& received() { return m_received; }

    // Set by the meter's identification when the device answers as a bus converter.
    bool busConverterPresent() const { return m_bBusConverter != 0; }
    void setBusConverterPresent(bool present) { m_bBusConverter = present ? 1 : 0; }

    // The bus monitor and the bus log get the records of sent traffic.
    void setSinks(std::vector<IFrameSink*> sinks) { m_sinks = std::move(sinks); }
    void addSink(IFrameSink* sink) { m_sinks.push_back(sink); }

    const ReceiveRing& ring() const { return m_ring; }

protected:
    // Total length of the message whose nine header bytes are given.
    static size_t messageLength(const uint8_t* header);
    // Body length as the receive side counts it (byte 1 added).
    static size_t bodyLength(const uint8_t* header);
    int checkSyncBase(uint8_t* buffer);
    std::unique_ptr<FRAME> textRecord(const uint8_t* message, size_t trailerBytes);
    int writeMessage(const std::vector<uint8_t>& message, uint32_t timeoutMs);
    void notifySinks(const FRAME& record);
    // A driver call on the open device gave status: the device is gone.
    void lose(const char* call, D2xxStatus status);

    ID2xx& m_d2xx;
    std::deque<std::unique_ptr<FRAME>> m_received;
    // Set by CheckSync for the message it has just accepted.
    bool m_bMessageFailedCheck = false;
    unsigned long m_ulCheckErrors = 0;

private:
    std::unordered_set<const FRAME*> m_failedRecords;
    bool m_bTakenFailed = false;

protected:
    uint8_t m_bBusConverter = 0;
    D2xxHandle m_handle = nullptr;
    ReceiveRing m_ring{kRingSize};
    uint16_t m_waitCount = 0;
    std::string m_description;
    int m_openFlags = static_cast<int>(kD2xxOpenByDescription);
    uint8_t m_open = 0;
    bool m_bLost = false;
    D2xxStatus m_lostStatus = kD2xxOk;
    std::vector<IFrameSink*> m_sinks;

    static const log::Logger& logger();
};

// The link the program creates: adds a check trailer to the texts it sends
// and recognises trailers on received messages.
class ZelmorUSBCRC : public ZelmorUSB {
public:
    static constexpr int kTrailerSize = 4;

    explicit ZelmorUSBCRC(ID2xx& d2xx) : ZelmorUSB(d2xx) {}

    using ZelmorUSB::SendFrame;
    int SendFrame(std::string_view text) override;
    int CheckSync(uint8_t* buffer) override;
    std::unique_ptr<FRAME> ZelmorFrameToFRAME(const uint8_t* message) override;

    bool trailersSeen() const { return m_bTrailersSeen != 0; }
    // The last message whose trailer matched (a copy; kept for diagnosis).
    const std::vector<uint8_t>& lastVerifiedMessage() const { return m_lastVerified; }

private:
    std::vector<uint8_t> m_lastVerified;
    int m_iTrailerSize = kTrailerSize;
    uint8_t m_bTrailersSeen = 0;

    static const log::Logger& crcLogger();
};

} // namespace bv
