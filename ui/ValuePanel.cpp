#include "ui/ValuePanel.h"

#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <cstdlib>
#include <iterator>

#include "data/CBrivaneDoc.h"
#include "devices/PowerMeter.h"
#include "res/StringTable.h"
#include "settings/ProgramSettings.h"
#include "ui/ControlIds.h"

namespace bv {
namespace {

using panel::logger;
using panel::kTag;
using panel::qs;

const char* const kAveragingItems[] = {"10s", "20s", "30s", "50s", "Max"};

// "Max" in the list: longer than any history the store holds.
constexpr int kAllSeconds = 9999;

std::string averageWindowText(int seconds)
{
    return seconds >= kAllSeconds ? strings::text(strings::kAverageAll) : std::to_string(seconds) + " s";
}

QLabel* valueText(const QString& text, int id, const char* name)
{
    QLabel* l = panel::makeLabel(text, id, name);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setMinimumWidth(92);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

} // namespace

CValuePanel::CValuePanel(CPowerMeter& device, CBrivaneDoc& doc, ProgramSettings& settings, IPanelHost& host,
                         QObject* parent)
    : QObject(parent), m_device(device), m_doc(doc), m_settings(settings), m_host(host)
{
    using W = WindowIds;
    // Value area: an instrument face, lighter than the dialog.
    m_valueArea = new ValueArea;
    panel::tag(m_valueArea, W::kIdValueArea, "valueArea");
    QPalette face = m_valueArea->palette();
    face.setColor(QPalette::Window, QColor(250, 250, 246));
    m_valueArea->setPalette(face);
    m_valueArea->setMinimumSize(660, 290);

    m_modeGroup = new QButtonGroup(this);
    const struct {
        const char* text;
        int id;
        const char* name;
    } modes[] = {{QT_TR_NOOP("Current"), W::kIdModeCurrent, "modeCurrentRadio"},
                 {QT_TR_NOOP("Min"), W::kIdModeMin, "modeMinRadio"},
                 {QT_TR_NOOP("Max"), W::kIdModeMax, "modeMaxRadio"},
                 {QT_TR_NOOP("Average"), W::kIdModeAverage, "modeAverageRadio"}};
    for (int i = 0; i < 4; ++i)
        m_modeGroup->addButton(panel::makeRadio(windowText(modes[i].text), modes[i].id, modes[i].name), i);

    m_timeLabel = panel::makeLabel(windowText("Time"), W::kIdTimeLabel, "averagingLabel");
    m_averagingList = new QComboBox;
    panel::tag(m_averagingList, W::kIdAveragingList, "averagingList");

    // Nothing measured yet: "0 W" would pass for a meter's answer.
    m_powerText = valueText(QString(), W::kIdPowerText, "powerText");
    m_flowText = valueText(QString(), W::kIdFlowText, "flowText");
    m_teText = valueText(QString(), W::kIdTeText, "teText");
    m_tdText = valueText(QString(), W::kIdTdText, "tdText");
    m_ecPowerText = valueText(QString(), W::kIdEcPowerText, "ecPowerText");
    staleValueTexts();
    m_ecPowerText->setVisible(false);

    connect(m_modeGroup, &QButtonGroup::idClicked, this, [this](int) { OnDisplayMode(); });
    connect(m_averagingList, &QComboBox::activated, this, [this](int) { OnSelchangePeriodCombo(); });
}

void CValuePanel::initAveraging(int averagePeriod)
{
    m_averagingList->clear();
    for (const char* item : kAveragingItems)
        m_averagingList->addItem(QString::fromLatin1(item));
    selectPeriod(averagePeriod);
    // The list is what the window averages over: a file value that names
    // no item (25) takes the item shown.
    OnSelchangePeriodCombo();
    showAveragingWindow();
}

void CValuePanel::selectPeriod(int averagePeriod)
{
    const int items = static_cast<int>(std::size(kAveragingItems));
    int selected = -1;
    if (averagePeriod == 9999 || averagePeriod == 1000000) {
        selected = items - 1;
    } else {
        for (int i = 0; i < items && selected < 0; ++i)
            if (std::atoi(m_averagingList->itemText(i).toLatin1().constData()) == averagePeriod)
                selected = i;
    }
    m_averagingList->setCurrentIndex(selected >= 0 ? selected : items - 1);
}

void CValuePanel::showAveragingWindow()
{
    // A calibration averages over its own window: the list shows that window,
    // greyed, and goes back to the operator's choice afterwards.
    const bool own = m_doc.AverageFixed() && m_device.m_bEcProtocol;
    const int items = static_cast<int>(std::size(kAveragingItems));
    if (own) {
        const std::string seconds = std::to_string(m_doc.AverageSeconds());
        const QString item = QString::fromStdString(strings::fill(strings::text(strings::kCalibrationWindowItem), {seconds}));
        if (m_averagingList->count() == items)
            m_averagingList->addItem(item);
        else
            m_averagingList->setItemText(items, item);
        m_averagingList->setCurrentIndex(items);
        m_averagingList->setToolTip(
            QString::fromStdString(strings::fill(strings::text(strings::kCalibrationWindow), {seconds})));
    } else if (m_averagingList->count() > items) {
        m_averagingList->removeItem(items);
        selectPeriod(m_settings.m_iAveragePeriod);
        m_averagingList->setToolTip(QString());
    }
    m_averagingList->setEnabled(!own);
    UpdateValueArea();
}

ValueAreaState CValuePanel::state() const
{
    ValueAreaState s;
    const MeasurePoint* newest = m_doc.pGetLastMeasureValue();
    s.digital.hasPoints = newest != nullptr;
    if (newest) {
        MeasurePoint minimum, maximum;
        m_doc.getExtrema(minimum, maximum);
        s.digital.current = newest->power;
        s.digital.minimum = minimum.power;
        s.digital.maximum = maximum.power;
        s.ec.ecPower = newest->ecPower;
        s.ec.ecVoltage = newest->ecVoltage;
        s.ec.ecCurrent = newest->ecCurrent;
    }
    const CBrivaneDoc::Average power = m_doc.averageOf(0);
    s.digital.average = power.mean;
    s.digital.stdDeviation = power.stdDeviation;
    s.digital.averageCount = power.count;
    s.digital.averageWindow = averageWindowText(m_doc.AverageSeconds());
    s.digital.decimals = m_device.m_bType34 ? 1 : 0;
    s.digital.mode = m_iDisplayMode;
    s.ec.average = s.digital.average;
    s.ec.ecAverage = m_doc.dGetAverage(4);
    s.ec.limit = m_settings.m_dDeviationLimit;
    s.digital.stale = s.ec.stale = m_host.ReadingsStale();
    return s;
}

void CValuePanel::UpdateValueArea()
{
    BV_LOG_DEBUG(logger(), kTag, "UpdateValueArea()");
    m_valueArea->update();
}

void CValuePanel::smallValueTexts(const MeasurePoint& p)
{
    m_powerText->setText(qs(value::format("%5.0f W", p.power)).trimmed());
    m_flowText->setText(qs(value::format("%1.2f l/min", p.flow)));
    m_teText->setText(QString::fromUtf8(value::format("%1.3f\xC2\xB0", p.te).c_str()));
    m_tdText->setText(QString::fromUtf8(value::format("%1.3f\xC2\xB0", p.td).c_str()));
    m_ecPowerText->setText(p.ecValid ? qs(value::format("%5.0f W", p.ecPower)).trimmed()
                                     : QString::fromLatin1(value::kNoValue) + QStringLiteral(" W"));
}

void CValuePanel::showTextsLive(bool live)
{
    for (QLabel* l : {m_powerText, m_flowText, m_teText, m_tdText, m_ecPowerText}) {
        if (live) {
            l->setPalette(QPalette());
        } else {
            QPalette grey = l->palette();
            grey.setColor(QPalette::WindowText, QColor(0x99, 0x99, 0x99));
            l->setPalette(grey);
        }
    }
}

void CValuePanel::staleValueTexts()
{
    const QString none = QString::fromLatin1(value::kNoValue);
    m_powerText->setText(none + QStringLiteral(" W"));
    m_flowText->setText(none + QStringLiteral(" l/min"));
    m_teText->setText(none + QString::fromUtf8("\xC2\xB0"));
    m_tdText->setText(none + QString::fromUtf8("\xC2\xB0"));
    m_ecPowerText->setText(none + QStringLiteral(" W"));
}

void CValuePanel::setEcVisible(bool ec) { m_ecPowerText->setVisible(ec); }

void CValuePanel::OnDisplayMode()
{
    panel::guarded("OnDisplayMode", [&] {
        m_host.UpdateData(true);
        UpdateValueArea();
    });
}

void CValuePanel::OnSelchangePeriodCombo()
{
    panel::guarded("OnSelchangePeriodCombo", [&] {
        const QString text = m_averagingList->currentText();
        m_settings.m_iAveragePeriod =
            text == QLatin1String("Max") ? 1000000 : std::atoi(text.toLatin1().constData());
        BV_LOG_DEBUG(logger(), kTag, "averaging over " << m_settings.m_iAveragePeriod << " s");
        UpdateValueArea();
    });
}

void CValuePanel::UpdateData(bool fromControls)
{
    if (fromControls)
        m_iDisplayMode = panel::readRadio(m_modeGroup);
    else
        panel::setRadio(m_modeGroup, m_iDisplayMode);
}

} // namespace bv
