#include "control/Device.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "link/Link.h"
#include "platform/Clock.h"
#include "platform/DataSource.h"
#include "platform/Logging.h"
#include "platform/Prompt.h"
#include "res/StringTable.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger instance("CDevice");
    return instance;
}

constexpr const char* kTag = "Device";
constexpr unsigned kCannotOpenDatabase = 6117;

} // namespace

// ---------------------------------------------------------------------------
// Ready check

CReadyCheck::CReadyCheck(CScheduler& scheduler, CDevice& device) : CState(scheduler), m_device(device)
{
    SetName("ReadyCheck");
}

void CReadyCheck::Run(const BusMessage&)
{
    switch (m_iState) {
    case 0:
        m_iRetry = 0;
        GotoState(1);
        break;
    case 1:
        m_device.Send("qr");
        WaitFrame("Ready:2", m_device.m_byOwn, m_device.m_byDevice, 1000, 3);
        break;
    case 2:
        End(kEndOk);
        break;
    case 3:
        if (++m_iRetry <= 2)
            GotoState(1);
        else
            End(kEndFailed);
        break;
    default:
        BV_LOG_ERROR(logger(), kTag, "ReadyCheck: no state " << m_iState);
        End(kEndFailed);
        break;
    }
}

// ---------------------------------------------------------------------------
// CDevice

CDevice::CDevice(CScheduler& scheduler, IPrompt& prompt)
    : m_scheduler(scheduler), m_prompt(prompt), m_ReadyCheck(scheduler, *this)
{
}

CDevice::~CDevice() = default;

IClock& CDevice::Clock() const { return m_scheduler.Clock(); }

void CDevice::Init(uint8_t ownAddress, uint8_t deviceAddress, const char* name, ILink* link)
{
    m_byOwn = ownAddress;
    m_byDevice = deviceAddress;
    if (name)
        m_sName = name;
    m_pLink = link;
    m_bInitialised = 1;
}

LinkResult CDevice::Send(const char* text, uint16_t length)
{
    return Send(reinterpret_cast<const uint8_t*>(text), length);
}

LinkResult CDevice::Send(const uint8_t* payload, uint16_t length)
{
    if (!m_pLink) {
        BV_LOG_ERROR(logger(), kTag, "Send: device " << m_sName << " has no link");
        return LinkResult::NotOpen;
    }
    const size_t n = !payload ? 0 : length ? length : std::strlen(reinterpret_cast<const char*>(payload));
    return m_pLink->send(m_byOwn, m_byDevice, std::string_view(reinterpret_cast<const char*>(payload), n));
}

void CDevice::MarkAlive()
{
    m_bAnswerSeen = 1;
    m_dwLastAnswer = Clock().now();
}

void CDevice::ClearAlive() { m_bAnswerSeen = 0; }

void CDevice::AddListener(IDeviceListener* listener)
{
    if (listener && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void CDevice::RemoveListener(IDeviceListener* listener)
{
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

void CDevice::Notify(int code, long parameter)
{
    m_lLastParameter = parameter;
    const auto listeners = m_listeners;
    for (IDeviceListener* listener : listeners) {
        // A handler may have removed (and destroyed) a later listener.
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
            listener->OnDeviceChanged(code, parameter);
    }
}

void CDevice::ReportStatus(std::string text, int kind)
{
    m_sStatusText = std::move(text);
    Notify(kNotifyStatusLine, kind);
}

void CDevice::AnswerError(const FRAME* frame, std::string_view what)
{
    ++m_lAnswerErrors;
    BV_LOG_WARN(logger(), kTag, m_sName << ": " << what << " (answer error " << m_lAnswerErrors << "): \""
                                        << (frame ? frame->text() : std::string_view()) << "\"");
    ReportStatus(m_sName + ": " + std::string(what), kStatusWarning);
}

bool CDevice::WriteProtocolLine(std::FILE*, int, int) { return true; }

bool CDevice::WriteProtocolRecord(IDataSource&, int, int) { return true; }

int CDevice::WriteProtocol(int a, int b)
{
    bool ok = true;
    if (m_bProtocolToFile) {
        // Binary append: the line writer produces the "\r\n" line ends itself.
        std::FILE* file = std::fopen(m_sProtocolPath.c_str(), "ab");
        if (!file) {
            BV_LOG_ERROR(logger(), kTag,
                         "WriteProtocol: cannot open " << m_sProtocolPath << ": " << std::strerror(errno));
            m_prompt.show(strings::text(kCannotOpenDatabase));
            return 0;
        }
        std::fseek(file, 0, SEEK_END);
        const long before = std::ftell(file);
        // A line goes in whole or not at all: a full disk must not leave a
        // torn line that the next one would be glued to.
        const bool written = WriteProtocolLine(file, a, b) && std::fflush(file) == 0 && !std::ferror(file);
        const int error = written ? 0 : errno;
        const bool closed = std::fclose(file) == 0;
        if (!written || !closed) {
            ok = false;
            std::error_code cut;
            if (before >= 0)
                std::filesystem::resize_file(m_sProtocolPath, static_cast<std::uintmax_t>(before), cut);
            if (!m_bProtocolFailing) {
                m_bProtocolFailing = true;
                BV_LOG_ERROR(logger(), kTag,
                             "WriteProtocol: writing " << m_sProtocolPath << " failed: "
                                                       << (error ? std::strerror(error) : "no line")
                                                       << (cut ? "; the torn line could not be removed: " + cut.message()
                                                               : std::string()));
                ReportStatus("Protocol file " + m_sProtocolPath + " cannot be written: lines are lost", kStatusError);
            }
        } else if (m_bProtocolFailing) {
            m_bProtocolFailing = false;
            BV_LOG_INFO(logger(), kTag, "WriteProtocol: " << m_sProtocolPath << " is written again");
            ReportStatus("Protocol file " + m_sProtocolPath + " is written again", kStatusInformation);
        }
    }
    if (m_bProtocolToDatabase) {
        std::unique_ptr<IDataSource> database = m_pDataSources ? m_pDataSources->create() : nullptr;
        if (!database || !database->open("ODBC;" + m_sDatabaseConnection)) {
            BV_LOG_ERROR(logger(), kTag,
                         "WriteProtocol: data source not opened: "
                             << (database ? database->lastError() : std::string("no data source")));
            m_prompt.show(strings::text(kCannotOpenDatabase));
            return 0;
        }
        if (!WriteProtocolRecord(*database, a, b))
            ok = false;
        database->close();
    }
    return ok ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Answer readers

int CDevice::FindKey(std::string_view key, const FRAME* frame)
{
    if (!frame)
        return -1;
    const std::string_view payload = frame->text();
    if (key.size() > payload.size())
        return -1;
    const size_t at = payload.find(key);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

int CDevice::CopyPayload(const FRAME* frame, int position, int count, void* destination)
{
    if (!frame || !destination || position < 0 || count <= 0)
        return 0;
    const size_t size = frame->payloadSize();
    if (static_cast<size_t>(position) >= size)
        return 0;
    const size_t n = std::min(static_cast<size_t>(count), size - static_cast<size_t>(position));
    std::memcpy(destination, frame->payload + position, n);
    return static_cast<int>(n);
}

double CDevice::ReadNumber(const FRAME* frame, int position, int width)
{
    if (width <= 0)
        return 0.0;
    std::string text(static_cast<size_t>(std::min(width, static_cast<int>(kRecordPayload))), '\0');
    text.resize(static_cast<size_t>(CopyPayload(frame, position, width, text.data())));
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    if (i < text.size() && text[i] == '+')
        ++i;
    // from_chars, unlike strtod, ignores the process locale (a German locale
    // would otherwise stop at the '.').
    double value = 0.0;
    const auto result = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (result.ec != std::errc())
        return 0.0;
    return value;
}

std::optional<double> CDevice::ReadField(const FRAME* frame, int position, int width)
{
    if (!frame || position < 0 || width <= 0 || width > static_cast<int>(kRecordPayload))
        return std::nullopt;
    std::string text(static_cast<size_t>(width), '\0');
    if (CopyPayload(frame, position, width, text.data()) != width)
        return std::nullopt;  // cut short
    size_t i = text.find_first_not_of(' ');
    if (i == std::string::npos)
        return std::nullopt;
    if (text[i] == '+' && i + 1 < text.size() && text[i + 1] != '-' && text[i + 1] != '+')
        ++i;
    // Fixed notation only: the field's width bounds what a meter can report,
    // an exponent would not.
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data() + i, end, value, std::chars_format::fixed);
    if (result.ec != std::errc() || !std::isfinite(value))
        return std::nullopt;
    if (result.ptr != end && *result.ptr != ' ')
        return std::nullopt;
    return value;
}

std::optional<double> CDevice::ReadKeyed(const FRAME* frame, std::string_view key, int width)
{
    const int at = FindKey(key, frame);
    if (at < 0)
        return std::nullopt;
    return ReadField(frame, at + static_cast<int>(key.size()), width);
}

char CDevice::CharAt(const FRAME* frame, int position)
{
    char c = '\0';
    CopyPayload(frame, position, 1, &c);
    return c;
}

void CDevice::setProtocolOutput(const ProtocolOutput& output)
{
    m_bProtocolToFile = output.toFile ? 1 : 0;
    m_sProtocolPath = output.path;
    m_bProtocolToDatabase = output.toDatabase ? 1 : 0;
    m_sDataSourceName = output.dataSource;
    m_sUserName = output.user;
    m_sPassword = output.password;
    m_sDatabaseConnection = odbcConnectionText(output.dataSource, output.user, output.password);
    m_iProtocolValue1 = 0;
    m_iProtocolValue2 = 0;
}

} // namespace bv
