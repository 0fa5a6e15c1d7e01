#include "link/CSerial.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "settings/ProgramSettings.h"
#include "link/FrameCheck.h"
#include "platform/Clock.h"
#include "platform/Logging.h"
#include "platform/Prompt.h"
#include "res/StringTable.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger instance("CSerial");
    return instance;
}

constexpr const char* kTag = "C_Serial";

__attribute__((format(printf, 1, 2))) std::string format(const char* fmt, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

} // namespace

SerialLineSettings::SerialLineSettings(const ProgramSettings& settings)
    : markParity(settings.m_bSetParity), wakeUp(settings.m_iFuncExist)
{
}

CSerial::CSerial(ISerialSystem& system, IClock& clock, IPrompt& prompt, SerialLineSettings settings)
    : m_system(system), m_clock(clock), m_prompt(prompt), m_settings(settings)
{
}

CSerial::~CSerial()
{
    if (m_port)
        m_port->close();
}

bool CSerial::parityMode() const { return m_settings.markParity != 0; }

void CSerial::AddObserver(const void* window)
{
    if (std::find(m_observers.begin(), m_observers.end(), window) == m_observers.end())
        m_observers.push_back(window);
}

// ---------------------------------------------------------------------------
// Open and close

int CSerial::bInitSerial(const std::string& name)
{
    if (m_bOpen)
        return 1;

    m_ring.clear();
    m_bAnswered = false;
    m_wWaitCount = 0;
    m_wScanned = 0;
    m_sPortName = name;
    // The pool is made once: records handed out earlier must never dangle.
    // What the list still holds came from the previous port and goes.
    if (m_pool.empty())
        m_pool.resize(kPoolBlocks);
    m_lstFrames.clear();
    m_wNextSlot = 0;
    if (m_readBuffer.empty())
        m_readBuffer.resize(kReadChunk);

    OsError error;
    m_port = m_system.open(name, &error);
    if (!m_port) {
        m_lastError = error;
        traceFailure("bInitSerial(), CreateFile()");
        BV_LOG_WARN(logger(), kTag, "cannot open " << name << ": " << error.text);
        HandleCommError(kCommErrorOpen);
        return 0;
    }
    if (!m_port->setup(kInputQueue, kOutputQueue)) {
        failInit("bInitSerial(), SetupComm()", kCommError);
        return 0;
    }
    if (!m_port->purgeOutput() || !m_port->purgeInput()) {
        failInit("bInitSerial(), PurgeComm()", kCommError);
        return 0;
    }
    // Raw 9600 8N1 with the ninth bit at space, no flow control, no write
    // time-outs: the whole port state is applied in one step here.
    if (!m_port->configure(kBaud)) {
        failInit("bInitSerial(), SetCommState()", kCommErrorSetState);
        return 0;
    }
    TraceSink(format("WriteTotalTimeoutMultiplier = %u, WriteTotalTimeoutConstant = %u\n", 0u, 0u));
    TraceSink(format("ReadInterval=%u, ReadMultiplier=%u, ReadConstant=%u\n", 0u, 0u, 0u));
    m_bOpen = 1;
    m_bLost = false;
    return 1;
}

void CSerial::failInit(const char* step, int kind)
{
    rememberPortError();
    traceFailure(step);
    HandleCommError(kind);
    // A half-configured port must not stay in use, nor block the next open.
    if (m_port) {
        m_port->close();
        m_port.reset();
    }
    m_bOpen = 0;
}

int CSerial::Close()
{
    if (!m_bOpen && !m_port)
        return 1;
    bool ok = true;
    if (m_port) {
        ok = m_port->close();
        if (!ok)
            rememberPortError();
        // The descriptor is gone either way; keeping it would only let a later
        // call touch a number the system may have handed out again.
        m_port.reset();
    }
    m_bOpen = 0;
    m_bAnswered = false;
    if (!ok) {
        traceFailure("Close(), CloseHandle()");
        HandleCommError(kCommErrorClose);
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Sending

int CSerial::SendQuiet(uint8_t source, uint8_t destination, const uint8_t* payload,
                       uint16_t length, int show)
{
    m_iShowMessages = show;
    const int result = iOnSendFrame(source, destination, payload, length);
    m_iShowMessages = 1;
    return result;
}

int CSerial::writeBytes(const uint8_t* bytes, size_t count)
{
    if (!m_port)
        return 0;
    const int n = m_port->write(bytes, count);
    if (n < 0) {
        rememberPortError();
        checkPortGone();
        return 0;
    }
    return n;
}

bool CSerial::waitEcho(int need, uint32_t echoStart)
{
    for (;;) {
        const int waiting = m_port ? m_port->bytesWaiting() : -1;
        if (waiting >= need)
            return true;
        if (waiting < 0) {
            // A dead port never echoes: no point in waiting out the second.
            rememberPortError();
            checkPortGone();
            return false;
        }
        if (m_clock.now() - echoStart > kEchoTimeoutMs)
            return false;
        m_clock.yield();
    }
}

// A port call failed mid-send: the handle is given up.
CSerial::Step CSerial::portCallFailed(const char* step, bool close)
{
    rememberPortError();
    checkPortGone();
    traceFailure(step);
    if (close)
        Close();
    return Step::Abandon;
}

bool CSerial::waitQuietBus()
{
    // Nothing may arrive for 20 ms.
    const uint32_t start = m_clock.now();
    for (;;) {
        while (Drain() != 0) {
            if (m_clock.now() - start > kQuietTimeoutMs)
                return false;
        }
        m_clock.wait(kQuietGapMs);
        if (Drain() == 0)
            return true;
        if (m_clock.now() - start > kQuietTimeoutMs)
            return false;
    }
}

CSerial::Step CSerial::wakeUp(uint8_t destination)
{
    if (m_settings.wakeUp == 0 || (destination != kWakeUpTargetA && destination != kWakeUpTargetB))
        return Step::Go;
    if (!m_port || !m_port->setRts(true))
        return portCallFailed("iOnSendFrame(), EscapeCommFunction()", true);
    m_clock.wait(kWakeUpSettleMs);
    Drain();
    for (int i = 0; i < 3; ++i)
        if (writeBytes(&kWakeUpByte, 1) < 1)
            return Step::NoEcho;
    // Their echoes must be in before the frame's own echo waits count
    // bytes, or the last wait ends early and RTS falls on the check bytes.
    if (!waitEcho(3, m_clock.now()))
        return Step::NoEcho;
    Drain();
    return Step::Go;
}

CSerial::Step CSerial::raiseForAddress()
{
    uint32_t t0 = m_clock.now();
    if (parityMode()) {
        if (!m_port || !m_port->setParity(Parity::Mark))
            return portCallFailed("iOnSendFrame(), SetCommState()", true);
        traceTiming("%4d ms for SetCommState(MARKPARITY)\n", m_clock.now() - t0);
    }
    t0 = m_clock.now();
    if (!m_port || !m_port->setRts(true))
        return portCallFailed("iOnSendFrame(), EscapeCommFunction()", true);
    traceTiming("%4d ms for EscapeCommFunction(SETRTS)\n", m_clock.now() - t0);
    Drain();
    return Step::Go;
}

CSerial::Step CSerial::sendAddressByte(const uint8_t* header, uint32_t& echoStart)
{
    // Alone: under mark parity it must be on the line before the parity goes
    // back to space.
    const uint32_t t0 = m_clock.now();
    const int sent = writeBytes(header, 1);
    traceTiming("%4d ms for WriteFile() first byte of the frame header\n", m_clock.now() - t0);
    if (sent < 1)
        return Step::NoEcho;
    echoStart = m_clock.now();
    if (!waitEcho(1, echoStart))
        return Step::NoEcho;
    Drain();
    return Step::Go;
}

CSerial::Step CSerial::lowerForData()
{
    if (!parityMode())
        return Step::Go;
    uint32_t t0 = m_clock.now();
    if (!m_port || !m_port->setParity(Parity::Space))
        return portCallFailed("iOnSendFrame(), SetCommState()", true);
    traceTiming("%4d ms for SetCommState(SPACEPARITY)\n", m_clock.now() - t0);
    t0 = m_clock.now();
    if (!m_port->setRts(true))
        return portCallFailed("EscapeCommFunction(m_handleID,SETRTS)", false);
    traceTiming("%4d ms for EscapeCommFunction(SETRTS)\n", m_clock.now() - t0);
    return Step::Go;
}

CSerial::Step CSerial::sendEchoed(const uint8_t* bytes, uint16_t count, uint32_t echoStart, const char* what)
{
    const uint32_t t0 = m_clock.now();
    const int sent = writeBytes(bytes, count);
    traceTiming(what, m_clock.now() - t0);
    if (sent < count || !waitEcho(count, echoStart))
        return Step::NoEcho;
    Drain();
    return Step::Go;
}

CSerial::Step CSerial::sendPayload(const uint8_t* payload, uint16_t count, uint32_t echoStart)
{
    uint32_t t0 = m_clock.now();
    const int sent = count ? writeBytes(payload, count) : 0;
    traceTiming("%4d ms for WriteFile() payload data\n", m_clock.now() - t0);
    TraceSink(format("iAnzahl = %3d iSent = %3d\n", int(count), sent));
    if (sent < int(count))
        return Step::NoEcho;
    t0 = m_clock.now();
    const bool echoed = waitEcho(count, echoStart);
    traceTiming("%4d ms for reading returned payload data\n", m_clock.now() - t0);
    if (!echoed)
        return Step::NoEcho;
    Drain();
    return Step::Go;
}

int CSerial::iOnSendFrame(uint8_t source, uint8_t destination, const uint8_t* payload,
                          uint16_t length)
{
    if (!m_port && m_iPortRequired) {
        HandleCommError(kCommErrorNoPort);
        return CLEARANDEXIT(0);
    }
    size_t count = length;
    if (count == 0 && payload)
        count = std::strlen(reinterpret_cast<const char*>(payload));
    if (!payload)
        count = 0;
    // The header holds 16 bits of length; a longer text would go out with a
    // wrong length and corrupt the frame.
    if (count > 0xFFFF) {
        BV_LOG_ERROR(logger(), kTag, "iOnSendFrame() payload of " << count << " bytes refused");
        return CLEARANDEXIT(0);
    }
    const uint16_t n = static_cast<uint16_t>(count);
    if (!waitQuietBus())
        return 0;

    uint8_t header[kFrameHeaderSize];
    buildSerialHeader(destination, source, n, header);
    uint8_t check[kFrameCheckSize];
    FrameCheck::putBigEndian(serialFrameCheck(header, payload, n), check);

    uint32_t echoStart = 0;
    Step step = wakeUp(destination);
    if (step == Step::Go)
        step = raiseForAddress();
    if (step == Step::Go)
        step = sendAddressByte(header, echoStart);
    if (step == Step::Go)
        step = lowerForData();
    if (step == Step::Go)
        step = sendEchoed(header + 1, 4, echoStart, "%4d ms for WriteFile() frame header\n");
    if (step == Step::Go)
        step = sendPayload(payload, n, echoStart);
    if (step == Step::Go)
        step = sendEchoed(check, 4, echoStart, "%4d ms for WriteFile() CRC\n");
    switch (step) {
    case Step::Go:
        --m_wSendFailures;  // CLEARANDEXIT counts every exit; a success takes it back
        m_bAnswered = true;
        return CLEARANDEXIT(1);
    case Step::NoEcho:
        HandleCommError(kCommErrorNoEcho);
        return CLEARANDEXIT(0);
    case Step::Abandon:
        break;
    }
    return 0;
}

int CSerial::CLEARANDEXIT(int result)
{
    ++m_wSendFailures;
    if (!m_port)
        return result;
    m_port->setRts(false);
    if (parityMode() && m_port->parity() != Parity::Space) {
        const uint32_t t0 = m_clock.now();
        m_port->setParity(Parity::Space);
        traceTiming("%4d ms for setCommState() in the CSerial:CLEARANDEXIT()\n", m_clock.now() - t0);
    }
    return result;
}

// ---------------------------------------------------------------------------
// Receiving

int CSerial::ReadAvailable()
{
    if (!m_port || !m_iPortRequired)
        return 0;
    int waiting = m_port->bytesWaiting();
    if (waiting > 0)
        waiting = m_port->bytesWaiting();
    if (waiting < 0) {
        rememberPortError();
        checkPortGone();
        return 0;
    }
    if (waiting == 0)
        return 0;
    const size_t room = m_ring.free() > 0 ? m_ring.free() - 1u : 0u;
    const size_t want = std::min({static_cast<size_t>(waiting), room, kReadChunk});
    if (want == 0)
        return 0;
    if (m_readBuffer.size() < kReadChunk)
        m_readBuffer.resize(kReadChunk);
    const int got = m_port->read(m_readBuffer.data(), want);
    if (got < 0) {
        rememberPortError();
        checkPortGone();
        return 0;
    }
    if (got == 0)
        return 0;
    return static_cast<int>(m_ring.append(m_readBuffer.data(), static_cast<size_t>(got)));
}

int CSerial::Drain()
{
    int total = 0;
    while (const int n = ReadAvailable())
        total += n;
    return total;
}

int CSerial::ParseFrame(uint8_t* buffer)
{
    const size_t available = m_ring.count();
    if (available < 10) {
        if (available == 0)
            return 1;
        if (++m_wWaitCount > 10) {
            dropCandidate(1);
            ++m_wTimeouts;
            ++m_wAllErrors;
            return 0;
        }
        return 1;
    }

    uint8_t head[kFrameHeaderSize];
    m_ring.peek(head, kFrameHeaderSize);
    if (!serialHeaderPlausible(head)) {
        dropCandidate(1);
        return 0;
    }
    if (!serialLengthPlausible(head)) {
        dropCandidate(1);
        ++m_wAllErrors;
        return 0;
    }
    const size_t L = 256u * head[3] + head[4];
    const size_t need = L + kFrameHeaderSize + kFrameCheckSize;
    if (available < need) {
        // The header has no check of its own: noise or a damaged frame can
        // claim up to 1500 bytes and hold reception for seconds. A whole,
        // checked frame behind it proves it false.
        if (const size_t next = wholeFrameBehind(available)) {
            dropCandidate(next);
            ++m_wAllErrors;
            return 0;
        }
        if (++m_wWaitCount > need / 30 + 2) {
            dropCandidate(1);
            ++m_wTimeouts;
            ++m_wAllErrors;
            return 0;
        }
        return 1;
    }

    // need <= 1509, well inside the record-sized buffer.
    m_ring.peek(buffer, need);
    const uint32_t computed = FrameCheck::update(FrameCheck::start, buffer, L + kFrameHeaderSize);
    if (computed == FrameCheck::getBigEndian(buffer + L + kFrameHeaderSize)) {
        m_ring.drop(need);
        m_wWaitCount = 0;
        m_wScanned = 0;
        return 2;
    }
    dropCandidate(1);
    ++m_wCheckErrors;
    ++m_wAllErrors;
    return 0;
}

void CSerial::dropCandidate(size_t n)
{
    m_ring.drop(n);
    // The attempts belonged to the candidate just given up, not to the next.
    m_wWaitCount = 0;
    m_wScanned = 0;
}

size_t CSerial::wholeFrameBehind(size_t available)
{
    constexpr size_t kSmallest = kFrameHeaderSize + 1 + kFrameCheckSize;
    // Offsets below m_wScanned were settled on an earlier call: no frame can
    // start there, whatever arrives later.
    bool settled = true;
    for (size_t offset = std::max<size_t>(1, m_wScanned); offset + kSmallest <= available; ++offset) {
        uint8_t head[kFrameHeaderSize];
        m_ring.peekAt(offset, head, kFrameHeaderSize);
        if (serialHeaderPlausible(head) && serialLengthPlausible(head)) {
            const size_t L = 256u * head[3] + head[4];
            const size_t need = L + kFrameHeaderSize + kFrameCheckSize;
            if (offset + need > available) {
                settled = false;  // may still complete
                continue;
            }
            m_ring.peekAt(offset, m_scanBuffer.data(), need);
            const uint32_t computed = FrameCheck::update(FrameCheck::start, m_scanBuffer.data(), L + kFrameHeaderSize);
            if (computed == FrameCheck::getBigEndian(m_scanBuffer.data() + L + kFrameHeaderSize))
                return offset;
        }
        if (settled)
            m_wScanned = static_cast<uint16_t>(offset + 1);
    }
    return 0;
}

int CSerial::ExtractFrames()
{
    if (m_pool.empty())
        m_pool.resize(kPoolBlocks);
    int count = 0;
    // With all 40 blocks unread in the list, the next one would overwrite the
    // oldest record while the window still holds it: leave frames in the ring.
    bool full = m_lstFrames.size() >= kPoolBlocks;
    while (m_ring.count() > 9 && !full) {
        int result;
        do {
            result = ParseFrame(m_parseBuffer.data());
        } while (result == 0);
        if (result == 1)
            break;
        if (m_lstFrames.size() >= kPoolBlocks - 1)
            full = true;
        FRAME& block = m_pool[m_wNextSlot];
        std::memcpy(block.bytes(), m_parseBuffer.data(), sizeof(FRAME));
        m_wNextSlot = static_cast<uint16_t>((m_wNextSlot + 1) % kPoolBlocks);
        m_lstFrames.push_back(&block);
        ++count;
    }
    return count;
}

// ---------------------------------------------------------------------------
// As a link

LinkResult CSerial::openAndProbe(const std::string& name)
{
    if (bInitSerial(name) != 1)
        return LinkResult::NotOpen;
    if (probe())
        return LinkResult::Ok;
    Close();
    return LinkResult::Failed;
}

bool CSerial::probe()
{
    static const char kProbe[] = "PC Ready";
    return SendQuiet(0, 0, reinterpret_cast<const uint8_t*>(kProbe), 0, 0) == 1;
}

LinkResult CSerial::open()
{
    if (m_sPortName.empty()) {
        m_lastError = {0, "no port named"};
        return LinkResult::NotOpen;
    }
    return openAndProbe(m_sPortName);
}

std::string CSerial::lastError() const
{
    return m_lastError.code ? strings::osErrorText(m_lastError.code) : m_lastError.text;
}

std::string CSerial::name() const
{
    return strings::fill(strings::text(strings::kSerialPortName), {m_sPortName});
}

std::string CSerial::describe() const { return m_sPortName.empty() ? std::string() : "serial " + m_sPortName; }

LinkResult CSerial::send(uint8_t source, uint8_t destination, std::string_view payload)
{
    if (payload.size() > 0xFFFF) {
        BV_LOG_ERROR(logger(), kTag, "send() payload of " << payload.size() << " bytes refused");
        return LinkResult::Failed;
    }
    // Length 0 means a zero-terminated text to the frame builder.
    static const uint8_t kEmpty[1] = {0};
    const auto* bytes = payload.empty() ? kEmpty : reinterpret_cast<const uint8_t*>(payload.data());
    if (iOnSendFrame(source, destination, bytes, static_cast<uint16_t>(payload.size())) == 1)
        return LinkResult::Ok;
    return m_port ? LinkResult::Failed : LinkResult::NotOpen;
}

int CSerial::takeFrames(const FrameTaker& take)
{
    ReadAvailable();
    ExtractFrames();
    int n = 0;
    while (!m_lstFrames.empty()) {
        const FRAME* frame = m_lstFrames.front();
        m_lstFrames.pop_front();
        ++n;
        if (!take(*frame, false))
            break;
    }
    return n;
}

// ---------------------------------------------------------------------------
// Errors and traces

void CSerial::HandleCommError(int kind)
{
    std::string text = kind < 0 ? std::string() : strings::commErrorText(static_cast<unsigned>(kind));
    // A port the user may not open: the box says what to do about it.
    if (kind == kCommErrorOpen && (m_lastError.code == EACCES || m_lastError.code == EPERM))
        text += "\n" + m_lastError.text;
    BV_LOG_DEBUG(logger(), kTag, "HandleCommError(" << kind << ") " << text);
    if (m_port) {
        if (!m_port->setRts(false)) {
            rememberPortError();
            checkPortGone();
            traceFailure("HandleCommError(), EscapeCommFunction()");
            Close();
            return;
        }
        if (!m_port->setParity(m_port->parity())) {
            rememberPortError();
            checkPortGone();
            traceFailure("HandleCommError(), SetCommState()");
            Close();
            return;
        }
    }
    // A lost port was reported once; a box per failed send would stop the
    // program for nothing while the link is brought back.
    if (m_iShowMessages && !m_bLost && !m_bRecovering) {
        if (m_prompt.show(text, PromptButtons::OkCancel, PromptIcon::Exclamation) ==
            PromptResult::Cancel)
            Close();
    }
}

void CSerial::rememberPortError()
{
    if (m_port)
        m_lastError = m_port->lastError();
}

bool CSerial::checkPortGone()
{
    const int code = m_lastError.code;
    if (!m_port || (code != EIO && code != ENXIO && code != ENODEV))
        return false;
    BV_LOG_ERROR(logger(), kTag, "port " << m_sPortName << " lost: " << m_lastError.text);
    m_bLost = true;
    m_lostReason = m_lastError;
    m_port->close();
    m_port.reset();
    m_bOpen = 0;
    return true;
}

void CSerial::TraceSink(const std::string& text)
{
    std::string line = text;
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    BV_LOG_DEBUG(logger(), kTag, line);
}

void CSerial::traceTiming(const char* fmt, uint32_t ms)
{
    if (!logger().isDebugEnabled())
        return;
    char buffer[160];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(buffer, sizeof buffer, fmt, static_cast<int>(ms));
#pragma GCC diagnostic pop
    TraceSink(buffer);
}

void CSerial::traceFailure(const char* step)
{
    TraceSink(format("Error: %s failed with error %d: %s", step, m_lastError.code,
                     m_lastError.text.c_str()));
}

} // namespace bv
