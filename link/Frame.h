#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace bv {

constexpr uint8_t kOwnAddress = 64;          // the PC on the bus
constexpr size_t kFrameHeaderSize = 5;
constexpr size_t kFrameCheckSize = 4;
constexpr size_t kMaxSerialPayload = 1500;   // acceptance limit of a received frame
constexpr size_t kRecordPayload = 2000;      // what a FRAME record can hold
constexpr size_t kUsbHeaderSize = 9;

enum FrameKind : uint8_t {
    kBusFrame = 0,
    kTextToAdapter = 1,
    kTextFromAdapter = 2,
};

// The record of one bus frame or adapter text, 2005 bytes as on the wire:
// destination, source, kind, payload length (big endian), payload.
struct FRAME {
    uint8_t destination = 0;
    uint8_t source = 0;
    uint8_t kind = kBusFrame;
    uint8_t lengthHigh = 0;
    uint8_t lengthLow = 0;
    uint8_t payload[kRecordPayload];

    uint16_t length() const { return static_cast<uint16_t>((lengthHigh << 8) | lengthLow); }
    void setLength(uint16_t n)
    {
        lengthHigh = static_cast<uint8_t>(n >> 8);
        lengthLow = static_cast<uint8_t>(n & 0xFF);
    }
    // Payload bytes that are really there: never beyond what the record holds.
    size_t payloadSize() const { return length() < kRecordPayload ? length() : kRecordPayload; }
    std::string_view text() const
    {
        return {reinterpret_cast<const char*>(payload), payloadSize()};
    }
    const uint8_t* bytes() const { return &destination; }
    uint8_t* bytes() { return &destination; }
};
static_assert(sizeof(FRAME) == 2005, "FRAME must keep its wire layout");

// Fills a record from parts; the payload is cut at what the record holds.
void fillRecord(FRAME& record, uint8_t destination, uint8_t source, uint8_t kind,
                const uint8_t* payload, size_t length);

// Serial bus frame: header, payload, check (big endian).
std::vector<uint8_t> buildSerialFrame(uint8_t destination, uint8_t source,
                                      const uint8_t* payload, size_t length);
void buildSerialHeader(uint8_t destination, uint8_t source, size_t length, uint8_t header[5]);
uint32_t serialFrameCheck(const uint8_t header[5], const uint8_t* payload, size_t length);

// USB messages between PC and adapter.
std::vector<uint8_t> buildUsbText(const uint8_t* text, size_t length);
std::vector<uint8_t> buildUsbTextWithTrailer(const uint8_t* text, size_t length);
std::vector<uint8_t> buildUsbRelay(uint8_t destination, uint8_t source,
                                   const uint8_t* payload, size_t length);

// Acceptance rules of a received serial frame head: the cheap header tests
// (rule 1), the length test (rule 2) and the full check (rule 3).
bool serialHeaderPlausible(const uint8_t* head5);
bool serialLengthPlausible(const uint8_t* head5);
bool serialFrameAccepted(const uint8_t* bytes, size_t available);

// A received USB message body is a relayed bus frame when it has at least
// three bytes and starts with "bus".
bool usbBodyIsRelayedFrame(const uint8_t* body, size_t bodyLength);

inline std::vector<uint8_t> bytesOf(std::string_view s)
{
    return {s.begin(), s.end()};
}

} // namespace bv
