#pragma once
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <string>
#include <vector>

#include "data/MeasurePoint.h"
#include "devices/Alarms.h"
#include "ui/MainPanels.h"
#include "ui/StatusLogic.h"

class QDialog;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace bv {

class CBrivaneDoc;
class CPowerMeter;
class ProgramSettings;
class StatusList;

// The status list and what the window decides from the device's state: the
// alarm, the thermalization countdown and the shutter button. The active
// alarms stay pinned above the list however many lines go by, and every
// change goes into the alarm log.
class CStatusPanel : public QObject, public IAlarmListener {
    Q_OBJECT
public:
    CStatusPanel(CPowerMeter& device, CBrivaneDoc& doc, ProgramSettings& settings, IPanelHost& host,
                 QObject* parent);
    ~CStatusPanel() override;

    // The core's alarm states; null detaches.
    void setAlarmMonitor(AlarmMonitor* alarms);
    void OnAlarm(const AlarmChange& change) override;

    struct AlarmLogEntry {
        int64_t wallMs;
        AlarmKind kind;
        bool raised;
    };
    const std::vector<AlarmLogEntry>& alarmLog() const { return m_alarmLog; }
    // The pinned lines: each active alarm ("No flow - since 14:02:11"), and
    // each cleared one until the operator acknowledges it.
    QStringList pinnedAlarms() const;
    void acknowledgeAlarms();
    QWidget* alarmBanner() const { return m_bannerBox; }
    QPushButton* acknowledgeButton() const { return m_ack; }
    // The log as a window of its own, made on first use, kept up to date.
    void showAlarmLog(QWidget* parent);
    QTreeWidget* alarmLogView() const;
    static QString alarmTitle(AlarmKind kind);

    // A newest point: the status line and the alarm, if it takes part.
    void OnNewestPoint(const MeasurePoint& newest);
    void AddErrorMessage(const std::string& text, int kind);

    std::string shutterButtonText() const;
    bool shutterButtonEnabled() const;
    status::ShutterAction shutterAction() const;

    bool alarmShown() const { return m_bAlarmShown != 0; }
    const std::string& alarmText() const { return m_sAlarmText; }
    int thermalizationShown() const { return m_iThermalizationShown; }
    StatusList* statusList() const { return m_statusList; }

private:
    void statusUpdate(const MeasurePoint& newest);
    void showPinned();
    void fillLogView();

    AlarmMonitor* m_alarms = nullptr;
    struct Pinned {
        int64_t raisedAt = 0;   // 0: not pinned
        int64_t clearedAt = 0;  // 0: still active
    };
    Pinned m_pinned[kAlarmKinds];
    QWidget* m_bannerBox = nullptr;
    QPushButton* m_ack = nullptr;
    std::vector<AlarmLogEntry> m_alarmLog;
    QLabel* m_banner = nullptr;
    QPointer<QDialog> m_logWindow;
    QTreeWidget* m_logView = nullptr;

    CPowerMeter& m_device;
    CBrivaneDoc& m_doc;
    ProgramSettings& m_settings;
    IPanelHost& m_host;
    uint8_t m_bAlarmShown = 0;
    std::string m_sAlarmText;
    int32_t m_iThermalizationShown = -1;
    StatusList* m_statusList = nullptr;
};

} // namespace bv
