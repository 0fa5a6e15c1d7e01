#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "link/Frame.h"
#include "link/Link.h"
#include "link/ReceiveRing.h"
#include "platform/SerialPort.h"

namespace bv {

class IClock;
class IPrompt;
class ProgramSettings;

// What the serial link reads of the settings, live: the operator may switch
// the parity while the port is open.
struct SerialLineSettings {
    // Implicit: whoever makes the link holds the whole settings.
    SerialLineSettings(const ProgramSettings& settings);
    const int& markParity;  // the address byte marked by the parity bit
    const int& wakeUp;      // RTS wake-up bytes before frames to 192 and 144
};

// Kinds of HandleCommError; each has its message text.
enum CommErrorKind : int {
    kCommError = 0,
    kCommErrorRing = 1,
    kCommErrorOpen = 2,
    kCommErrorBuildState = 3,
    kCommErrorSetState = 4,
    kCommErrorClose = 5,
    kCommErrorNoEcho = 6,
    kCommErrorNoPort = 7,
    kCommErrorOther = 8,
};

// The link to the RS-485 bus through a COM port and an echoing adapter.
// Sends prove every byte by its echo; received bytes collect in a ring from
// which the window's timer cuts frames into a fixed pool of records.
// Its own calls return 1 for success and 0 for failure; as a link it gives
// LinkResult.
class CSerial final : public ILink {
public:
    static constexpr uint16_t kRingSize = 8192;
    static constexpr size_t kPoolBlocks = 40;
    static constexpr size_t kReadChunk = 8192;
    static constexpr size_t kInputQueue = 8196;
    static constexpr size_t kOutputQueue = 1024;
    static constexpr uint32_t kBaud = 9600;
    static constexpr uint32_t kEchoTimeoutMs = 1000;
    static constexpr uint32_t kQuietTimeoutMs = 1000;
    static constexpr uint32_t kQuietGapMs = 20;
    static constexpr uint32_t kWakeUpSettleMs = 12;
    static constexpr uint8_t kWakeUpByte = 0xAA;
    static constexpr uint8_t kWakeUpTargetA = 192;
    static constexpr uint8_t kWakeUpTargetB = 144;

    // No I/O here: the port opens in bInitSerial.
    CSerial(ISerialSystem& system, IClock& clock, IPrompt& prompt, SerialLineSettings settings);
    ~CSerial() override;
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // 1 when open (also when it already was: the name is then ignored).
    int bInitSerial(const std::string& name);
    // Why the last open or port call failed, as the system gave it.
    const OsError& lastOsError() const { return m_lastError; }

    // The port last named, opened and probed ("PC Ready" from 0 to 0, no box).
    LinkResult open() override;
    void close() override { Close(); }
    bool lost() const override { return m_bLost; }
    std::string lastError() const override;
    std::string name() const override;
    std::string describe() const override;
    bool addressed() const override { return true; }
    LinkResult send(uint8_t source, uint8_t destination, std::string_view payload) override;
    int takeFrames(const FrameTaker& take) override;

    // Opens the port and proves the adapter echoes: Ok, NotOpen (lastError
    // says why) or Failed (no echo; the port is closed again).
    LinkResult openAndProbe(const std::string& name);
    // "PC Ready" from 0 to 0 without a box; true when every byte echoed.
    bool probe();

    int ReadAvailable();
    // 1 when every byte was sent and its echo came back; length 0 takes the
    // length of the zero-terminated payload.
    int iOnSendFrame(uint8_t source, uint8_t destination, const uint8_t* payload, uint16_t length);
    int Close();

    // iOnSendFrame with message boxes switched to `show` for this one send.
    int SendQuiet(uint8_t source, uint8_t destination, const uint8_t* payload, uint16_t length,
                  int show);

    // ReadAvailable until nothing more comes; the sum.
    int Drain();
    // Frames cut from the ring into the received list; never more than the
    // pool can hold unread.
    int ExtractFrames();
    // 0: a byte was dropped, 1: incomplete, 2: a frame was taken into buffer
    // (at least sizeof(FRAME) bytes).
    int ParseFrame(uint8_t* buffer);
    void HandleCommError(int kind);

    // Oldest first. The records belong to the pool: take them from the head,
    // never free them; one stays valid until 40 further frames have come.
    std::deque<FRAME*>& receivedFrames() { return m_lstFrames; }

    bool isOpen() const override { return m_bOpen != 0; }
    // The open port failed under use with an error that says the device is
    // gone (EIO, ENXIO, ENODEV: unplugged, the far end of a pseudo-terminal
    // closed). The port is then closed, and until the next successful open
    // no message box is shown: whoever watches the link reports the loss
    // once. lostReason() keeps the operating system's text.
    bool portLost() const { return m_bLost; }
    const OsError& lostReason() const { return m_lostReason; }
    // Message boxes off while a lost port is being brought back; the probes
    // and opens of the retries must not stop the program with a box.
    void setRecovering(bool on) { m_bRecovering = on; }
    bool recovering() const { return m_bRecovering; }
    // Name of the open or last opened port, as given.
    const std::string& portName() const { return m_sPortName; }
    // The open port has echoed a whole frame since it was opened: the
    // adapter is there, so the port is worth keeping in the settings.
    bool answered() const { return m_bOpen != 0 && m_bAnswered; }

    // Link health for the bus monitor.
    uint16_t checkErrors() const { return m_wCheckErrors; }
    uint16_t sendFailures() const { return m_wSendFailures; }
    uint16_t timeouts() const { return m_wTimeouts; }
    uint16_t allErrors() const { return m_wAllErrors; }
    uint16_t waitCount() const { return m_wWaitCount; }
    size_t bytesInRing() const { return m_ring.count(); }

    int portRequired() const { return m_iPortRequired; }
    void setPortRequired(int required) { m_iPortRequired = required; }
    int showMessages() const { return m_iShowMessages; }
    void setShowMessages(int show) { m_iShowMessages = show; }

    // Windows of the free communication dialog; kept, never called.
    void AddObserver(const void* window);

private:
    // How far a send came: on, given up (the port failed; nothing counted),
    // or an echo missing (counted, a box).
    enum class Step { Go, Abandon, NoEcho };
    bool waitQuietBus();
    Step wakeUp(uint8_t destination);
    Step raiseForAddress();
    Step sendAddressByte(const uint8_t* header, uint32_t& echoStart);
    Step lowerForData();
    Step sendEchoed(const uint8_t* bytes, uint16_t count, uint32_t echoStart, const char* timingFormat);
    Step sendPayload(const uint8_t* payload, uint16_t count, uint32_t echoStart);
    Step portCallFailed(const char* step, bool close);

    int CLEARANDEXIT(int result);
    bool parityMode() const;
    bool waitEcho(int need, uint32_t echoStart);
    int writeBytes(const uint8_t* bytes, size_t count);
    void failInit(const char* step, int kind);
    void rememberPortError();
    void dropCandidate(size_t n);
    // Offset of the first whole frame that passes its check behind the one
    // at the read position; 0 when there is none yet.
    size_t wholeFrameBehind(size_t available);
    // After a failed call on the open port: closes it when the error means
    // the device is gone. True when it did.
    bool checkPortGone();

    void TraceSink(const std::string& text);
    void traceTiming(const char* format, uint32_t ms);
    void traceFailure(const char* step);

    ISerialSystem& m_system;
    IClock& m_clock;
    IPrompt& m_prompt;
    SerialLineSettings m_settings;

    std::deque<FRAME*> m_lstFrames;
    int m_bOpen = 0;
    bool m_bAnswered = false;
    uint16_t m_wCheckErrors = 0;
    uint16_t m_wSendFailures = 0;
    uint16_t m_wTimeouts = 0;
    uint16_t m_wAllErrors = 0;
    uint16_t m_wWaitCount = 0;
    int m_iPortRequired = 1;
    std::string m_sPortName;
    std::unique_ptr<ISerialPort> m_port;  // null: the handle is invalid
    OsError m_lastError;
    ReceiveRing m_ring{kRingSize};
    std::vector<FRAME> m_pool;
    uint16_t m_wNextSlot = 0;
    std::vector<const void*> m_observers;
    int m_iShowMessages = 1;
    bool m_bLost = false;
    bool m_bRecovering = false;
    OsError m_lostReason;

    std::vector<uint8_t> m_readBuffer;
    std::array<uint8_t, sizeof(FRAME)> m_parseBuffer{};
    std::array<uint8_t, kMaxSerialPayload + kFrameHeaderSize + kFrameCheckSize> m_scanBuffer{};
    uint16_t m_wScanned = 0;
};

} // namespace bv
