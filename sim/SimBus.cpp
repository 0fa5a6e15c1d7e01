#include "sim/SimBus.h"

#include <algorithm>

#include "link/Frame.h"
#include "platform/Clock.h"

namespace bv::sim {

bool SentFrame::addressMarked() const
{
    if (parities.empty() || parities[0] != Parity::Mark)
        return false;
    return std::all_of(parities.begin() + 1, parities.end(),
                       [](Parity p) { return p == Parity::Space; });
}

bool SentFrame::allSpace() const
{
    return std::all_of(parities.begin(), parities.end(), [](Parity p) { return p == Parity::Space; });
}

SimBus::SimBus(IClock& clock, uint32_t seed) : m_clock(clock), m_random(seed) {}

void SimBus::attach(ISimBusDevice& device)
{
    if (std::find(m_devices.begin(), m_devices.end(), &device) == m_devices.end())
        m_devices.push_back(&device);
}

void SimBus::detach(ISimBusDevice& device)
{
    m_devices.erase(std::remove(m_devices.begin(), m_devices.end(), &device), m_devices.end());
}

// Brings the line up to the clock: replies whose time has come take the line
// in the order they became due, behind whatever already holds it.
void SimBus::advance()
{
    const uint32_t now = m_clock.now();
    if (!m_started) {
        m_started = true;
        m_nowUs = uint64_t(now) * 1000;
        m_lineFreeUs = m_nowUs;
        m_lastRxUs = m_nowUs;
    } else {
        m_nowUs += uint64_t(uint32_t(now - m_lastMs)) * 1000;
    }
    m_lastMs = now;

    for (;;) {
        auto due = std::min_element(m_pending.begin(), m_pending.end(),
                                    [](const PendingReply& a, const PendingReply& b) {
                                        return a.start != b.start ? a.start < b.start : a.order < b.order;
                                    });
        if (due == m_pending.end() || due->start > m_nowUs)
            break;
        PendingReply reply = std::move(*due);
        m_pending.erase(due);
        materialize(reply);
    }
}

uint32_t SimBus::msAt(uint64_t us) const { return static_cast<uint32_t>(us / 1000); }

uint64_t SimBus::putOnLine(uint8_t byte, uint64_t earliest, bool toPc)
{
    const uint64_t end = std::max(earliest, m_lineFreeUs) + kByteTimeUs;
    m_lineFreeUs = end;
    if (toPc)
        m_toPc.push_back({end, byte});
    return end;
}

void SimBus::materialize(PendingReply& reply)
{
    uint64_t earliest = reply.start;
    for (size_t i = 0; i < reply.bytes.size(); ++i) {
        if (reply.splitAt > 0 && i == reply.splitAt)
            earliest = m_lineFreeUs + reply.pauseUs;
        putOnLine(reply.bytes[i], earliest, m_connected);
    }
}

void SimBus::transmit(const uint8_t* bytes, size_t count, Parity parity)
{
    advance();
    if (!m_connected) {
        m_droppedPcBytes += count;
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint64_t end = putOnLine(bytes[i], m_nowUs, m_echo);
        m_pcLineEndUs = end;
        ++m_bytesFromPc;
        hearFromPc(bytes[i], parity, end);
    }
}

void SimBus::hearFromPc(uint8_t byte, Parity parity, uint64_t end)
{
    if (!m_rxBytes.empty() && end - kByteTimeUs > m_lastRxUs + kInterByteResetUs) {
        m_droppedPcBytes += m_rxBytes.size();
        m_rxBytes.clear();
        m_rxParity.clear();
    }
    m_rxBytes.push_back(byte);
    m_rxParity.push_back(parity);
    m_lastRxUs = end;
    cutFrames(end);
}

// The devices' receivers apply the same acceptance rules as the PC.
void SimBus::cutFrames(uint64_t end)
{
    auto dropFront = [this](size_t n) {
        m_rxBytes.erase(m_rxBytes.begin(), m_rxBytes.begin() + n);
        m_rxParity.erase(m_rxParity.begin(), m_rxParity.begin() + n);
    };
    for (;;) {
        if (!m_rxBytes.empty() && m_rxBytes[0] == 0xAA) {
            ++m_wakeUpBytes;
            dropFront(1);
            continue;
        }
        if (m_rxBytes.size() < kFrameHeaderSize)
            return;
        if (!serialHeaderPlausible(m_rxBytes.data()) || !serialLengthPlausible(m_rxBytes.data())) {
            ++m_droppedPcBytes;
            dropFront(1);
            continue;
        }
        const size_t need = 256u * m_rxBytes[3] + m_rxBytes[4] + kFrameHeaderSize + kFrameCheckSize;
        if (m_rxBytes.size() < need)
            return;
        if (!serialFrameAccepted(m_rxBytes.data(), m_rxBytes.size())) {
            ++m_droppedPcBytes;
            dropFront(1);
            continue;
        }
        SentFrame sent;
        sent.time = msAt(end);
        sent.destination = m_rxBytes[0];
        sent.source = m_rxBytes[1];
        sent.payload.assign(m_rxBytes.begin() + kFrameHeaderSize,
                            m_rxBytes.begin() + need - kFrameCheckSize);
        sent.parities.assign(m_rxParity.begin(), m_rxParity.begin() + need);
        std::vector<uint8_t> frame(m_rxBytes.begin(), m_rxBytes.begin() + need);
        dropFront(need);
        m_sent.push_back(std::move(sent));
        deliver(frame, end);
    }
}

void SimBus::deliver(const std::vector<uint8_t>& frame, uint64_t end)
{
    const uint8_t destination = frame[0];
    const uint8_t source = frame[1];
    const std::string_view payload(reinterpret_cast<const char*>(frame.data()) + kFrameHeaderSize,
                                   frame.size() - kFrameHeaderSize - kFrameCheckSize);
    // A device may answer with several frames; each leaves its own delay
    // after the command has fully arrived.
    const auto devices = m_devices;
    for (ISimBusDevice* device : devices) {
        if (device->address() != destination)
            continue;
        for (const Reply& reply : device->onFrame(source, payload, msAt(end))) {
            auto bytes = buildSerialFrame(source, device->address(),
                                          reinterpret_cast<const uint8_t*>(reply.payload.data()),
                                          reply.payload.size());
            queueReply(std::move(bytes), end + uint64_t(reply.delayMs) * 1000);
        }
    }
}

void SimBus::queueReply(std::vector<uint8_t> bytes, uint64_t start)
{
    PendingReply reply;
    reply.start = start;
    reply.order = m_order++;
    if (m_corruptNext && !bytes.empty()) {
        bytes.back() ^= 0x5A;
        m_corruptNext = false;
    }
    if (m_splitAt > 0) {
        reply.splitAt = std::min(m_splitAt, bytes.size());
        reply.pauseUs = m_splitPauseUs;
        m_splitAt = 0;
    }
    reply.bytes = std::move(bytes);
    m_pending.push_back(std::move(reply));
}

size_t SimBus::available()
{
    advance();
    if (!m_connected) {
        m_toPc.clear();
        return 0;
    }
    size_t n = 0;
    for (const Arrival& a : m_toPc) {
        if (a.at > m_nowUs)
            break;
        ++n;
    }
    return n;
}

size_t SimBus::receive(uint8_t* out, size_t max)
{
    const size_t n = std::min(available(), max);
    for (size_t i = 0; i < n; ++i) {
        out[i] = m_toPc.front().byte;
        m_toPc.pop_front();
    }
    return n;
}

void SimBus::discardInput()
{
    advance();
    while (!m_toPc.empty() && m_toPc.front().at <= m_nowUs)
        m_toPc.pop_front();
}

bool SimBus::pcTransmitting()
{
    advance();
    return m_pcLineEndUs > m_nowUs;
}

int SimBus::nextArrivalMs()
{
    advance();
    uint64_t next = UINT64_MAX;
    if (!m_toPc.empty())
        next = m_toPc.front().at;
    for (const PendingReply& reply : m_pending)
        next = std::min(next, reply.start);
    if (next == UINT64_MAX)
        return -1;
    if (next <= m_nowUs)
        return 0;
    return static_cast<int>((next - m_nowUs + 999) / 1000);
}

void SimBus::injectBytes(const std::vector<uint8_t>& bytes)
{
    advance();
    for (uint8_t b : bytes)
        putOnLine(b, m_nowUs, m_connected);
}

void SimBus::injectNoise(size_t count)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> noise(count);
    for (auto& b : noise)
        b = static_cast<uint8_t>(byte(m_random));
    injectBytes(noise);
}

void SimBus::corruptNextReplyCheck() { m_corruptNext = true; }

void SimBus::splitNextReply(size_t firstPart, uint32_t pauseMs)
{
    m_splitAt = firstPart;
    m_splitPauseUs = uint64_t(pauseMs) * 1000;
}

void SimBus::sendFrame(uint8_t destination, uint8_t source, std::string_view payload, uint32_t delayMs)
{
    advance();
    queueReply(buildSerialFrame(destination, source, reinterpret_cast<const uint8_t*>(payload.data()),
                                payload.size()),
               m_nowUs + uint64_t(delayMs) * 1000);
}

} // namespace bv::sim
