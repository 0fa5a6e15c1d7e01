#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>

#include "control/Device.h"
#include "data/CBrivaneDoc.h"
#include "devices/MeterModel.h"
#include "devices/MeterPrograms.h"
#include "link/ZelmorUSB.h"
#include "platform/DataSource.h"

namespace bv {

class IPrompt;
class ProgramSettings;

// Shutter states as the device and the window know them.
enum ShutterState : int32_t {
    kShutterOpen = 0,
    kShutterClosed = 1,
    kShutterError = 2,
    kShutterNone = 3,
    kShutterUnknown = 4,
};

// Whether a meter answered: Searching until the first identification ends.
enum class MeterPresence { Searching, Found, NotFound };

// The calorimetric power meter on the bus (plain, EC and Compact models): its
// identification, shutter and measuring programs and its measurement store.
// Construction does no I/O. It owns the USB link (handed over with
// SetUsbLink); the link selection tells it which link its commands take.
class CPowerMeter final : public CDevice {
public:
    static constexpr int kTypeCode = 1;
    static constexpr int kMenuResource = 106;
    static constexpr int kBitmapResource = 103;
    static constexpr double kDefaultFlowMinimum = 4.0;

    CPowerMeter(CScheduler& scheduler, IPrompt& prompt, ProgramSettings& settings);
    ~CPowerMeter() override;

    // Nothing if it already runs.
    void StartIdentification();
    void OpenShutter();
    void CloseShutter();
    // run 0
    // lets the running cycle finish and then ends the program, whatever it
    // runs. A running single reading turns into the measurement asked for,
    // continuous measuring into the calibration; a calibration never into
    // anything else. False when refused (no meter, another mode runs, the
    // operator cancelled the shutter question).
    bool StartMeasuring(MeasuringMode mode, int run);
    // Starts again a measurement that a lost link ended, as it ran: the
    // operator who confirmed an unknown shutter for it is not asked again.
    void ResumeMeasuring(MeasuringMode mode);

    bool WriteProtocolLine(std::FILE* file, int a, int b) override;
    // Nothing is recorded in the data source: opening it is the whole check.
    bool WriteProtocolRecord(IDataSource& database, int a, int b) override;

    // Replaces the USB link (the previous one is closed by its destructor).
    void SetUsbLink(std::unique_ptr<ZelmorUSBCRC> link);
    ZelmorUSBCRC* UsbLink() const { return m_pUsb.get(); }

    // Wall time the store stamps its points with; their protocol lines and
    // every other output take that one stamp.
    void SetWallClock(std::function<std::time_t()> clock)
    {
        m_wallClock = clock;
        m_Doc.SetWallClock([clock] { return static_cast<int64_t>(clock()) * 1000; });
    }

    std::time_t WallTime() const { return m_wallClock ? m_wallClock() : std::time(nullptr); }

    // The identified model (plain until the identification tells otherwise).
    MeterKind Kind() const { return m_model->kind; }
    const MeterModelTraits& Model() const { return *m_model; }
    void SetModel(MeterKind kind) { m_model = &meterModel(kind); }

    // What runs, kept here alone: set the moment a start takes effect,
    // cleared when the program ends. The window, the CLI, the plant link and
    // the watchdog all read it.
    bool MeasuringActive() const { return m_bMeasuringActive != 0; }
    bool CalibrationRunning() const { return m_bEcProtocol != 0; }
    // Either of them: the readings are watched.
    bool Measuring() const { return MeasuringActive() || CalibrationRunning(); }
    // From the measuring program: its run in mode took effect (on) or ended.
    void RunChanged(MeasuringMode mode, bool on);

    MeterPresence Presence() const { return m_presence; }
    // From the identification's end. Found also means the model and its
    // limits (flow minimum, shutter check) are the meter's own.
    void IdentificationOutcome(bool answered);
    bool LimitsKnown() const { return m_bLimitsKnown; }

    ProgramSettings& Settings() const { return m_settings; }
    CBrivaneDoc& Store() { return m_Doc; }
    const CBrivaneDoc& Store() const { return m_Doc; }

    int32_t m_iShutterState = kShutterUnknown;
    double m_dZeroOffset = 0.0;  // W

private:
    ProgramSettings& m_settings;

public:
    CShutterProgram m_ShutterProgram;
    CIdentification m_Identification;
    CBrivaneDoc m_Doc;
    CMeasuringProgram m_Measuring;
    void setCycleInterval(int ms) { m_iCycleInterval = ms; }
    int32_t m_iCycleInterval;  // ms from one "ql" to the next
    // Seconds (cycles of 1 s) a calibration averages over after thermalizing.
    int32_t m_iCalibrationAverage = 10;
    uint8_t m_bUnknownShutterConfirmed = 0;
    uint8_t m_bMeasuringActive = 0;  // continuous measuring runs (RunChanged)
    uint8_t m_bEcProtocol = 0;       // a calibration runs (RunChanged)
    double m_dFlowMin = kDefaultFlowMinimum;  // l/min
    int32_t m_bType34 = 0;

private:
    bool beginMeasuring(MeasuringMode mode, int run, bool freshAverage);

    MeterPresence m_presence = MeterPresence::Searching;
    // Its row of the model table: plain until the identification tells otherwise.
    const MeterModelTraits* m_model = &meterModel(MeterKind::Plain);
    // Once identified, a later failed identification (a lost link) keeps them.
    bool m_bLimitsKnown = false;

    std::unique_ptr<ZelmorUSBCRC> m_pUsb;
    OdbcDataSourceFactory m_dataSources;
    std::function<std::time_t()> m_wallClock;
};

} // namespace bv
