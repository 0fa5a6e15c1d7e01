#pragma once
#include <QObject>
#include <cstdint>
#include <string>

#include "data/MeasurePoint.h"
#include "ui/MainPanels.h"
#include "ui/StatusLogic.h"

namespace bv {

class CBrivaneDoc;
class CPowerMeter;
class ProgramSettings;
class StatusList;

// The status list and what the window decides from the device's state: the
// alarm, the thermalization countdown and the shutter button.
class CStatusPanel : public QObject {
    Q_OBJECT
public:
    CStatusPanel(CPowerMeter& device, CBrivaneDoc& doc, ProgramSettings& settings, IPanelHost& host,
                 QObject* parent);

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
