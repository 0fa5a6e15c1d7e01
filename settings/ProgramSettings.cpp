#include "settings/ProgramSettings.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "platform/Logging.h"
#include "platform/Profile.h"
#include "platform/Prompt.h"
#include "res/StringTable.h"

namespace bv {
namespace {

const log::Logger& logger()
{
    static const log::Logger instance("ProgramSettings");
    return instance;
}
constexpr const char* kTag = "ProgramSettings";

constexpr std::size_t kValueBuffer = 100;
constexpr std::size_t kStartfileBuffer = 199;
constexpr unsigned kMsgNotWritable = 61248;
constexpr unsigned kMsgPasswordReadable = 61470;
constexpr unsigned kMsgAddressOutOfRange = 61471;
constexpr unsigned kMsgReplaced = 61472;

const std::string& S(unsigned id) { return strings::text(id); }

bool hasPassword(const ProfileDocument& document)
{
    return !document.getString("MQTT", "Password", "", kValueBuffer).empty();
}

std::string numbered(const char* prefix, int i, const char* suffix = "")
{
    return prefix + std::to_string(i) + suffix;
}

// The whole thousandths of a value read as text, the fraction of a thousandth
// cut. The product carries the binary error of both factors (2.01 * 1000 is
// 2009.999...): within a few units of its last place it is the whole number
// the text meant, not one below.
long wholeThousandths(double value)
{
    const double scaled = value * 1000.0;
    const double nearest = std::nearbyint(scaled);
    if (std::fabs(scaled - nearest) <= 4 * std::numeric_limits<double>::epsilon() * std::fabs(nearest))
        return truncToLong(nearest);
    return truncToLong(scaled);
}

const char* const kDetectorKeys[4] = {" Tau1", " Scale1", " Tau2", " Scale2"};
const char* const kLimitKeys[6] = {"Y0", "Z0", "Y1", "Z1", "Y2", "Z2"};

// Reading rules of the key table.
class Reader {
public:
    explicit Reader(const ProfileDocument& document) : m_doc(document) {}

    int integer(const std::string& section, const std::string& key, int missing) const
    {
        return m_doc.getInt(section, key, missing);
    }
    std::string text(const std::string& section, const std::string& key, const std::string& missing,
                     std::size_t buffer = kValueBuffer) const
    {
        return m_doc.getString(section, key, missing, buffer);
    }

    // Keys that stay as they are when absent or empty.
    bool present(const std::string& section, const std::string& key, std::string& value,
                 std::size_t buffer = kValueBuffer) const
    {
        value = m_doc.getString(section, key, "", buffer);
        return !value.empty();
    }
    void keepText(const std::string& section, const std::string& key, std::string& member,
                  std::size_t buffer = kValueBuffer) const
    {
        std::string v;
        if (present(section, key, v, buffer))
            member = std::move(v);
    }
    void keepInt(const std::string& section, const std::string& key, int& member) const
    {
        std::string v;
        if (present(section, key, v))
            member = leadingInt(v);
    }
    void keepFlag(const std::string& section, const std::string& key, int& member) const
    {
        std::string v;
        if (present(section, key, v))
            member = leadingInt(v) != 0 ? 1 : 0;
    }
    // Integers that the file may hold as reals: the fraction is dropped.
    void keepRealAsInt(const std::string& section, const std::string& key, int& member) const
    {
        std::string v;
        if (present(section, key, v))
            member = truncToInt(leadingReal(v));
    }
    void keepReal(const std::string& section, const std::string& key, double& member) const
    {
        std::string v;
        if (present(section, key, v))
            member = leadingReal(v);
    }

private:
    const ProfileDocument& m_doc;
};

class Writer {
public:
    explicit Writer(ProfileDocument& document) : m_doc(document) {}

    void integer(const std::string& section, const std::string& key, long value)
    {
        m_doc.writeString(section, key, std::to_string(value));
    }
    void unsignedValue(const std::string& section, const std::string& key, unsigned long value)
    {
        m_doc.writeString(section, key, std::to_string(value));
    }
    void fixed8(const std::string& section, const std::string& key, double value)
    {
        m_doc.writeString(section, key, formatReal("%1.8f", value));
    }
    void general(const std::string& section, const std::string& key, double value)
    {
        m_doc.writeString(section, key, formatReal("%g", value));
    }
    void text(const std::string& section, const std::string& key, const std::string& value)
    {
        m_doc.writeString(section, key, value);
    }

private:
    ProfileDocument& m_doc;
};

} // namespace

ProgramSettings::ProgramSettings() { ResetToInitial(); }

ProgramSettings& ProgramSettings::Instance()
{
    static ProgramSettings settings;
    return settings;
}

void ProgramSettings::ResetToInitial()
{
    const std::string dir = m_sProgramDir;
    IProfileFiles* const files = m_pFiles;
    *this = ProgramSettings(ProgramSettings::Blank{});
    m_sProgramDir = dir;
    m_pFiles = files;

    static const double initialDetectors[4][4] = {
        {10, -0.1, 3500, 0.1}, {0, 0, 0, 0}, {22, -0.16, 6, -0.12}, {3500, 0.1, 0, 0}};
    for (int i = 0; i < 10; ++i) {
        DetectorEntry& d = m_detectors[i];
        if (i < 4) {
            d.tau1 = initialDetectors[i][0];
            d.scale1 = initialDetectors[i][1];
            d.tau2 = initialDetectors[i][2];
            d.scale2 = initialDetectors[i][3];
        }
        d.defined = i < 4;
        d.name = strings::text(61221 + i);
    }
    for (int i = 0; i < 10; ++i) {
        m_triggerModes[i].name = strings::text(61233 + i);
        m_triggerModes[i].inUse = i < 9;
    }
    for (int i = 0; i < 16; ++i) {
        m_sOutputNames[i] = "Port " + std::to_string(i);
        m_sInputNames[i] = "Port " + std::to_string(i);
    }
}

IProfileFiles& ProgramSettings::files() const { return m_pFiles ? *m_pFiles : realProfileFiles(); }

int ProgramSettings::Open(const std::string& fileName, IPrompt& prompt)
{
    const std::string path = m_sProgramDir.empty() ? fileName : m_sProgramDir + "/" + fileName;
    BV_LOG_DEBUG(logger(), kTag, "Open " << path);
    IProfileFiles& fs = files();

    std::string content;
    const IProfileFiles::ReadResult read = fs.read(path, content);
    if (read == IProfileFiles::ReadResult::NotAFile) {
        // Never read from or written to: a FIFO would hang the start, a device take the text.
        BV_LOG_ERROR(logger(), kTag, path << " is not a regular file: the initial settings are used and not saved");
        m_strPath = path;
        prompt.show(S(kMsgNotWritable), PromptButtons::Ok, PromptIcon::Exclamation);
        return 1;
    }
    if (read != IProfileFiles::ReadResult::Ok) {
        // No file yet: it gets the initial values, which stay in force.
        m_strPath = path;
        WriteAll();
        return 1;
    }
    m_strPath = path;
    if (!fs.canWrite(path)) {
        prompt.show(S(kMsgNotWritable), PromptButtons::Ok, PromptIcon::Exclamation);
    } else if (!fs.canReplace(path)) {
        // Said now rather than found out at shutdown.
        BV_LOG_WARN(logger(), kTag, "the folder of " << path << " may not be written: settings will not be saved");
        prompt.show(S(kMsgNotWritable), PromptButtons::Ok, PromptIcon::Exclamation);
    }

    ProfileDocument document(content);
    const int version = document.getInt("Version", "no", 0);
    if (version != Version()) {
        // An operator may have written it by hand: it is kept, never lost.
        const std::string kept = path + ".replaced";
        if (!fs.canReplace(path) || !fs.replaceOwnerOnly(kept, content)) {
            BV_LOG_ERROR(logger(), kTag, "Open: " << path << " has file version " << version << " and cannot be kept as "
                                                  << kept << ": it stays as it is, the initial settings are used");
            prompt.show(S(kMsgNotWritable), PromptButtons::Ok, PromptIcon::Exclamation);
            return 0;
        }
        BV_LOG_WARN(logger(), kTag, "Open: " << path << " has file version " << version
                                             << ": replaced by the initial settings, the old file kept as " << kept);
        prompt.show(strings::fill(S(kMsgReplaced), {path, std::to_string(Version()), kept}), PromptButtons::Ok,
                    PromptIcon::Exclamation);
        if (!fs.remove(path)) {
            prompt.show(S(kMsgNotWritable), PromptButtons::Ok, PromptIcon::Exclamation);
            return 0;
        }
        WriteAll();
        Profile(fs).load(path, document);
    }

    if (hasPassword(document) && fs.readableByOthers(path)) {
        BV_LOG_WARN(logger(), kTag, path << " holds the MQTT password and may be read by other users");
        prompt.show(strings::fill(S(kMsgPasswordReadable), {path}), PromptButtons::Ok, PromptIcon::Exclamation);
    }

    m_rcWindow.left = document.getInt("Window", "left", 0);
    m_rcWindow.top = document.getInt("Window", "top", 0);
    m_rcWindow.right = document.getInt("Window", "right", 0);
    m_rcWindow.bottom = document.getInt("Window", "bottom", 0);
    loadFrom(document);
    // The bus takes the low byte, as it always did; said so it is not a surprise.
    if (const int address = leadingInt(m_sDeviceAddress); address < 0 || address > 255) {
        const std::string used = std::to_string(static_cast<uint8_t>(address));
        BV_LOG_WARN(logger(), kTag, "Device Address=" << m_sDeviceAddress << " is no bus address (0 to 255): "
                                                      << used << " is used");
        prompt.show(strings::fill(S(kMsgAddressOutOfRange), {m_sDeviceAddress, used}), PromptButtons::Ok,
                    PromptIcon::Exclamation);
    }
    return 1;
}

int ProgramSettings::WriteAll()
{
    return rewrite("WriteAll", [this](ProfileDocument& document) {
        Writer w(document);
        w.integer("Version", "no", Version());
        w.integer("Window", "left", m_rcWindow.left);
        w.integer("Window", "top", m_rcWindow.top);
        w.integer("Window", "right", m_rcWindow.right);
        w.integer("Window", "bottom", m_rcWindow.bottom);
        saveTo(document);
    }) ? 1 : 0;
}

int ProgramSettings::Load()
{
    ProfileDocument document;
    Profile(files()).load(m_strPath, document);
    loadFrom(document);
    return 1;
}

int ProgramSettings::Save()
{
    return rewrite("Save", [this](ProfileDocument& document) { saveTo(document); }) ? 1 : 0;
}

bool ProgramSettings::rewrite(const char* operation, const std::function<void(ProfileDocument&)>& fill)
{
    Profile profile(files());
    ProfileDocument document;
    // A file that exists but cannot be read is left alone: rewriting it
    // would throw away everything this program does not know.
    bool written = profile.load(m_strPath, document);
    if (written) {
        // A password going into the file keeps it from other users from the
        // first byte on. A file that held one already keeps the mode its
        // owner gave it (the start warns when others may read it).
        const bool hadSecret = hasPassword(document);
        fill(document);
        written = profile.store(m_strPath, document, hasPassword(document) && !hadSecret);
    }
    if (!written)
        BV_LOG_ERROR(logger(), kTag, operation << ": cannot write " << m_strPath);
    return written;
}

void ProgramSettings::readInterval(const std::string& text)
{
    if (text.empty())
        return;
    // 0 or less would poll on every beat; text that is no number keeps the
    // interval in force rather than becoming 0.
    const size_t first = text.find_first_not_of(" \t");
    size_t digit = first == std::string::npos ? text.size() : first;
    if (digit < text.size() && (text[digit] == '+' || text[digit] == '-'))
        ++digit;
    if (digit < text.size() && text[digit] == '.')
        ++digit;
    const bool number = digit < text.size() && text[digit] >= '0' && text[digit] <= '9';
    const int read = number ? truncToInt(leadingReal(text)) : m_iInterval;
    const int used = std::clamp(read, kIntervalMinMs, kIntervalMaxMs);
    if (number && used == read) {
        m_iInterval = used;
        return;
    }
    m_iInterval = used;
    const std::string warning = "Interval=" + text + " in [Setup] is not a measuring interval from " +
                                std::to_string(kIntervalMinMs) + " ms to 1 h: " + std::to_string(used) +
                                " ms used";
    BV_LOG_WARN(logger(), kTag, warning);
    m_loadWarnings.push_back(warning);
}

void ProgramSettings::loadFrom(const ProfileDocument& document)
{
    const Reader r(document);
    m_loadWarnings.clear();

    m_sPort = r.text("Comm", "Port", "com1");
    m_byOwn = static_cast<uint8_t>(r.integer(S(61251), "Own", 64));
    m_iPrivateMode = r.integer("Private", "Mode", 0);
    r.keepText("File", "Default", m_sFileDefault);
    m_iHighBaudrate = r.integer("Comm", "HighBaudrate", 1);
    m_iMaxRate = truncToInt(leadingReal(r.text("Comm", "MaxRate", "115000")));

    r.keepReal("Laser", S(61252), m_dWavelength);
    r.keepInt("Laser", S(61253), m_iRotationSpeed);
    r.keepInt("Laser", S(61254), m_iCamerachip);
    r.keepReal("Laser", S(61255), m_dLaserPower);
    r.keepReal("Laser", S(61256), m_dFocallength);
    r.keepInt("Laser", S(61257), m_iBeamFindTrigger);
    r.keepInt("Laser", S(61258), m_iBeamFindPercent);
    m_iFuncExist = r.integer("Laser", S(61259), 1);
    r.keepInt("Laser", S(61260), m_iDetectortype);
    for (int i = 0; i < 6; ++i)
        r.keepReal("Laser", S(61261) + kLimitKeys[i], m_dMechanicalLimits[i]);
    r.keepInt("Laser", "Autoscaleon", m_iAutoscaleon);

    for (int i = 0; i < 10; ++i) {
        DetectorEntry& d = m_detectors[i];
        d.defined = true;
        double* const reals[4] = {&d.tau1, &d.scale1, &d.tau2, &d.scale2};
        for (int k = 0; k < 4; ++k) {
            const std::string v = r.text("Detectorparameter", numbered("Detector ", i, kDetectorKeys[k]), "");
            if (v.empty())
                d.defined = false;
            *reals[k] = leadingReal(v);
        }
        d.name = r.text("Detectorparameter", numbered("Detector ", i, " Name"), "");
        if (d.name.empty())
            d.defined = false;
    }
    for (int i = 0; i < 10; ++i) {
        m_triggerModes[i].inUse = true;
        r.keepText(S(61279), numbered("TriggerMode ", i), m_triggerModes[i].name);
    }

    m_iInterfaceStartup = r.integer("Interface", "Startup", 0);
    // An empty list keeps the one in force; only a missing key gives the short list.
    const std::string rescan = r.text("Comm", "Rescan", "160,144,161");
    if (!rescan.empty())
        m_sRescan = rescan;
    r.keepText(S(61278), S(61262), m_sStartfile, kStartfileBuffer);
    for (int i = 0; i < 16; ++i) {
        const std::string fallback = numbered("Port ", i);
        m_sOutputNames[i] = r.text("Output", numbered("Out", i), fallback);
        m_sInputNames[i] = r.text("Input", numbered("In", i), fallback);
    }
    m_sMultimonRescan = r.text("Multimon", "Rescan", "32,33,128");
    m_sMultimonRadius = r.text("Multimon", "Radius", "1.");
    m_iExportSetting = r.integer("Export", "Setting", 0);
    r.keepText("Service", S(61271), m_sCompanyAddress);
    r.keepText("Service", S(61272), m_sServiceTechnician);

    m_ulCommandNo = leadingUnsigned(r.text(S(61275), S(61273), "0"));
    m_ulFileNo = leadingUnsigned(r.text(S(61275), S(61274), "1"));
    m_iProtocol = r.integer(S(61275), S(61276), 0);

    m_dOffset = leadingReal(r.text(S(61277), "Offset", "1"));
    m_lOffsetThousandths = wholeThousandths(m_dOffset);

    r.keepFlag("Comm", "Set Parity", m_bSetParity);
    r.keepInt("Comm", "USB-To-Serial Bridge", m_bUsbToSerialBridge);
    r.keepText("Comm", "Device Address", m_sDeviceAddress);
    r.keepInt("Comm", "Data_Transfer_Mode", m_iDataTransferMode);
    r.keepReal("EC Power", "Deviation Limit", m_dDeviationLimit);
    readInterval(r.text("Setup", "Interval", ""));
    // Kept as read, 0 and negative included: whoever divides by them guards.
    r.keepRealAsInt("Setup", "Average period", m_iAveragePeriod);
    r.keepRealAsInt("Setup", "time of thermalization", m_iThermalizationTime);
    r.keepRealAsInt("Setup", "History days", m_iHistoryDays);
    r.keepFlag("Open Shutter", "Use SPS", m_bUseSps);
    r.keepInt("Open Shutter", "Input1", m_iInput1);
    r.keepInt("Open Shutter", "Input2", m_iInput2);
    r.keepInt("Open Shutter", "Output1", m_iOutput1);
    r.keepInt("Open Shutter", "Output2", m_iOutput2);
    r.keepInt("Open Shutter", "Target Address", m_iTargetAddress);

    r.keepFlag("Modbus", "Enabled", m_bModbusEnabled);
    r.keepText("Modbus", "Bind", m_sModbusBind);
    r.keepInt("Modbus", "Port", m_iModbusPort);
    r.keepInt("Modbus", "UnitId", m_iModbusUnitId);
    r.keepFlag("Modbus", "AcceptCommands", m_bModbusAcceptCommands);
    r.keepInt("Modbus", "MaxClients", m_iModbusMaxClients);
    r.keepText("Modbus", "AllowFrom", m_sModbusAllowFrom);
    r.keepFlag("SCPI", "Enabled", m_bScpiEnabled);
    r.keepText("SCPI", "Bind", m_sScpiBind);
    r.keepInt("SCPI", "Port", m_iScpiPort);
    r.keepFlag("SCPI", "AcceptCommands", m_bScpiAcceptCommands);
    r.keepInt("SCPI", "MaxClients", m_iScpiMaxClients);
    r.keepText("SCPI", "AllowFrom", m_sScpiAllowFrom);
    r.keepInt("SCPI", "IdleSeconds", m_iScpiIdleSeconds);
    r.keepFlag("MQTT", "Enabled", m_bMqttEnabled);
    r.keepText("MQTT", "Host", m_sMqttHost);
    r.keepInt("MQTT", "Port", m_iMqttPort);
    r.keepText("MQTT", "Station", m_sMqttStation);
    r.keepText("MQTT", "TopicPrefix", m_sMqttTopicPrefix);
    r.keepText("MQTT", "Username", m_sMqttUsername);
    r.keepText("MQTT", "Password", m_sMqttPassword);
    r.keepFlag("MQTT", "TLS", m_bMqttTls);
    r.keepText("MQTT", "CAFile", m_sMqttCaFile, kStartfileBuffer);
    r.keepInt("MQTT", "QoS", m_iMqttQos);
    r.keepFlag("MQTT", "AcceptCommands", m_bMqttAcceptCommands);
    r.keepInt("MQTT", "KeepAlive", m_iMqttKeepAlive);
    r.keepInt("MQTT", "QueueLimit", m_iMqttQueueLimit);
}

void ProgramSettings::saveTo(ProfileDocument& document) const
{
    Writer w(document);

    w.text("Comm", "Port", m_sPort);
    w.integer(S(61251), "Own", m_byOwn);
    w.integer("Private", "Mode", m_iPrivateMode);
    w.text("File", "Default", m_sFileDefault);
    w.integer("Comm", "HighBaudrate", m_iHighBaudrate);

    w.fixed8("Laser", S(61252), m_dWavelength);
    w.integer("Laser", S(61253), m_iRotationSpeed);
    w.integer("Laser", S(61254), m_iCamerachip);
    w.fixed8("Laser", S(61255), m_dLaserPower);
    w.fixed8("Laser", S(61256), m_dFocallength);
    w.integer("Laser", S(61257), m_iBeamFindTrigger);
    w.integer("Laser", S(61258), m_iBeamFindPercent);
    w.integer("Laser", S(61259), m_iFuncExist);
    w.integer("Laser", S(61260), m_iDetectortype);
    for (int i = 0; i < 6; ++i)
        w.fixed8("Laser", S(61261) + kLimitKeys[i], m_dMechanicalLimits[i]);
    w.integer("Laser", "Autoscaleon", m_iAutoscaleon);

    for (int i = 0; i < 10; ++i) {
        const DetectorEntry& d = m_detectors[i];
        const double reals[4] = {d.tau1, d.scale1, d.tau2, d.scale2};
        for (int k = 0; k < 4; ++k)
            w.general("Detectorparameter", numbered("Detector ", i, kDetectorKeys[k]), reals[k]);
        w.text("Detectorparameter", numbered("Detector ", i, " Name"), d.defined ? d.name : std::string());
    }
    for (int i = 0; i < 10; ++i) {
        const TriggerModeEntry& t = m_triggerModes[i];
        w.text(S(61279), numbered("TriggerMode ", i), t.inUse ? t.name : std::string());
    }

    w.integer("Interface", "Startup", m_iInterfaceStartup);
    w.text("Comm", "Rescan", m_sRescan);
    w.text(S(61278), S(61262), m_sStartfile);
    for (int i = 0; i < 16; ++i)
        w.text("Output", numbered("Out", i), m_sOutputNames[i]);
    for (int i = 0; i < 16; ++i)
        w.text("Input", numbered("In", i), m_sInputNames[i]);
    w.text("Multimon", "Rescan", m_sMultimonRescan);
    w.text("Multimon", "Radius", m_sMultimonRadius);
    w.integer("Export", "Setting", m_iExportSetting);
    w.text("Service", S(61271), m_sCompanyAddress);
    w.text("Service", S(61272), m_sServiceTechnician);

    w.unsignedValue(S(61275), S(61273), m_ulCommandNo);
    w.unsignedValue(S(61275), S(61274), m_ulFileNo);
    w.integer(S(61275), S(61276), m_iProtocol);
    w.general(S(61277), "Offset", static_cast<double>(m_lOffsetThousandths) / 1000.0);

    w.integer("Comm", "Set Parity", m_bSetParity);
    w.integer("Comm", "USB-To-Serial Bridge", m_bUsbToSerialBridge);
    w.text("Comm", "Device Address", m_sDeviceAddress);
    w.integer("Comm", "Data_Transfer_Mode", m_iDataTransferMode);
    w.general("EC Power", "Deviation Limit", m_dDeviationLimit);
    w.integer("Setup", "Interval", m_iInterval);
    w.integer("Setup", "Average period", m_iAveragePeriod);
    w.integer("Setup", "time of thermalization", m_iThermalizationTime);
    w.integer("Setup", "History days", m_iHistoryDays);
    w.integer("Open Shutter", "Use SPS", m_bUseSps);
    w.integer("Open Shutter", "Input1", m_iInput1);
    w.integer("Open Shutter", "Input2", m_iInput2);
    w.integer("Open Shutter", "Output1", m_iOutput1);
    w.integer("Open Shutter", "Output2", m_iOutput2);
    w.integer("Open Shutter", "Target Address", m_iTargetAddress);

    w.integer("Modbus", "Enabled", m_bModbusEnabled);
    w.text("Modbus", "Bind", m_sModbusBind);
    w.integer("Modbus", "Port", m_iModbusPort);
    w.integer("Modbus", "UnitId", m_iModbusUnitId);
    w.integer("Modbus", "AcceptCommands", m_bModbusAcceptCommands);
    w.integer("Modbus", "MaxClients", m_iModbusMaxClients);
    w.text("Modbus", "AllowFrom", m_sModbusAllowFrom);
    w.integer("SCPI", "Enabled", m_bScpiEnabled);
    w.text("SCPI", "Bind", m_sScpiBind);
    w.integer("SCPI", "Port", m_iScpiPort);
    w.integer("SCPI", "AcceptCommands", m_bScpiAcceptCommands);
    w.integer("SCPI", "MaxClients", m_iScpiMaxClients);
    w.text("SCPI", "AllowFrom", m_sScpiAllowFrom);
    w.integer("SCPI", "IdleSeconds", m_iScpiIdleSeconds);
    w.integer("MQTT", "Enabled", m_bMqttEnabled);
    w.text("MQTT", "Host", m_sMqttHost);
    w.integer("MQTT", "Port", m_iMqttPort);
    w.text("MQTT", "Station", m_sMqttStation);
    w.text("MQTT", "TopicPrefix", m_sMqttTopicPrefix);
    w.text("MQTT", "Username", m_sMqttUsername);
    w.text("MQTT", "Password", m_sMqttPassword);
    w.integer("MQTT", "TLS", m_bMqttTls);
    w.text("MQTT", "CAFile", m_sMqttCaFile);
    w.integer("MQTT", "QoS", m_iMqttQos);
    w.integer("MQTT", "AcceptCommands", m_bMqttAcceptCommands);
    w.integer("MQTT", "KeepAlive", m_iMqttKeepAlive);
    w.integer("MQTT", "QueueLimit", m_iMqttQueueLimit);
}

} // namespace bv
