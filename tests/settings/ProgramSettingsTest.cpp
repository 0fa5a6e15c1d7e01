#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "settings/ProgramSettings.h"
#include "platform/Profile.h"
#include "res/StringTable.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "tests/settings/ProfileFilesDouble.h"

#include <sys/stat.h>
#include <unistd.h>

namespace bv {
namespace {

using test::readFile;
using test::writeFile;

namespace fs = std::filesystem;

const char* const kIni = "BrivaneSoftware.ini";
const std::string kNotWritable =
    "The *.ini file cannot be written!\nCheck if this file is write-protected .";

void expectSameSettings(const ProgramSettings& a, const ProgramSettings& b)
{
    EXPECT_EQ(a.m_sPort, b.m_sPort);
    EXPECT_EQ(a.m_iHighBaudrate, b.m_iHighBaudrate);
    EXPECT_EQ(a.m_iMaxRate, b.m_iMaxRate);
    EXPECT_EQ(a.m_sRescan, b.m_sRescan);
    EXPECT_EQ(a.m_bSetParity, b.m_bSetParity);
    EXPECT_EQ(a.m_bUsbToSerialBridge, b.m_bUsbToSerialBridge);
    EXPECT_EQ(a.m_sDeviceAddress, b.m_sDeviceAddress);
    EXPECT_EQ(a.m_iDataTransferMode, b.m_iDataTransferMode);
    EXPECT_EQ(a.m_byOwn, b.m_byOwn);
    EXPECT_EQ(a.m_iPrivateMode, b.m_iPrivateMode);
    EXPECT_EQ(a.m_sFileDefault, b.m_sFileDefault);
    EXPECT_EQ(a.m_dWavelength, b.m_dWavelength);
    EXPECT_EQ(a.m_iRotationSpeed, b.m_iRotationSpeed);
    EXPECT_EQ(a.m_iCamerachip, b.m_iCamerachip);
    EXPECT_EQ(a.m_dLaserPower, b.m_dLaserPower);
    EXPECT_EQ(a.m_dFocallength, b.m_dFocallength);
    EXPECT_EQ(a.m_iBeamFindTrigger, b.m_iBeamFindTrigger);
    EXPECT_EQ(a.m_iBeamFindPercent, b.m_iBeamFindPercent);
    EXPECT_EQ(a.m_iFuncExist, b.m_iFuncExist);
    EXPECT_EQ(a.m_iDetectortype, b.m_iDetectortype);
    EXPECT_EQ(a.m_dMechanicalLimits, b.m_dMechanicalLimits);
    EXPECT_EQ(a.m_iAutoscaleon, b.m_iAutoscaleon);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE("detector " + std::to_string(i));
        EXPECT_EQ(a.m_detectors[i].tau1, b.m_detectors[i].tau1);
        EXPECT_EQ(a.m_detectors[i].scale1, b.m_detectors[i].scale1);
        EXPECT_EQ(a.m_detectors[i].tau2, b.m_detectors[i].tau2);
        EXPECT_EQ(a.m_detectors[i].scale2, b.m_detectors[i].scale2);
        EXPECT_EQ(a.m_detectors[i].name, b.m_detectors[i].name);
        EXPECT_EQ(a.m_detectors[i].defined, b.m_detectors[i].defined);
        EXPECT_EQ(a.m_triggerModes[i].name, b.m_triggerModes[i].name);
        EXPECT_EQ(a.m_triggerModes[i].inUse, b.m_triggerModes[i].inUse);
    }
    EXPECT_EQ(a.m_iInterfaceStartup, b.m_iInterfaceStartup);
    EXPECT_EQ(a.m_sStartfile, b.m_sStartfile);
    EXPECT_EQ(a.m_sOutputNames, b.m_sOutputNames);
    EXPECT_EQ(a.m_sInputNames, b.m_sInputNames);
    EXPECT_EQ(a.m_sMultimonRescan, b.m_sMultimonRescan);
    EXPECT_EQ(a.m_sMultimonRadius, b.m_sMultimonRadius);
    EXPECT_EQ(a.m_iExportSetting, b.m_iExportSetting);
    EXPECT_EQ(a.m_sCompanyAddress, b.m_sCompanyAddress);
    EXPECT_EQ(a.m_sServiceTechnician, b.m_sServiceTechnician);
    EXPECT_EQ(a.m_ulCommandNo, b.m_ulCommandNo);
    EXPECT_EQ(a.m_ulFileNo, b.m_ulFileNo);
    EXPECT_EQ(a.m_iProtocol, b.m_iProtocol);
    EXPECT_EQ(a.m_lOffsetThousandths, b.m_lOffsetThousandths);
    EXPECT_EQ(a.m_dDeviationLimit, b.m_dDeviationLimit);
    EXPECT_EQ(a.m_iInterval, b.m_iInterval);
    EXPECT_EQ(a.m_iAveragePeriod, b.m_iAveragePeriod);
    EXPECT_EQ(a.m_iThermalizationTime, b.m_iThermalizationTime);
    EXPECT_EQ(a.m_bUseSps, b.m_bUseSps);
    EXPECT_EQ(a.m_iInput1, b.m_iInput1);
    EXPECT_EQ(a.m_iInput2, b.m_iInput2);
    EXPECT_EQ(a.m_iOutput1, b.m_iOutput1);
    EXPECT_EQ(a.m_iOutput2, b.m_iOutput2);
    EXPECT_EQ(a.m_iTargetAddress, b.m_iTargetAddress);
}

class ProgramSettingsTest : public ::testing::Test {
protected:
    ProgramSettingsTest() { settings.m_sProgramDir = dir.path(); }

    // A version-15 file with the given lines below its version section.
    void writeIni(const std::string& body) { writeFile(path, "[Version]\nno=15\n" + body); }
    ProfileDocument written() const { return ProfileDocument(readFile(path)); }
    std::string value(const std::string& section, const std::string& key) const
    {
        return written().getString(section, key, "<absent>", 1000);
    }

    test::TempDir dir;
    std::string path = dir.file(kIni);
    test::ScriptedPrompt prompt;
    ProgramSettings settings;
    const ProgramSettings initial;
};

TEST_F(ProgramSettingsTest, NoFileGivesTheFullDefaultFile)
{
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_EQ(settings.m_strPath, path);
    expectSameSettings(settings, initial);

    const std::string text = readFile(path);
    EXPECT_EQ(text.rfind("[Version]\nno=15\n[Window]\nleft=0\ntop=0\nright=600\nbottom=400\n", 0), 0u);
    EXPECT_EQ(text.find("MaxRate"), std::string::npos);
    EXPECT_EQ(value("Comm", "Rescan"), "161,168,144,145,192,112,113,80");
    EXPECT_EQ(value("Comm", "Port"), "com1");
    EXPECT_EQ(value("Comm", "Set Parity"), "1");
    EXPECT_EQ(value("Comm", "Device Address"), "113");
    EXPECT_EQ(value("Comm", "Data_Transfer_Mode"), "2");
    EXPECT_EQ(value("Address", "Own"), "64");
    EXPECT_EQ(value("Laser", "FuncExist"), "0");
    EXPECT_EQ(value("Laser", "Wavelength"), "0.01060000");
    EXPECT_EQ(value("Laser", "LaserPower"), "6000.00000000");
    EXPECT_EQ(value("Laser", "MechanicalLimitsZ2"), "35.00000000");
    EXPECT_EQ(value("CarriageConstant", "Offset"), "20.632");
    EXPECT_EQ(value("Detectorparameter", "Detector 0 Scale1"), "-0.1");
    EXPECT_EQ(value("Detectorparameter", "Detector 2 Scale2"), "-0.12");
    EXPECT_EQ(value("Detectorparameter", "Detector 0 Name"), strings::text(61221));
    EXPECT_EQ(value("Detectorparameter", "Detector 4 Tau1"), "0");
    EXPECT_EQ(value("Detectorparameter", "Detector 4 Name"), "");
    EXPECT_EQ(value("Trigger_modi", "TriggerMode 0"), "CW-Trigger");
    EXPECT_EQ(value("Trigger_modi", "TriggerMode 8"), "Triggered operation with exposure time");
    EXPECT_EQ(value("Trigger_modi", "TriggerMode 9"), "");
    EXPECT_EQ(value("Script", "Startfile"), "");
    EXPECT_EQ(value("Output", "Out15"), "Port 15");
    EXPECT_EQ(value("Input", "In0"), "Port 0");
    EXPECT_EQ(value("Multimon", "Radius"), "1.");
    EXPECT_EQ(value("BusProtocol", "Command_No"), "0");
    EXPECT_EQ(value("BusProtocol", "File_No"), "1");
    EXPECT_EQ(value("BusProtocol", "Protocol"), "0");
    EXPECT_EQ(value("EC Power", "Deviation Limit"), "1.5");
    EXPECT_EQ(value("Setup", "Interval"), "1000");
    EXPECT_EQ(value("Setup", "Average period"), "30");
    EXPECT_EQ(value("Setup", "time of thermalization"), "60");
    EXPECT_EQ(value("Open Shutter", "Target Address"), "0");
}

// A file an operator wrote by hand without the version line is kept beside
// the new one, and the operator is told so once.
TEST_F(ProgramSettingsTest, OutdatedFileIsReplacedByDefaultsAndKept)
{
    for (const std::string& old : {std::string("[Version]\nno=14\n[Comm]\nPort=com7\n"),
                                   std::string("[Comm]\nPort=com7\n[MQTT]\nEnabled=1\nPassword=x\n")}) {
        SCOPED_TRACE(old);
        writeFile(path, old);
        prompt.shown.clear();
        ProgramSettings s;
        s.m_sProgramDir = dir.path();
        ASSERT_EQ(s.Open(kIni, prompt), 1);
        EXPECT_EQ(readFile(path + ".replaced"), old);
        EXPECT_EQ(fs::status(path + ".replaced").permissions() & (fs::perms::group_all | fs::perms::others_all),
                  fs::perms::none);
        ASSERT_EQ(prompt.shown.size(), 1u);
        EXPECT_NE(prompt.shown[0].text.find(path + ".replaced"), std::string::npos) << prompt.shown[0].text;
        ProgramSettings again;
        again.m_sProgramDir = dir.path();
        ASSERT_EQ(again.Open(kIni, prompt), 1);
        EXPECT_EQ(prompt.shown.size(), 1u);
        EXPECT_EQ(s.m_sPort, "com1");
        EXPECT_EQ(s.m_iInterval, 1000);
        EXPECT_EQ(s.m_rcWindow.right, 600);
        EXPECT_EQ(value("Version", "no"), "15");
        EXPECT_EQ(value("Comm", "Port"), "com1");
    }
}

TEST_F(ProgramSettingsTest, WriteProtectedFileOfAnotherVersionIsLeftAlone)
{
    writeFile(path, "[Version]\nno=14\n[Comm]\nPort=com7\n");
    test::WriteProtectedFiles files;
    settings.setProfileFiles(files);

    EXPECT_EQ(settings.Open(kIni, prompt), 0);
    ASSERT_EQ(prompt.shown.size(), 2u);
    for (const auto& shown : prompt.shown) {
        EXPECT_EQ(shown.text, kNotWritable);
        EXPECT_EQ(shown.icon, PromptIcon::Exclamation);
    }
    EXPECT_EQ(settings.m_sPort, "com1");
    EXPECT_EQ(readFile(path), "[Version]\nno=14\n[Comm]\nPort=com7\n");
}

TEST_F(ProgramSettingsTest, WriteProtectedFileOfThisVersionIsLoaded)
{
    writeIni("[Comm]\nPort=com7\n");
    test::WriteProtectedFiles files;
    settings.setProfileFiles(files);

    EXPECT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(prompt.texts(), std::vector<std::string>{kNotWritable});
    EXPECT_EQ(settings.m_sPort, "com7");
    EXPECT_EQ(settings.WriteAll(), 0);  // the failure is reported, not hidden
    EXPECT_EQ(settings.Save(), 0);
    EXPECT_EQ(readFile(path), "[Version]\nno=15\n[Comm]\nPort=com7\n");
}

TEST_F(ProgramSettingsTest, ProfileFilesSurviveAReset)
{
    test::WriteProtectedFiles files;
    settings.setProfileFiles(files);
    settings.ResetToInitial();
    writeIni("");
    settings.Open(kIni, prompt);
    EXPECT_EQ(files.writeTests, 1);
}

TEST_F(ProgramSettingsTest, RescanMissingGivesShortListEmptyKeepsCurrent)
{
    writeIni("[Comm]\nPort=com2\n");
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(settings.m_sRescan, "160,144,161");

    ProgramSettings other;
    other.m_sProgramDir = dir.path();
    writeIni("[Comm]\nRescan=\n");
    ASSERT_EQ(other.Open(kIni, prompt), 1);
    EXPECT_EQ(other.m_sRescan, "161,168,144,145,192,112,113,80");
}

TEST_F(ProgramSettingsTest, MissingKeysTakeTheirFixedDefaultsOthersStayUnchanged)
{
    writeIni("[Comm]\nPort=\n");
    settings.m_iInterval = 777;
    settings.m_sDeviceAddress = "99";
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(settings.m_iFuncExist, 1);
    EXPECT_EQ(settings.m_sPort, "");  // fixed-default text keys take even an empty value
    EXPECT_EQ(settings.m_lOffsetThousandths, 1000);
    EXPECT_EQ(settings.m_ulFileNo, 1ul);
    EXPECT_EQ(settings.m_iMaxRate, 115000);
    EXPECT_EQ(settings.m_iInterval, 777);
    EXPECT_EQ(settings.m_sDeviceAddress, "99");
    EXPECT_EQ(settings.m_rcWindow.right, 0);  // absent window keys read 0
    // Every trigger mode is in use after a load; a missing name keeps the current one.
    EXPECT_TRUE(settings.m_triggerModes[9].inUse);
    EXPECT_EQ(settings.m_triggerModes[9].name, "Noname");
    // Detectors without keys are not defined and have no name.
    EXPECT_FALSE(settings.m_detectors[0].defined);
    EXPECT_EQ(settings.m_detectors[0].name, "");
    EXPECT_EQ(settings.m_detectors[0].tau2, 0.0);
}

TEST_F(ProgramSettingsTest, OneByteValuesFlagsAndThousandths)
{
    writeIni("[Address]\nOwn=300\n"
             "[Comm]\nSet Parity=7\n"
             "[Open Shutter]\nUse SPS=-3\n"
             "[CarriageConstant]\nOffset=1.2345\n");
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(settings.m_byOwn, 44);
    EXPECT_EQ(settings.m_bSetParity, 1);
    EXPECT_EQ(settings.m_bUseSps, 1);
    EXPECT_EQ(settings.m_lOffsetThousandths, 1234);
    EXPECT_DOUBLE_EQ(settings.m_dOffset, 1.2345);

    ASSERT_EQ(settings.WriteAll(), 1);
    EXPECT_EQ(value("Address", "Own"), "44");
    EXPECT_EQ(value("Comm", "Set Parity"), "1");
    EXPECT_EQ(value("Open Shutter", "Use SPS"), "1");
    // What is held goes back: the fraction of a thousandth is gone.
    EXPECT_EQ(value("CarriageConstant", "Offset"), "1.234");
}

TEST_F(ProgramSettingsTest, OffsetThousandthsAreThoseOfTheTextAndGoBackAsHeld)
{
    // 2.01 * 1000 is 2009.999... and 4.35 * 1000 is 4349.999...; 1.0009999
    // is cut, not rounded up.
    const struct {
        const char* text;
        long held;
        const char* written;
    } cases[] = {{"2.01", 2010, "2.01"}, {"-2.01", -2010, "-2.01"}, {"4.35", 4350, "4.35"},
                 {"1.2345", 1234, "1.234"}, {"1.0009999", 1000, "1"}, {"-1.2345", -1234, "-1.234"}};
    for (const auto& c : cases) {
        writeIni(std::string("[CarriageConstant]\nOffset=") + c.text + "\n");
        ASSERT_EQ(settings.Open(kIni, prompt), 1);
        EXPECT_EQ(settings.m_lOffsetThousandths, c.held) << c.text;
        ASSERT_EQ(settings.WriteAll(), 1);
        EXPECT_EQ(value("CarriageConstant", "Offset"), c.written) << c.text;
        ASSERT_EQ(settings.Open(kIni, prompt), 1);
        EXPECT_EQ(settings.m_lOffsetThousandths, c.held) << c.text << " read back";
    }
}

TEST_F(ProgramSettingsTest, IniThatIsAFifoOrADeviceIsNeverReadNorWritten)
{
    // A FIFO would block the start for good; /dev/null would swallow the write-back.
    ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(prompt.texts(), std::vector<std::string>{kNotWritable});
    expectSameSettings(settings, initial);
    EXPECT_EQ(settings.WriteAll(), 0);
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", path.c_str()), 0);
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(prompt.shown.size(), 2u);
    EXPECT_EQ(settings.WriteAll(), 0);
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(ProgramSettingsTest, WritableIniInAFolderThatIsNotIsToldAtTheStart)
{
    writeIni("[Comm]\nPort=ttyS3\n");
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    // Root writes anywhere: the check runs as an ordinary user.
    EXPECT_EXIT(
        {
            if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                std::_Exit(3);
            const bool opened = settings.Open(kIni, prompt) == 1;
            const bool told = prompt.texts() == std::vector<std::string>{kNotWritable};
            const bool refused = settings.WriteAll() == 0;
            std::_Exit(opened && told && refused && settings.m_sPort == "ttyS3" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    ::chmod(dir.path().c_str(), 0700);
}

TEST_F(ProgramSettingsTest, DetectorWithoutTau2IsNotDefinedAndLosesItsName)
{
    writeIni("[Detectorparameter]\n"
             "Detector 5 Tau1=12.5\nDetector 5 Scale1=-0.25\nDetector 5 Scale2=0.5\n"
             "Detector 5 Name=Probe\n"
             "Detector 6 Tau1=1\nDetector 6 Scale1=2\nDetector 6 Tau2=3\nDetector 6 Scale2=4\n"
             "Detector 6 Name=Complete\n");
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    const DetectorEntry& d5 = settings.m_detectors[5];
    EXPECT_FALSE(d5.defined);
    EXPECT_EQ(d5.tau1, 12.5);
    EXPECT_EQ(d5.scale1, -0.25);
    EXPECT_EQ(d5.tau2, 0.0);
    EXPECT_EQ(d5.scale2, 0.5);
    EXPECT_EQ(d5.name, "Probe");
    EXPECT_TRUE(settings.m_detectors[6].defined);

    ASSERT_EQ(settings.Save(), 1);
    EXPECT_EQ(value("Detectorparameter", "Detector 5 Name"), "");
    EXPECT_EQ(value("Detectorparameter", "Detector 5 Tau2"), "0");
    EXPECT_EQ(value("Detectorparameter", "Detector 5 Tau1"), "12.5");
    EXPECT_EQ(value("Detectorparameter", "Detector 6 Name"), "Complete");
}

TEST_F(ProgramSettingsTest, MalformedNumbersReadAsZero)
{
    writeIni("[Address]\nOwn=xyz\n"
             "[Laser]\nWavelength=x1\nRotationSpeed=fast\n"
             "[Setup]\nInterval=abc\nAverage period=12.9\n"
             "[EC Power]\nDeviation Limit=2.5 %\n"
             "[CarriageConstant]\nOffset=none\n"
             "[BusProtocol]\nCommand_No=many\n");
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(settings.m_byOwn, 0);
    EXPECT_EQ(settings.m_dWavelength, 0.0);
    EXPECT_EQ(settings.m_iRotationSpeed, 0);
    EXPECT_EQ(settings.m_iInterval, 1000);  // not a number: the interval in force
    EXPECT_EQ(settings.m_iAveragePeriod, 12);
    EXPECT_EQ(settings.m_dDeviationLimit, 2.5);
    EXPECT_EQ(settings.m_lOffsetThousandths, 0);
    EXPECT_EQ(settings.m_ulCommandNo, 0ul);
}

TEST_F(ProgramSettingsTest, ZeroAndNegativePeriodsLoadAsTheyAre)
{
    writeIni("[Setup]\nAverage period=-5\ntime of thermalization=-0.5\n"
             "[Comm]\nMaxRate=1e30\n");
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(settings.m_iAveragePeriod, -5);
    EXPECT_EQ(settings.m_iThermalizationTime, 0);
    EXPECT_EQ(settings.m_iMaxRate, INT_MAX);
    ASSERT_EQ(settings.WriteAll(), 1);
    EXPECT_EQ(value("Setup", "Average period"), "-5");
}

// 0 or less polled on every beat and "abc" was written back as 0: the interval
// is held to 100 ms .. 1 h, said once, and the value used goes back to the file.
TEST_F(ProgramSettingsTest, IntervalIsHeldToItsRangeSaidOnceAndWrittenBackAsUsed)
{
    const struct {
        const char* text;
        int used;
        bool warned;
    } cases[] = {{"0", 100, true},          {"-1", 100, true},          {"99.9", 100, true},
                 {"abc", 1000, true},       {"3600001", 3600000, true}, {"1e30", 3600000, true},
                 {"100", 100, false},       {"250.7", 250, false},      {"3600000", 3600000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        writeIni(std::string("[Setup]\nInterval=") + c.text + "\n");
        ProgramSettings s;
        s.m_sProgramDir = dir.path();
        ASSERT_EQ(s.Open(kIni, prompt), 1);
        EXPECT_EQ(s.m_iInterval, c.used);
        ASSERT_EQ(s.loadWarnings().size(), c.warned ? 1u : 0u);
        if (c.warned) {
            EXPECT_NE(s.loadWarnings().front().find(std::to_string(c.used) + " ms used"), std::string::npos)
                << s.loadWarnings().front();
        }
        ASSERT_EQ(s.WriteAll(), 1);
        EXPECT_EQ(value("Setup", "Interval"), std::to_string(c.used));
        ASSERT_EQ(s.Load(), 1);
        EXPECT_TRUE(s.loadWarnings().empty());
    }
}

TEST_F(ProgramSettingsTest, LongValuesAreCut)
{
    writeIni("[Script]\nStartfile=" + std::string(300, 's') + "\n[Service]\nCompanyAddress=" +
             std::string(300, 'c') + "\n");
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(settings.m_sStartfile, std::string(198, 's'));
    EXPECT_EQ(settings.m_sCompanyAddress, std::string(99, 'c'));
}

TEST_F(ProgramSettingsTest, RoundTripPreservesEveryValue)
{
    ProgramSettings a;
    a.m_sProgramDir = dir.path();
    a.m_sPort = "/dev/ttyUSB0";
    a.m_iHighBaudrate = 0;
    a.m_sRescan = "1,2,3";
    a.m_bSetParity = 0;
    a.m_bUsbToSerialBridge = 1;
    a.m_sDeviceAddress = "120";
    a.m_iDataTransferMode = 0;
    a.m_byOwn = 200;
    a.m_iPrivateMode = 3;
    a.m_sFileDefault = "C:/data/run.txt";
    a.m_dWavelength = 0.00106;
    a.m_iRotationSpeed = -4;
    a.m_iCamerachip = 2;
    a.m_dLaserPower = 1234.5;
    a.m_dFocallength = 200.25;
    a.m_iBeamFindTrigger = 99;
    a.m_iBeamFindPercent = 12;
    a.m_iFuncExist = 1;
    a.m_iDetectortype = 7;
    a.m_dMechanicalLimits = {1, 2, 3, 4.5, 5, 6};
    a.m_iAutoscaleon = 0;
    for (int i = 0; i < 10; ++i) {
        a.m_detectors[i] = {i + 0.5, -i * 0.25, 100.0 * i, 0.125, "Detector name " + std::to_string(i),
                            true};
        a.m_triggerModes[i] = {"Mode " + std::to_string(i), true};
    }
    a.m_iInterfaceStartup = 1;
    a.m_sStartfile = std::string(198, 'f');
    for (int i = 0; i < 16; ++i) {
        a.m_sOutputNames[i] = "Valve " + std::to_string(i);
        a.m_sInputNames[i] = "Switch " + std::to_string(i);
    }
    a.m_sMultimonRescan = "1";
    a.m_sMultimonRadius = "2.5";
    a.m_iExportSetting = 4;
    a.m_sCompanyAddress = "Somewhere 1";
    a.m_sServiceTechnician = "Someone";
    a.m_ulCommandNo = 4000000000ul;
    a.m_ulFileNo = 8;
    a.m_iProtocol = 1;
    a.m_lOffsetThousandths = -1500;
    a.m_dDeviationLimit = 2.75;
    a.m_iInterval = 250;
    a.m_iAveragePeriod = 1000000;
    a.m_iThermalizationTime = 90;
    a.m_bUseSps = 1;
    a.m_iInput1 = 1;
    a.m_iInput2 = 2;
    a.m_iOutput1 = 3;
    a.m_iOutput2 = 4;
    a.m_iTargetAddress = 32;
    a.m_rcWindow = {10, 20, 830, 640};
    ASSERT_EQ(a.Open(kIni, prompt), 1);  // creates the file
    ASSERT_EQ(a.WriteAll(), 1);

    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    expectSameSettings(settings, a);
    EXPECT_EQ(settings.m_rcWindow.left, 10);
    EXPECT_EQ(settings.m_rcWindow.bottom, 640);
    EXPECT_EQ(settings.m_iMaxRate, 115000);

    const std::string afterFirstLoad = readFile(path);
    ASSERT_EQ(settings.Save(), 1);
    EXPECT_EQ(readFile(path), afterFirstLoad);
    ProgramSettings again;
    again.m_sProgramDir = dir.path();
    ASSERT_EQ(again.Open(kIni, prompt), 1);
    expectSameSettings(again, settings);
    EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(ProgramSettingsTest, ForeignKeysCommentsAndLineEndingsSurviveASave)
{
    writeFile(path, "; kept\r\n[Version]\r\nno=15\r\n[Comm]\r\nMaxRate=9600.7\r\nPort=com3\r\n"
                    "[Other Program]\r\nkey=value\r\n");
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(settings.m_iMaxRate, 9600);
    EXPECT_EQ(settings.m_sPort, "com3");
    settings.m_sPort = "com4";
    ASSERT_EQ(settings.WriteAll(), 1);

    const std::string text = readFile(path);
    EXPECT_EQ(text.rfind("; kept\r\n[Version]\r\nno=15\r\n", 0), 0u);
    EXPECT_NE(text.find("[Comm]\r\nMaxRate=9600.7\r\nPort=com4\r\n"), std::string::npos);
    EXPECT_NE(text.find("[Other Program]\r\nkey=value\r\n"), std::string::npos);
    EXPECT_EQ(text.find("=\n"), std::string::npos);  // no bare LF line was added
}

TEST_F(ProgramSettingsTest, SectionAndKeyNamesComeFromTheStringTable)
{
    strings::setOverrides({{61251, "Adresse"}, {61277, "Wagenkonstante"}});
    writeIni("[Adresse]\nOwn=65\n[Address]\nOwn=66\n");
    const int opened = settings.Open(kIni, prompt);
    settings.WriteAll();
    const ProfileDocument doc = written();
    strings::setOverrides({});

    ASSERT_EQ(opened, 1);
    EXPECT_EQ(settings.m_byOwn, 65);
    EXPECT_EQ(doc.getString("Wagenkonstante", "Offset", "", 100), "1");  // absent: read as 1
    EXPECT_EQ(doc.getString("CarriageConstant", "Offset", "<absent>", 100), "<absent>");
}

TEST_F(ProgramSettingsTest, UnwritableDirectoryLeavesInitialValuesInForce)
{
    settings.m_sProgramDir = dir.file("missing");
    EXPECT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_TRUE(prompt.shown.empty());
    expectSameSettings(settings, initial);
}

// The broker's password is never readable by other users through a file this
// program made or first wrote it into; a file that already holds it readable
// by others is told once at the start and otherwise left as its owner set it.
TEST_F(ProgramSettingsTest, AFileWithThePasswordIsKeptFromOtherUsers)
{
    const mode_t oldMask = ::umask(022);
    auto mode = [](const std::string& file) {
        struct stat st {};
        return ::stat(file.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000u;
    };
    settings.m_sMqttPassword = "s3cret";
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(value("MQTT", "Password"), "s3cret");
    EXPECT_EQ(mode(path), 0600u);

    // Made without one, the password added later: the same.
    ProgramSettings plain;
    plain.m_sProgramDir = dir.path();
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(plain.Open(kIni, prompt), 1);
    EXPECT_EQ(mode(path), 0644u);
    plain.m_sMqttPassword = "later";
    ASSERT_EQ(plain.Save(), 1);
    EXPECT_EQ(mode(path), 0600u);
    EXPECT_TRUE(prompt.shown.empty());

    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    ProgramSettings again;
    again.m_sProgramDir = dir.path();
    ASSERT_EQ(again.Open(kIni, prompt), 1);
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].text, strings::fill(strings::text(61470), {path}));
    ASSERT_EQ(again.Save(), 1);
    EXPECT_EQ(mode(path), 0644u);
    EXPECT_EQ(prompt.shown.size(), 1u);
    ::umask(oldMask);
}

// The bus takes the address's low byte as it always did, but not silently.
TEST_F(ProgramSettingsTest, ADeviceAddressBeyondAByteIsTold)
{
    writeIni("[Comm]\nDevice Address=999\n");
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    EXPECT_EQ(settings.m_sDeviceAddress, "999");
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].text,
              "Device Address=999 in the settings is no bus address (0 to 255): 231 is used.");
    for (const char* fine : {"0", "113", "255"}) {
        writeIni(std::string("[Comm]\nDevice Address=") + fine + "\n");
        ASSERT_EQ(settings.Open(kIni, prompt), 1);
    }
    writeIni("[Comm]\nDevice Address=-1\n");
    ASSERT_EQ(settings.Open(kIni, prompt), 1);
    ASSERT_EQ(prompt.shown.size(), 2u);
    EXPECT_NE(prompt.shown[1].text.find(": 255 is used"), std::string::npos);
}

} // namespace
} // namespace bv
