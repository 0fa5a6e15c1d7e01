#include "link/ZelmorUSB.h"

#include <algorithm>
#include <exception>

#include "link/FrameCheck.h"
#include "res/StringTable.h"

namespace bv {
namespace {

constexpr const char* kTag = "ZelmorUSB";
constexpr const char* kCrcTag = "ZelmorUSBCRC";
constexpr uint32_t kReadTimeoutMs = 400;
constexpr uint32_t kSendTimeoutMs = 100;
constexpr uint32_t kCrcSendTimeoutMs = 1;

} // namespace

// What escapes an operation is logged with the operation's name; the
// operation then gives its neutral result.
#define BV_USB_CATCH_ALL(logger, tag, name, result)                                 \
    catch (const std::exception& e)                                                 \
    {                                                                               \
        BV_LOG_ERROR(logger, tag, name " " << e.what());                            \
        return result;                                                              \
    }                                                                               \
    catch (...)                                                                     \
    {                                                                               \
        BV_LOG_ERROR(logger, tag, name " unknown error");                           \
        return result;                                                              \
    }

const log::Logger& ZelmorUSB::logger()
{
    static const log::Logger instance("ZelmorUSB");
    return instance;
}

const log::Logger& ZelmorUSBCRC::crcLogger()
{
    static const log::Logger instance("ZelmorUSBCRC");
    return instance;
}

ZelmorUSB::ZelmorUSB(ID2xx& d2xx) : m_d2xx(d2xx) {}

ZelmorUSB::~ZelmorUSB()
{
    if (m_open && m_handle)
        m_d2xx.close(m_handle);
}

size_t ZelmorUSB::bodyLength(const uint8_t* header)
{
    return 256u * header[2] + header[3] + header[1];
}

size_t ZelmorUSB::messageLength(const uint8_t* header) { return kUsbHeaderSize + bodyLength(header); }

void ZelmorUSB::SetDescription(const std::string& text, int flags)
{
    m_description = text.substr(0, kMaxDescription);
    m_openFlags = flags;
}

int ZelmorUSB::Open()
{
    if (m_open)
        return 0;
    D2xxHandle handle = nullptr;
    if (m_d2xx.openEx(m_description, static_cast<uint32_t>(m_openFlags), handle) != kD2xxOk || !handle) {
        m_handle = nullptr;
        BV_LOG_ERROR(logger(), kTag, "USB open failed");
        return -1;
    }
    m_handle = handle;
    BV_LOG_DEBUG(logger(), kTag, "USB open successfully");
    if (m_d2xx.setFlowControl(m_handle, kD2xxFlowRtsCts, 0x11, 0x13) == kD2xxOk)
        BV_LOG_DEBUG(logger(), kTag, "FT_SetFlowControl OK");
    if (m_d2xx.setUsbParameters(m_handle, 64, 64) == kD2xxOk)
        BV_LOG_DEBUG(logger(), kTag, "FT_SetUSBParameters OK");
    m_open = 1;
    m_bLost = false;
    return 0;
}

int ZelmorUSB::Close()
{
    if (m_open) {
        m_d2xx.close(m_handle);
        m_open = 0;
        m_handle = nullptr;
    }
    return 0;
}

LinkResult ZelmorUSB::open()
{
    Close();
    return Open() == 0 ? LinkResult::Ok : LinkResult::NotOpen;
}

std::string ZelmorUSB::lastError() const
{
    if (m_bLost)
        return strings::fill(strings::text(strings::kErrorCode), {std::to_string(m_lostStatus)});
    return m_open ? std::string() : "the adapter does not open";
}

std::string ZelmorUSB::name() const
{
    return strings::fill(strings::text(strings::kUsbAdapterName), {m_description});
}

LinkResult ZelmorUSB::send(uint8_t, uint8_t, std::string_view payload)
{
    switch (SendFrame(payload)) {
    case 0: return LinkResult::Ok;
    case 4: return LinkResult::Incomplete;
    default: return LinkResult::Failed;
    }
}

int ZelmorUSB::takeFrames(const FrameTaker& take)
{
    ReadUSBDriverBuffer();
    GetFrame();
    int n = 0;
    while (auto record = takeFrame()) {
        ++n;
        if (!take(*record, m_bTakenFailed))
            return n;
    }
    return n;
}

int ZelmorUSB::ReadUSBDriverBuffer()
{
    try {
        if (!m_handle)
            return -1;
        uint32_t waiting = 0, txBytes = 0, events = 0;
        const D2xxStatus polled = m_d2xx.getStatus(m_handle, waiting, txBytes, events);
        if (polled != kD2xxOk) {
            lose("FT_GetStatus", polled);
            return 2;
        }
        if (waiting > 0)
            BV_LOG_DEBUG(logger(), kTag, "ZelmorUSB::ReadUSBDriverBuffer(), RxBytes = " << waiting);
        m_d2xx.setTimeouts(m_handle, kReadTimeoutMs, kReadTimeoutMs);

        // Nothing waiting means every waiting byte was read.
        int result = 0;
        uint8_t buffer[kReadChunk];
        while (waiting > 0) {
            // Sized per pass: a chunk larger than what is waiting now would
            // wait out the time-out and throw away the bytes it did get. What
            // the ring cannot take stays in the driver for the next call.
            const uint32_t room = m_ring.free() > 1 ? m_ring.free() - 1u : 0u;
            const uint32_t chunk = std::min<uint32_t>({waiting, static_cast<uint32_t>(kReadChunk), room});
            if (chunk == 0)
                return 1;
            uint32_t got = 0;
            const D2xxStatus status = m_d2xx.read(m_handle, buffer, chunk, got);
            if (status != kD2xxOk || got < chunk) {
                BV_LOG_ERROR(logger(), kTag,
                             "ZelmorUSB::ReadUSBDriverBuffer(), read failed, error code " << status);
                if (status != kD2xxOk)
                    lose("FT_Read", status);
                return 2;
            }
            m_ring.append(buffer, chunk);
            if (waiting != got) {
                BV_LOG_ERROR(logger(), kTag, "ZelmorUSB::ReadUSBDriverBuffer(), timeout");
                return 1;
            }
            result = 0;
            waiting = 0;
            const D2xxStatus again = m_d2xx.getStatus(m_handle, waiting, txBytes, events);
            if (again != kD2xxOk) {
                lose("FT_GetStatus", again);
                return 2;
            }
        }
        return result;
    }
    BV_USB_CATCH_ALL(logger(), kTag, "ReadUSBDriverBuffer", -1)
}

int ZelmorUSB::CheckSync(uint8_t* buffer)
{
    try {
        return checkSyncBase(buffer);
    }
    BV_USB_CATCH_ALL(logger(), kTag, "CheckSync", 1)
}

int ZelmorUSB::checkSyncBase(uint8_t* buffer)
{
    const size_t available = m_ring.count();
    auto waitOrDrop = [this]() {
        if (++m_waitCount > kWaitLimit) {
            m_ring.drop(1);
            m_waitCount = 0;
            return 0;
        }
        return 1;
    };
    if (available <= kUsbHeaderSize)
        return waitOrDrop();

    uint8_t header[kUsbHeaderSize];
    m_ring.peek(header, kUsbHeaderSize);
    if (FrameCheck::getBigEndian(header + 5) != FrameCheck::update(FrameCheck::start, header, 5)) {
        m_ring.drop(1);
        m_waitCount = 0;
        return 0;
    }
    const size_t total = messageLength(header);
    if (available < total)
        return waitOrDrop();

    m_waitCount = 0;
    m_ring.take(buffer, total);
    return 2;
}

int ZelmorUSB::GetFrame()
{
    int count = 0;
    try {
        std::vector<uint8_t> buffer(kMessageBuffer);
        while (m_ring.count() > kUsbHeaderSize) {
            int sync;
            m_bMessageFailedCheck = false;
            do {
                sync = CheckSync(buffer.data());
            } while (sync == 0);
            if (sync != 2)
                break;
            const uint8_t* message = buffer.data();
            const size_t announced = 256u * message[2] + message[3];
            // A body too short for the prefix and the inner header is a text.
            const bool relayed = usbBodyIsRelayedFrame(message + kUsbHeaderSize, announced) &&
                                 bodyLength(message) >= kRelayPrefix + kFrameHeaderSize;
            auto record = relayed ? ExactFRAMEFromUSBFrame(message) : ZelmorFrameToFRAME(message);
            if (record) {
                // A freed record's address may come back: only this message decides.
                m_failedRecords.erase(record.get());
                if (m_bMessageFailedCheck)
                    m_failedRecords.insert(record.get());
                m_received.push_back(std::move(record));
                ++count;
            }
        }
        return count;
    }
    BV_USB_CATCH_ALL(logger(), kTag, "GetFrame", count)
}

std::unique_ptr<FRAME> ZelmorUSB::textRecord(const uint8_t* message, size_t trailerBytes)
{
    const size_t body = bodyLength(message);
    const size_t length = std::min(body >= trailerBytes ? body - trailerBytes : 0, kRecordPayload);
    auto record = std::make_unique<FRAME>();
    fillRecord(*record, 0, 0, kTextFromAdapter, message + kUsbHeaderSize, length);
    return record;
}

std::unique_ptr<FRAME> ZelmorUSB::ZelmorFrameToFRAME(const uint8_t* message)
{
    try {
        return textRecord(message, 0);
    }
    BV_USB_CATCH_ALL(logger(), kTag, "ZelmorFrameToFRAME", nullptr)
}

std::unique_ptr<FRAME> ZelmorUSB::ExactFRAMEFromUSBFrame(const uint8_t* message)
{
    try {
        const size_t body = bodyLength(message);
        if (body < kRelayPrefix + kFrameHeaderSize)
            return ZelmorFrameToFRAME(message);
        const uint8_t* inner = message + kUsbHeaderSize + kRelayPrefix;
        const size_t innerLength = 256u * inner[3] + inner[4];
        const size_t length =
            std::min({innerLength, kRecordPayload, body - kRelayPrefix - kFrameHeaderSize});
        auto record = std::make_unique<FRAME>();
        std::copy_n(inner, kFrameHeaderSize, record->bytes());
        record->setLength(static_cast<uint16_t>(length));
        std::copy_n(inner + kFrameHeaderSize, length, record->payload);
        return record;
    }
    BV_USB_CATCH_ALL(logger(), kTag, "ExactFRAMEFromUSBFrame", nullptr)
}

std::unique_ptr<FRAME> ZelmorUSB::takeFrame()
{
    if (m_received.empty())
        return nullptr;
    auto record = std::move(m_received.front());
    m_received.pop_front();
    m_bTakenFailed = m_failedRecords.erase(record.get()) > 0;
    return record;
}

int ZelmorUSB::writeMessage(const std::vector<uint8_t>& message, uint32_t timeoutMs)
{
    m_d2xx.setTimeouts(m_handle, timeoutMs, timeoutMs);
    uint32_t written = 0;
    const D2xxStatus status =
        m_d2xx.write(m_handle, message.data(), static_cast<uint32_t>(message.size()), written);
    // A write can fail for its short time-out alone; the device is gone
    // only when it no longer answers a status query either.
    if (status != kD2xxOk && m_open && m_handle) {
        uint32_t rx = 0, tx = 0, events = 0;
        const D2xxStatus polled = m_d2xx.getStatus(m_handle, rx, tx, events);
        if (polled != kD2xxOk)
            lose("FT_Write", status);
    }
    return status == kD2xxOk && written >= message.size() ? 0 : 4;
}

void ZelmorUSB::lose(const char* call, D2xxStatus status)
{
    BV_LOG_ERROR(logger(), kTag, "USB device lost: " << call << " failed, error code " << status);
    m_bLost = true;
    m_lostStatus = status;
    // Closed at once: later calls give -1 without touching the driver.
    Close();
}

void ZelmorUSB::notifySinks(const FRAME& record)
{
    for (IFrameSink* sink : m_sinks)
        if (sink)
            sink->onFrame(record);
}

int ZelmorUSB::SendFrame(std::string_view text)
{
    try {
        // The body length field has 16 bits.
        if (text.size() > 0xFFFF)
            return 4;
        const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
        if (writeMessage(buildUsbText(bytes, text.size()), kSendTimeoutMs) != 0)
            return 4;
        auto record = std::make_unique<FRAME>();
        fillRecord(*record, 0, 0, kTextToAdapter, bytes, text.size());
        notifySinks(*record);
        return 0;
    }
    BV_USB_CATCH_ALL(logger(), kTag, "SendFrame", -1)
}

int ZelmorUSB::SendFrame(uint8_t source, uint8_t destination, const uint8_t* payload, uint16_t length)
{
    try {
        if (size_t(length) + 17 > 0xFFFF)
            return 4;
        if (writeMessage(buildUsbRelay(destination, source, payload, length), kSendTimeoutMs) != 0)
            return 4;
        auto record = std::make_unique<FRAME>();
        fillRecord(*record, destination, source, kBusFrame, payload, length);
        notifySinks(*record);
        return 0;
    }
    BV_USB_CATCH_ALL(logger(), kTag, "SendFrame", -1)
}

int ZelmorUSBCRC::SendFrame(std::string_view text)
{
    try {
        if (text.size() + kTrailerSize > 0xFFFF)
            return 4;
        const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
        if (writeMessage(buildUsbTextWithTrailer(bytes, text.size()), kCrcSendTimeoutMs) != 0)
            return 4;
        auto record = std::make_unique<FRAME>();
        fillRecord(*record, 0, 0, kTextToAdapter, bytes, text.size());
        notifySinks(*record);
        return 0;
    }
    BV_USB_CATCH_ALL(crcLogger(), kCrcTag, "SendFrame", -1)
}

int ZelmorUSBCRC::CheckSync(uint8_t* buffer)
{
    try {
        const int result = checkSyncBase(buffer);
        if (result == 2 && buffer[4] == 1) {
            m_bTrailersSeen = 1;
            // The trailer checks every byte before it.
            const size_t covered = 256u * buffer[2] + buffer[3] + 5;
            if (FrameCheck::update(FrameCheck::start, buffer, covered) ==
                FrameCheck::getBigEndian(buffer + covered)) {
                m_lastVerified.assign(buffer, buffer + messageLength(buffer));
            } else {
                m_bMessageFailedCheck = true;
                ++m_ulCheckErrors;
                BV_LOG_DEBUG(crcLogger(), kCrcTag, "CheckSync: trailer check failed, message kept out of the answers");
            }
        }
        return result;
    }
    BV_USB_CATCH_ALL(crcLogger(), kCrcTag, "CheckSync", 1)
}

std::unique_ptr<FRAME> ZelmorUSBCRC::ZelmorFrameToFRAME(const uint8_t* message)
{
    try {
        return textRecord(message, m_bTrailersSeen ? static_cast<size_t>(m_iTrailerSize) : 0);
    }
    BV_USB_CATCH_ALL(crcLogger(), kCrcTag, "ZelmorFrameToFRAME", nullptr)
}

} // namespace bv
