#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/Messages.h"
#include "control/Scheduler.h"
#include "link/Frame.h"
#include "link/Link.h"

namespace bv {

class CDevice;
class IClock;
class IDataSource;
class IDataSourceFactory;
class IPrompt;

// Receives the device notification (window message kMsgDeviceChanged)
// synchronously, inside the state handler that sent it.
class IDeviceListener {
public:
    virtual ~IDeviceListener() = default;
    virtual void OnDeviceChanged(int code, long parameter) = 0;
};

// Asks "qr" and waits for "Ready": three tries of one second each.
class CReadyCheck final : public CState {
public:
    CReadyCheck(CScheduler& scheduler, CDevice& device);
    void Run(const BusMessage& message) override;

    int32_t m_iRetry = 0;

private:
    CDevice& m_device;
};

// Base of every bus device: its bus identity, the link its commands go
// through, its listeners and the protocol output switches.
class CDevice {
public:
    CDevice(CScheduler& scheduler, IPrompt& prompt);
    virtual ~CDevice();
    CDevice(const CDevice&) = delete;
    CDevice& operator=(const CDevice&) = delete;

    // name may be null (keeps the current one).
    void Init(uint8_t ownAddress, uint8_t deviceAddress, const char* name, ILink* link);
    // The road its commands take from now on (null: none).
    void SetLink(ILink* link) { m_pLink = link; }
    ILink* Link() const { return m_pLink; }
    // From the own address to the device address. length 0: text is
    // zero-terminated. NotOpen without a link.
    LinkResult Send(const char* text, uint16_t length = 0);
    LinkResult Send(const uint8_t* payload, uint16_t length);

    void MarkAlive();
    void ClearAlive();

    void AddListener(IDeviceListener* listener);
    void RemoveListener(IDeviceListener* listener);
    // Stores the parameter, then calls every listener before returning.
    void Notify(int code, long parameter);

    // Appends to the protocol file and/or opens the data source, as switched.
    // 1 when every write that was done succeeded; 0 after message 6117.
    int WriteProtocol(int a, int b);
    // One line to the open protocol file; write line ends as "\r\n"
    // (WriteTextMode does that). Returns success.
    virtual bool WriteProtocolLine(std::FILE* file, int a, int b);
    virtual bool WriteProtocolRecord(IDataSource& database, int a, int b);
    void SetDataSourceFactory(IDataSourceFactory* factory) { m_pDataSources = factory; }

    void StartReadyCheck() { m_ReadyCheck.Start(); }

    // Sends kNotifyStatusLine with the text kept for StatusText().
    void ReportStatus(std::string text, int kind);
    const std::string& StatusText() const { return m_sStatusText; }
    // An answer whose values could not be trusted: counted, logged and shown.
    void AnswerError(const FRAME* frame, std::string_view what);
    long AnswerErrors() const { return m_lAnswerErrors; }
    // Protocol lines the protocol did not take (counted by the measuring program).
    long m_lProtocolLinesLost = 0;

    CScheduler& Scheduler() const { return m_scheduler; }
    IClock& Clock() const;
    IPrompt& Prompt() const { return m_prompt; }
    const std::vector<IDeviceListener*>& Listeners() const { return m_listeners; }

    // Answer readers. Positions count from the first payload byte; a null
    // frame (a time message) or a position outside the payload reads nothing.
    // Position of the first occurrence of key, -1 when missing or longer than the payload.
    static int FindKey(std::string_view key, const FRAME* frame);
    // Up to count bytes from position, never beyond the payload; returns the number copied.
    static int CopyPayload(const FRAME* frame, int position, int count, void* destination);
    // Decimal number in the width bytes from position (leading blanks skipped,
    // stops at the first character that cannot belong to it); 0 when none.
    static double ReadNumber(const FRAME* frame, int position, int width);
    // The same field read whole: the width bytes from position must lie in the
    // payload and hold blanks, one fixed-point number and, behind a blank,
    // whatever follows. Anything else (a stray character, a second sign,
    // inf or nan, an answer cut short, a negative position) reads nothing.
    static std::optional<double> ReadField(const FRAME* frame, int position, int width);
    // The field of width behind key; nothing when the key is missing.
    static std::optional<double> ReadKeyed(const FRAME* frame, std::string_view key, int width);
    // The payload byte at position, '\0' outside the payload.
    static char CharAt(const FRAME* frame, int position);

    // Where measured values are written, as the protocol dialog or the
    // command line gives it.
    struct ProtocolOutput {
        bool toFile = false;
        std::string path;
        bool toDatabase = false;
        std::string dataSource, user, password;
    };
    void setProtocolOutput(const ProtocolOutput& output);
    ProtocolOutput protocolOutput() const
    {
        return {m_bProtocolToFile != 0, m_sProtocolPath, m_bProtocolToDatabase != 0, m_sDataSourceName, m_sUserName, m_sPassword};
    }
    void setAddress(uint8_t address) { m_byDevice = address; }

    std::string m_sName;
    uint8_t m_byDevice = 0;
    uint8_t m_byOwn = 0;
    ILink* m_pLink = nullptr;
    int32_t m_iMenuResource = 0;
    int32_t m_bInitialised = 0;
    int32_t m_iTypeCode = -1;
    uint32_t m_dwLastAnswer = 0;
    int32_t m_bAnswerSeen = 0;
    int32_t m_iBitmapResource = 0;
    long m_lLastParameter = 0;
    std::string m_sProtocolPattern = "*.txt";
    int32_t m_bProtocolToFile = 0;
    std::string m_sProtocolPath;
    int32_t m_bProtocolToDatabase = 0;
    std::string m_sDatabaseConnection;  // may hold a password: never logged
    // What the protocol dialog edits; the connection text is built from them.
    std::string m_sDataSourceName;
    std::string m_sUserName;
    std::string m_sPassword;
    int32_t m_iProtocolValue1 = 0;
    int32_t m_iProtocolValue2 = 0;

private:
    CScheduler& m_scheduler;
    IPrompt& m_prompt;
    IDataSourceFactory* m_pDataSources = nullptr;
    std::vector<IDeviceListener*> m_listeners;
    std::string m_sStatusText;
    long m_lAnswerErrors = 0;
    bool m_bProtocolFailing = false;  // one report per outage

public:
    CReadyCheck m_ReadyCheck;
};

} // namespace bv
