#include "sim/SimUsb.h"

#include <algorithm>

#include "link/Frame.h"
#include "link/FrameCheck.h"
#include "platform/Clock.h"
#include "sim/SimMeter.h"

namespace bv::sim {
namespace {

// One byte on the RS-485 line behind a bus converter, in microseconds.
constexpr uint64_t kLineByteUs = 11'000'000 / 9600;

uint64_t lineMs(size_t bytes) { return (bytes * kLineByteUs + 999) / 1000; }

std::vector<uint8_t> textMessage(std::string_view text, bool trailer)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    return trailer ? buildUsbTextWithTrailer(bytes, text.size()) : buildUsbText(bytes, text.size());
}

} // namespace

SimUsbAdapter::SimUsbAdapter(IClock& clock, SimUsbConfig config) : m_clock(clock), m_config(std::move(config)) {}

uint64_t SimUsbAdapter::now()
{
    const uint32_t tick = m_clock.now();
    if (!m_started) {
        m_started = true;
        m_lastTick = tick;
    } else {
        m_nowMs += static_cast<uint32_t>(tick - m_lastTick);
        m_lastTick = tick;
    }
    return m_nowMs;
}

void SimUsbAdapter::advance()
{
    now();
    if (m_hold || m_pending.empty())
        return;
    std::stable_sort(m_pending.begin(), m_pending.end(), [](const Pending& a, const Pending& b) {
        return a.at != b.at ? a.at < b.at : a.order < b.order;
    });
    size_t due = 0;
    while (due < m_pending.size() && m_pending[due].at <= m_nowMs) {
        const auto& bytes = m_pending[due].bytes;
        m_toPc.insert(m_toPc.end(), bytes.begin(), bytes.end());
        ++due;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(due));
}

void SimUsbAdapter::queueMessage(std::vector<uint8_t> message, uint64_t at)
{
    if (m_corruptHeader && message.size() >= kUsbHeaderSize) {
        message[8] ^= 0xFF;
        m_corruptHeader = false;
    }
    if (m_corruptTrailer && message.size() > kUsbHeaderSize && message[4] == 1) {
        message.back() ^= 0xFF;
        m_corruptTrailer = false;
    }
    // The device sends one message after the other: a later message never
    // overtakes the pieces of an earlier one still on their way.
    at = std::max(at, m_piecesUntil);
    if (m_pieceSize == 0 || message.size() <= m_pieceSize) {
        m_pending.push_back({at, m_order++, std::move(message)});
        return;
    }
    uint64_t when = at;
    for (size_t offset = 0; offset < message.size(); offset += m_pieceSize, when += m_pieceGapMs) {
        const size_t n = std::min(m_pieceSize, message.size() - offset);
        m_pending.push_back({when, m_order++, {message.begin() + static_cast<std::ptrdiff_t>(offset),
                                               message.begin() + static_cast<std::ptrdiff_t>(offset + n)}});
        m_piecesUntil = when;
    }
}

std::vector<D2xxDeviceInfo> SimUsbAdapter::listing() const
{
    std::vector<D2xxDeviceInfo> out = m_config.devicesBefore;
    if (m_connected) {
        D2xxDeviceInfo self;
        self.id = 0x04036001;
        self.description = m_config.description;
        self.serialNumber = m_config.serialNumber;
        out.push_back(self);
    }
    return out;
}

D2xxStatus SimUsbAdapter::createDeviceInfoList(uint32_t& count)
{
    m_listed = listing();
    count = static_cast<uint32_t>(m_listed.size());
    return kD2xxOk;
}

D2xxStatus SimUsbAdapter::getDeviceInfoList(std::vector<D2xxDeviceInfo>& nodes, uint32_t& count)
{
    const size_t n = std::min<size_t>(count, m_listed.size());
    nodes.assign(m_listed.begin(), m_listed.begin() + static_cast<std::ptrdiff_t>(n));
    count = static_cast<uint32_t>(n);
    return kD2xxOk;
}

D2xxStatus SimUsbAdapter::openEx(const std::string& argument, uint32_t flags, D2xxHandle& handle)
{
    handle = nullptr;
    if (flags != 1 && flags != kD2xxOpenByDescription)
        return kD2xxInvalidParameter;
    auto names = [flags](const D2xxDeviceInfo& d) { return flags == 1 ? d.serialNumber : d.description; };
    for (const D2xxDeviceInfo& other : m_config.devicesBefore)
        if (names(other) == argument)
            return kD2xxDeviceNotOpened;  // someone else's device
    if (!m_connected)
        return kD2xxDeviceNotFound;
    const std::string own = flags == 1 ? m_config.serialNumber : m_config.description;
    if (argument != own)
        return kD2xxDeviceNotFound;
    if (m_opened)
        return kD2xxDeviceNotOpened;
    m_opened = true;
    handle = this;
    advance();
    return kD2xxOk;
}

D2xxStatus SimUsbAdapter::setFlowControl(D2xxHandle handle, uint16_t, uint8_t, uint8_t)
{
    return valid(handle) ? (m_connected ? kD2xxOk : kD2xxIoError) : kD2xxInvalidHandle;
}

D2xxStatus SimUsbAdapter::setUsbParameters(D2xxHandle handle, uint32_t inSize, uint32_t outSize)
{
    if (!valid(handle))
        return kD2xxInvalidHandle;
    if (inSize == 0 || outSize == 0)
        return kD2xxInvalidParameter;
    return m_connected ? kD2xxOk : kD2xxIoError;
}

D2xxStatus SimUsbAdapter::getStatus(D2xxHandle handle, uint32_t& rxBytes, uint32_t& txBytes, uint32_t& events)
{
    rxBytes = txBytes = events = 0;
    if (!valid(handle))
        return kD2xxInvalidHandle;
    if (!m_connected)
        return kD2xxIoError;
    advance();
    rxBytes = static_cast<uint32_t>(m_toPc.size());
    return kD2xxOk;
}

D2xxStatus SimUsbAdapter::setTimeouts(D2xxHandle handle, uint32_t readMs, uint32_t writeMs)
{
    if (!valid(handle))
        return kD2xxInvalidHandle;
    m_readTimeoutMs = readMs;
    m_writeTimeoutMs = writeMs;
    return kD2xxOk;
}

// Blocks (on the clock) until count bytes are there or the read time-out ran out.
D2xxStatus SimUsbAdapter::read(D2xxHandle handle, void* buffer, uint32_t count, uint32_t& bytesRead)
{
    bytesRead = 0;
    if (!valid(handle))
        return kD2xxInvalidHandle;
    if (!m_connected)
        return kD2xxIoError;
    advance();
    const uint64_t deadline = m_nowMs + m_readTimeoutMs;
    while (m_toPc.size() < count && m_nowMs < deadline) {
        uint64_t next = deadline;
        if (!m_hold)
            for (const Pending& p : m_pending)
                next = std::min(next, p.at);
        m_clock.wait(static_cast<uint32_t>(std::max<uint64_t>(next, m_nowMs + 1) - m_nowMs));
        advance();
    }
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(count, m_toPc.size()));
    std::copy_n(m_toPc.begin(), n, static_cast<uint8_t*>(buffer));
    m_toPc.erase(m_toPc.begin(), m_toPc.begin() + n);
    bytesRead = n;
    return kD2xxOk;
}

D2xxStatus SimUsbAdapter::write(D2xxHandle handle, const void* buffer, uint32_t count, uint32_t& bytesWritten)
{
    bytesWritten = 0;
    if (!valid(handle))
        return kD2xxInvalidHandle;
    if (!m_connected)
        return kD2xxIoError;
    advance();
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    m_fromPc.insert(m_fromPc.end(), bytes, bytes + count);
    bytesWritten = count;
    parseFromPc();
    return kD2xxOk;
}

D2xxStatus SimUsbAdapter::close(D2xxHandle handle)
{
    if (!valid(handle))
        return kD2xxInvalidHandle;
    m_opened = false;
    return kD2xxOk;
}

void SimUsbAdapter::parseFromPc()
{
    for (;;) {
        if (m_fromPc.size() < kUsbHeaderSize)
            return;
        const uint8_t* m = m_fromPc.data();
        if (FrameCheck::update(FrameCheck::start, m, 5) != FrameCheck::getBigEndian(m + 5)) {
            m_fromPc.erase(m_fromPc.begin());
            ++m_badHeaderBytes;
            continue;
        }
        const size_t total = kUsbHeaderSize + 256u * m[2] + m[3] + m[1];
        if (m_fromPc.size() < total)
            return;
        std::vector<uint8_t> message(m_fromPc.begin(), m_fromPc.begin() + static_cast<std::ptrdiff_t>(total));
        m_fromPc.erase(m_fromPc.begin(), m_fromPc.begin() + static_cast<std::ptrdiff_t>(total));

        size_t bodyLength = total - kUsbHeaderSize;
        const bool trailer = message[4] == 1;
        if (trailer) {
            if (bodyLength < 4 || FrameCheck::update(FrameCheck::start, message.data(), total - 4) !=
                                      FrameCheck::getBigEndian(message.data() + total - 4)) {
                ++m_badTrailers;
                continue;
            }
            bodyLength -= 4;
        }
        const uint8_t* body = message.data() + kUsbHeaderSize;
        if (usbBodyIsRelayedFrame(body, bodyLength))
            handleRelay(body, bodyLength);
        else
            handleText({reinterpret_cast<const char*>(body), bodyLength}, trailer);
    }
}

void SimUsbAdapter::handleText(std::string_view text, bool trailer)
{
    m_texts.push_back({std::string(text), trailer});
    const uint32_t tick = m_clock.now();
    if (m_config.kind == SimUsbKind::DirectMeter) {
        if (!m_meter)
            return;
        for (const Reply& reply : m_meter->command(text, tick))
            queueMessage(textMessage(reply.payload, trailer), m_nowMs + reply.delayMs + m_config.usbLatencyMs);
        return;
    }
    auto answer = m_config.converterAnswers.find(std::string(text));
    if (answer != m_config.converterAnswers.end())
        queueMessage(textMessage(answer->second, trailer),
                     m_nowMs + m_config.converterDelayMs + m_config.usbLatencyMs);
}

void SimUsbAdapter::handleRelay(const uint8_t* body, size_t length)
{
    constexpr size_t kPrefix = 8;
    if (length < kPrefix + kFrameHeaderSize + kFrameCheckSize) {
        ++m_badRelays;
        return;
    }
    const uint8_t* inner = body + kPrefix;
    const size_t payloadLength = 256u * inner[3] + inner[4];
    if (kPrefix + kFrameHeaderSize + payloadLength + kFrameCheckSize > length ||
        serialFrameCheck(inner, inner + kFrameHeaderSize, payloadLength) !=
            FrameCheck::getBigEndian(inner + kFrameHeaderSize + payloadLength)) {
        ++m_badRelays;
        return;
    }
    const std::string payload(reinterpret_cast<const char*>(inner + kFrameHeaderSize), payloadLength);
    const uint8_t destination = inner[0];
    const uint8_t source = inner[1];
    m_relays.push_back({destination, source, payload});
    if (m_config.kind != SimUsbKind::BusConverter)
        return;

    // The frame goes out on the line; answers come back over it after the device's delay.
    const uint64_t sentAt = m_nowMs + lineMs(kFrameHeaderSize + payloadLength + kFrameCheckSize);
    const uint32_t tick = m_clock.now() + static_cast<uint32_t>(sentAt - m_nowMs);
    for (ISimBusDevice* device : m_busDevices) {
        if (device->address() != destination)
            continue;
        for (const Reply& reply : device->onFrame(source, payload, tick)) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(reply.payload.data());
            const uint64_t at = sentAt + reply.delayMs +
                                lineMs(kFrameHeaderSize + reply.payload.size() + kFrameCheckSize) +
                                m_config.usbLatencyMs;
            queueMessage(buildUsbRelay(source, device->address(), bytes, reply.payload.size()), at);
        }
    }
}

void SimUsbAdapter::deliverInPieces(size_t pieceSize, uint32_t gapMs)
{
    m_pieceSize = pieceSize;
    m_pieceGapMs = gapMs;
}

void SimUsbAdapter::holdAnswers(bool on)
{
    advance();
    m_hold = on;
    advance();
}

void SimUsbAdapter::injectBytes(const std::vector<uint8_t>& bytes)
{
    advance();
    m_pending.push_back({m_nowMs, m_order++, bytes});
    advance();
}

void SimUsbAdapter::sendText(std::string_view text, bool withTrailer, uint32_t delayMs)
{
    advance();
    queueMessage(textMessage(text, withTrailer), m_nowMs + delayMs);
    advance();
}

} // namespace bv::sim
