#include "ui/StatusPanel.h"

#include "data/CBrivaneDoc.h"
#include "devices/PowerMeter.h"
#include "settings/ProgramSettings.h"
#include "ui/CBrivaneMain.h"
#include "ui/StatusList.h"

namespace bv {

CStatusPanel::CStatusPanel(CPowerMeter& device, CBrivaneDoc& doc, ProgramSettings& settings, IPanelHost& host,
                           QObject* parent)
    : QObject(parent), m_device(device), m_doc(doc), m_settings(settings), m_host(host)
{
    m_statusList = new StatusList;
    panel::tag(m_statusList, CBrivaneMain::kIdStatusList, "statusList");
    m_statusList->setMinimumHeight(120);
}

void CStatusPanel::OnNewestPoint(const MeasurePoint& newest)
{
    if (status::takesPart(newest))
        statusUpdate(newest);
}

void CStatusPanel::statusUpdate(const MeasurePoint& newest)
{
    const status::Outcome outcome = status::evaluate(newest, status::viewOf(m_device));
    // Not judged yet: the identification's end judges it again.
    if (outcome.message.empty())
        return;
    m_bAlarmShown = outcome.alarmShown ? 1 : 0;
    if (outcome.alarmText)
        m_sAlarmText = *outcome.alarmText;
    AddErrorMessage(outcome.message, outcome.kind);
    m_iThermalizationShown = outcome.thermalizationShown;
    if (m_bAlarmShown || m_iThermalizationShown >= 0)
        m_host.UpdateValueArea();
}

void CStatusPanel::AddErrorMessage(const std::string& text, int kind)
{
    panel::guarded("AddErrorMessage", [&] { m_statusList->AddErrorMessage(text, kind); });
}

std::string CStatusPanel::shutterButtonText() const { return status::shutterButtonText(m_device.m_iShutterState); }

bool CStatusPanel::shutterButtonEnabled() const
{
    return status::shutterButtonEnabled(m_device.Model().shutterNeedsPlc, m_settings.m_bUseSps != 0);
}

status::ShutterAction CStatusPanel::shutterAction() const
{
    return status::shutterAction(m_device.m_iShutterState, m_doc.pGetLastMeasureValue());
}

} // namespace bv
