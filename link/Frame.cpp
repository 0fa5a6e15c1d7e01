#include "link/Frame.h"

#include <algorithm>
#include <cstring>

#include "link/FrameCheck.h"

namespace bv {

void fillRecord(FRAME& record, uint8_t destination, uint8_t source, uint8_t kind,
                const uint8_t* payload, size_t length)
{
    const size_t n = std::min(length, kRecordPayload);
    record.destination = destination;
    record.source = source;
    record.kind = kind;
    record.setLength(static_cast<uint16_t>(n));
    if (n > 0)
        std::memcpy(record.payload, payload, n);
}

void buildSerialHeader(uint8_t destination, uint8_t source, size_t length, uint8_t header[5])
{
    header[0] = destination;
    header[1] = source;
    header[2] = 0;
    header[3] = static_cast<uint8_t>((length >> 8) & 0xFF);
    header[4] = static_cast<uint8_t>(length & 0xFF);
}

uint32_t serialFrameCheck(const uint8_t header[5], const uint8_t* payload, size_t length)
{
    return FrameCheck::update(FrameCheck::update(FrameCheck::start, header, 5), payload, length);
}

std::vector<uint8_t> buildSerialFrame(uint8_t destination, uint8_t source,
                                      const uint8_t* payload, size_t length)
{
    std::vector<uint8_t> out(kFrameHeaderSize + length + kFrameCheckSize);
    buildSerialHeader(destination, source, length, out.data());
    if (length)
        std::memcpy(out.data() + kFrameHeaderSize, payload, length);
    FrameCheck::putBigEndian(serialFrameCheck(out.data(), payload, length),
                             out.data() + kFrameHeaderSize + length);
    return out;
}

namespace {

std::vector<uint8_t> usbMessage(size_t bodyLength, uint8_t trailerFlag, size_t reserve)
{
    std::vector<uint8_t> out;
    out.reserve(reserve);
    out.push_back(0x80);
    out.push_back(0);
    out.push_back(static_cast<uint8_t>((bodyLength >> 8) & 0xFF));
    out.push_back(static_cast<uint8_t>(bodyLength & 0xFF));
    out.push_back(trailerFlag);
    uint8_t check[4];
    FrameCheck::putBigEndian(FrameCheck::update(FrameCheck::start, out.data(), 5), check);
    out.insert(out.end(), check, check + 4);
    return out;
}

} // namespace

std::vector<uint8_t> buildUsbText(const uint8_t* text, size_t length)
{
    auto out = usbMessage(length, 0, length + kUsbHeaderSize);
    out.insert(out.end(), text, text + length);
    return out;
}

std::vector<uint8_t> buildUsbTextWithTrailer(const uint8_t* text, size_t length)
{
    auto out = usbMessage(length + 4, 1, length + kUsbHeaderSize + 4);
    out.insert(out.end(), text, text + length);
    uint8_t trailer[4];
    FrameCheck::putBigEndian(FrameCheck::update(FrameCheck::start, out.data(), out.size()), trailer);
    out.insert(out.end(), trailer, trailer + 4);
    return out;
}

std::vector<uint8_t> buildUsbRelay(uint8_t destination, uint8_t source,
                                   const uint8_t* payload, size_t length)
{
    auto out = usbMessage(length + 17, 0, length + 26);
    static const uint8_t prefix[8] = {'b', 'u', 's', ' ', '1', '2', '3', ' '};
    out.insert(out.end(), prefix, prefix + 8);
    auto inner = buildSerialFrame(destination, source, payload, length);
    out.insert(out.end(), inner.begin(), inner.end());
    return out;
}

bool serialHeaderPlausible(const uint8_t* h)
{
    return h[0] != 0xAA && h[1] != 0xAA && h[2] == 0 && h[3] <= 5;
}

bool serialLengthPlausible(const uint8_t* h)
{
    const unsigned length = 256u * h[3] + h[4];
    return length >= 1 && length <= kMaxSerialPayload;
}

bool serialFrameAccepted(const uint8_t* bytes, size_t available)
{
    if (available < kFrameHeaderSize || !serialHeaderPlausible(bytes) || !serialLengthPlausible(bytes))
        return false;
    const size_t length = 256u * bytes[3] + bytes[4];
    if (available < length + kFrameHeaderSize + kFrameCheckSize)
        return false;
    const uint32_t check = FrameCheck::update(FrameCheck::start, bytes, length + kFrameHeaderSize);
    return check == FrameCheck::getBigEndian(bytes + kFrameHeaderSize + length);
}

bool usbBodyIsRelayedFrame(const uint8_t* body, size_t bodyLength)
{
    return bodyLength >= 3 && body[0] == 'b' && body[1] == 'u' && body[2] == 's';
}

} // namespace bv
