#pragma once
#include <array>
#include <functional>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/LinkMode.h"

namespace bv {

class IPrompt;
class IProfileFiles;
class ProfileDocument;

// Base of the settings object: the file's path and the (kept) window rectangle.
class SettingsFile {
public:
    struct Rect {
        int left = 0, top = 0, right = 600, bottom = 400;
    };

    virtual ~SettingsFile() = default;
    virtual int Load() = 0;
    virtual int Save() = 0;
    virtual int Unused1(int) { return 0; }
    virtual int Unused2() { return 0; }
    virtual int Version() const = 0;

    std::string m_strPath;
    Rect m_rcWindow;
};

struct DetectorEntry {
    double tau1 = 0, scale1 = 0, tau2 = 0, scale2 = 0;
    std::string name;
    bool defined = false;
};

struct TriggerModeEntry {
    std::string name;
    bool inUse = false;
};

// Every key of "BrivaneSoftware.ini", held in memory for the whole run. Other
// parts of the program read and change the members directly; only Open and
// WriteAll touch the file.
class ProgramSettings : public SettingsFile {
public:
    ProgramSettings();  // initial values of every key

    // The one settings object of the program.
    static ProgramSettings& Instance();

    // Builds the path from the program directory, creates, version-checks and
    // loads the file. Returns 1 when the settings may be written back.
    int Open(const std::string& fileName, IPrompt& prompt);
    // 1 when the file was written, 0 (logged) when it could not be.
    int WriteAll();
    int Load() override;
    int Save() override;
    int Version() const override { return 15; }

    // Restores every member to its initial value (tests, and a fresh start).
    void ResetToInitial();

    // The file operations behind the ini file: the real file system unless
    // a test puts in others. Kept by ResetToInitial.
    void setProfileFiles(IProfileFiles& files) { m_pFiles = &files; }

    std::string m_sProgramDir;  // without a trailing separator

    // The measuring interval in milliseconds: the file's value is held to this range.
    static constexpr int kIntervalMinMs = 100;
    static constexpr int kIntervalMaxMs = 3600000;
    // What the last load had to put right in the file's values, one line each
    // (logged as well); written back as corrected.
    const std::vector<std::string>& loadWarnings() const { return m_loadWarnings; }

private:
    struct Blank {};
    explicit ProgramSettings(Blank) {}

    IProfileFiles& files() const;
    void loadFrom(const ProfileDocument& document);
    // Takes the file's text of the interval, held to its range.
    void readInterval(const std::string& text);
    void saveTo(ProfileDocument& document) const;
    // Reads the file, lets fill change it, writes it back; false when it could not.
    bool rewrite(const char* operation, const std::function<void(ProfileDocument&)>& fill);

    IProfileFiles* m_pFiles = nullptr;
    std::vector<std::string> m_loadWarnings;

public:

    // "Comm"
    std::string m_sPort = "com1";
    int m_iHighBaudrate = 1;
    int m_iMaxRate = 115000;            // read, never written
    std::string m_sRescan = "161,168,144,145,192,112,113,80";
    int m_bSetParity = 1;               // any non-zero reads as 1
    int m_bUsbToSerialBridge = 0;
    std::string m_sDeviceAddress = "113";
    int m_iDataTransferMode = kLinkUsb;  // LinkMode

    // "Address"
    uint8_t m_byOwn = 64;
    // "Private"
    int m_iPrivateMode = 0;
    // "File"
    std::string m_sFileDefault;

    // "Laser"
    double m_dWavelength = 0.0106;
    int m_iRotationSpeed = 0;
    int m_iCamerachip = 0;
    double m_dLaserPower = 6000;
    double m_dFocallength = 127;
    int m_iBeamFindTrigger = 150;
    int m_iBeamFindPercent = 35;
    int m_iFuncExist = 0;               // wake-up bytes before frames to 192 and 144
    int m_iDetectortype = 0;
    std::array<double, 6> m_dMechanicalLimits{8, 0, 8, 15, 8, 35};  // Y0 Z0 Y1 Z1 Y2 Z2
    int m_iAutoscaleon = 1;

    std::array<DetectorEntry, 10> m_detectors;
    std::array<TriggerModeEntry, 10> m_triggerModes;

    int m_iInterfaceStartup = 0;
    std::string m_sStartfile;
    std::array<std::string, 16> m_sOutputNames;
    std::array<std::string, 16> m_sInputNames;
    std::string m_sMultimonRescan = "32,33,128";
    std::string m_sMultimonRadius = "1.";
    int m_iExportSetting = 0;
    std::string m_sCompanyAddress;
    std::string m_sServiceTechnician;

    // "BusProtocol": program-wide counters and switch of the bus traffic log.
    unsigned long m_ulCommandNo = 0;
    unsigned long m_ulFileNo = 1;
    int m_iProtocol = 0;

    // "CarriageConstant": held as whole thousandths.
    long m_lOffsetThousandths = 20632;
    double m_dOffset = 20.632;

    // "EC Power"
    double m_dDeviationLimit = 1.5;
    // "Setup": the averaging times may be 0 or negative in a file; every user
    // guards its division. The interval is held to kIntervalMinMs..kIntervalMaxMs.
    int m_iInterval = 1000;
    int m_iAveragePeriod = 30;
    int m_iHistoryDays = 30;  // stored points kept this long; 0: no history
    int m_iThermalizationTime = 60;

    // "Open Shutter"
    int m_bUseSps = 0;
    int m_iInput1 = 0, m_iInput2 = 0, m_iOutput1 = 0, m_iOutput2 = 0;
    int m_iTargetAddress = 0;

    // "MQTT": the plant link, off unless enabled.
    // "Modbus": the Modbus TCP server for the cell's PLC.
    int m_bModbusEnabled = 0;
    std::string m_sModbusBind = "127.0.0.1";
    int m_iModbusPort = 1502;
    int m_iModbusUnitId = 1;
    int m_bModbusAcceptCommands = 0;
    int m_iModbusMaxClients = 8;
    std::string m_sModbusAllowFrom;
    // "SCPI": SCPI over TCP for lab automation.
    int m_bScpiEnabled = 0;
    std::string m_sScpiBind = "127.0.0.1";
    int m_iScpiPort = 5025;
    int m_bScpiAcceptCommands = 0;
    int m_iScpiMaxClients = 4;
    std::string m_sScpiAllowFrom;
    int m_iScpiIdleSeconds = 600;
    int m_bMqttEnabled = 0;
    std::string m_sMqttHost = "localhost";
    int m_iMqttPort = 1883;
    std::string m_sMqttStation;  // empty: the host name
    std::string m_sMqttTopicPrefix = "brivane";
    std::string m_sMqttUsername;
    std::string m_sMqttPassword;  // never logged
    int m_bMqttTls = 0;
    std::string m_sMqttCaFile;
    int m_iMqttQos = 1;
    int m_bMqttAcceptCommands = 0;
    int m_iMqttKeepAlive = 30;      // seconds
    int m_iMqttQueueLimit = 10000;  // messages kept while the broker is away
};

} // namespace bv
