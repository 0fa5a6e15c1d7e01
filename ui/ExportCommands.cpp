#include "ui/ExportCommands.h"

#include <QAction>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <qcustomplot.h>

#include "data/CBrivaneDoc.h"
#include "data/History.h"
#include "data/PointExport.h"
#include "devices/PowerMeter.h"
#include "platform/Prompt.h"
#include "settings/ProgramSettings.h"
#include "ui/CalibrationReport.h"
#include "ui/CNTGraph.h"
#include "ui/MainPanels.h"

namespace bv {
namespace {

using panel::guarded;
using panel::kTag;
using panel::logger;

QString span(int64_t ms)
{
    const int64_t s = ms / 1000;
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg((s / 3600) % 24, 2, 10, QLatin1Char('0'))
                              .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
                              .arg(s % 60, 2, 10, QLatin1Char('0'));
    return s >= 86400 ? QStringLiteral("%1 d %2").arg(s / 86400).arg(clock) : clock;
}

} // namespace

CExportCommands::CExportCommands(CPowerMeter& device, CBrivaneDoc& doc, ProgramSettings& settings, IPrompt& prompt,
                                 CNTGraph& powerGraph, CNTGraph& additionalGraph, QWidget* window)
    : QObject(window),
      m_device(device),
      m_doc(doc),
      m_settings(settings),
      m_prompt(prompt),
      m_powerGraph(powerGraph),
      m_additionalGraph(additionalGraph),
      m_window(window),
      m_lastDir(QDir::homePath())
{
    m_ask = [this](const QString& caption, const QString& suggested, const QString& filter) {
        return QFileDialog::getSaveFileName(m_window, caption, suggested, filter);
    };
    m_askRange = [this](int64_t& fromMs, int64_t& toMs) {
        QDialog dialog(m_window);
        dialog.setWindowTitle(tr("Export stored points as CSV"));
        auto* form = new QFormLayout(&dialog);
        auto edit = [&](int64_t ms) {
            auto* e = new QDateTimeEdit(QDateTime::fromMSecsSinceEpoch(ms), &dialog);
            e->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            e->setCalendarPopup(true);
            return e;
        };
        QDateTimeEdit* from = edit(fromMs);
        QDateTimeEdit* to = edit(toMs);
        form->addRow(tr("From"), from);
        form->addRow(tr("To"), to);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        form->addRow(buttons);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        fromMs = from->dateTime().toMSecsSinceEpoch();
        toMs = to->dateTime().toMSecsSinceEpoch();
        return true;
    };
}

void CExportCommands::addActions(QMenu* file)
{
    auto add = [&](const QString& text, const char* name, void (CExportCommands::*handler)()) {
        QAction* a = file->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    add(tr("S&tatistics"), "statisticsAction", &CExportCommands::OnStatistics);
    add(tr("&Export points as CSV..."), "exportCsvAction", &CExportCommands::OnExportCsv)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    add(tr("Export &stored points as CSV..."), "exportHistoryCsvAction", &CExportCommands::OnExportHistoryCsv);
    add(tr("Save plots as P&NG..."), "savePngAction", &CExportCommands::OnSavePlotsPng)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    add(tr("Save plots as P&DF..."), "savePdfAction", &CExportCommands::OnSavePlotsPdf)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    m_reportAction = add(tr("Save &calibration report"), "calibrationReportAction",
                         &CExportCommands::OnSaveCalibrationReport);
    m_reportAction->setEnabled(m_calibration.available);
}

// ---------------------------------------------------------------------------
// Statistics

PowerStatistics CExportCommands::statistics() const { return powerStatistics(m_doc, 0, m_doc.GetCount()); }

QString CExportCommands::statisticsText() const
{
    const PowerStatistics s = statistics();
    QString text = tr("Statistics of the points in view") + "\n\n" + tr("Points: %1").arg(s.count);
    if (s.count == 0)
        return text;
    auto watts = [](double v) { return QString::number(v, 'f', 2) + " W"; };
    text += "\n" + tr("Mean: %1").arg(watts(s.mean));
    text += "\n" + tr("Std. deviation: %1").arg(watts(s.stdDeviation));
    text += "\n" + tr("Min: %1").arg(watts(s.min));
    text += "\n" + tr("Max: %1").arg(watts(s.max));
    text += "\n" + tr("From: %1").arg(QString::fromStdString(isoTime(s.firstMs)));
    text += "\n" + tr("To: %1").arg(QString::fromStdString(isoTime(s.lastMs)));
    text += "\n" + tr("Time span: %1").arg(span(s.lastMs - s.firstMs));
    return text;
}

void CExportCommands::OnStatistics()
{
    guarded("OnStatistics", [&] { m_prompt.show(statisticsText().toStdString(), PromptButtons::Ok, PromptIcon::Information); });
}

// ---------------------------------------------------------------------------
// Files

QString CExportCommands::ask(const QString& caption, const QString& stem, const QString& suffix, const QString& filter)
{
    const QString suggested = QDir(m_lastDir).filePath(
        stem + QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-HHmmss")) + "." + suffix);
    QString path = m_ask ? m_ask(caption, suggested, filter) : QString();
    if (path.isEmpty())
        return path;
    if (QFileInfo(path).suffix().isEmpty())
        path += "." + suffix;
    m_lastDir = QFileInfo(path).absolutePath();
    return path;
}

bool CExportCommands::fail(const QString& what, const QString& reason)
{
    BV_LOG_ERROR(logger(), kTag, what.toStdString() << " failed: " << reason.toStdString());
    m_prompt.show((what + "\n" + reason).toStdString(), PromptButtons::Ok, PromptIcon::Error);
    return false;
}

bool CExportCommands::exportCsv(const QString& path)
{
    std::string error;
    if (!writeCsv(m_doc, 0, m_doc.GetCount(), path.toStdString(), error))
        return fail(tr("The points could not be exported."), QString::fromStdString(error));
    BV_LOG_INFO(logger(), kTag, "exported " << m_doc.GetCount() << " points to " << path.toStdString());
    return true;
}

bool CExportCommands::exportHistoryCsv(const QString& path, int64_t fromMs, int64_t toMs)
{
    const std::string history = m_historyFile ? m_historyFile() : std::string();
    if (history.empty())
        return fail(tr("The stored points could not be exported."), tr("There is no history."));
    std::string error;
    CsvFile file;
    if (!file.open(path.toStdString(), error) ||
        !readHistory(history, {fromMs, toMs, 0}, [&](const StoredPoint& p) { file.add(p.point); }, error) ||
        !file.finish(error))
        return fail(tr("The stored points could not be exported."), QString::fromStdString(error));
    BV_LOG_INFO(logger(), kTag, "exported " << file.rows() << " stored points to " << path.toStdString());
    return true;
}

bool CExportCommands::savePlotsPng(const QString& path)
{
    // Both plots one above the other, at least at a printable size.
    m_powerGraph.flush();
    m_additionalGraph.flush();
    QCustomPlot* power = m_powerGraph.plot();
    QCustomPlot* additional = m_additionalGraph.plot();
    const int width = std::max({power->width(), additional->width(), 1000});
    const int top = std::max(power->height(), 360);
    const int bottom = std::max(additional->height(), 240);
    QImage image(width, top + bottom, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        p.drawPixmap(0, 0, power->toPixmap(width, top));
        p.drawPixmap(0, top, additional->toPixmap(width, bottom));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit())
        return fail(tr("The plots could not be saved."), path + ": " + fileErrorText(path, file));
    return true;
}

bool CExportCommands::savePlotsPdf(const QString& path)
{
    m_powerGraph.flush();
    m_additionalGraph.flush();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(tr("The plots could not be saved."), path + ": " + fileErrorText(path, file));
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageOrientation(QPageLayout::Landscape);
        writer.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
        writer.setTitle(tr("Plots"));
        writer.setCreator(QStringLiteral("BrivaneSoftware"));
        // Drawn as vectors at about screen scale, so the fonts keep their size
        // beside the lines: a logical page of 1100 units across at 96 dpi.
        writer.setResolution(96);
        const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());
        const int width = 1100;
        const int height = width * page.height() / std::max(page.width(), 1);
        QCPPainter painter;
        if (!painter.begin(&writer))
            return fail(tr("The plots could not be saved."), path);
        painter.setMode(QCPPainter::pmVectorized);
        painter.setMode(QCPPainter::pmNoCaching);
        painter.setWindow(0, 0, width, height);
        const int heading = 30;
        painter.drawText(QRect(0, 0, width, heading), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("BrivaneSoftware - %1    %2    %3")
                             .arg(QString::fromLatin1(m_device.Model().caption),
                                  QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                  tr("Points: %1").arg(m_doc.GetCount())));
        const int top = (height - heading) * 3 / 5;
        painter.translate(0, heading);
        m_powerGraph.plot()->toPainter(&painter, width, top);
        painter.translate(0, top);
        m_additionalGraph.plot()->toPainter(&painter, width, height - heading - top);
        painter.end();
    }
    if (!file.commit())
        return fail(tr("The plots could not be saved."), path + ": " + fileErrorText(path, file));
    return true;
}

void CExportCommands::OnExportCsv()
{
    guarded("OnExportCsv", [&] {
        const QString path = ask(tr("Export points as CSV"), QStringLiteral("brivane-points"), QStringLiteral("csv"),
                                 tr("CSV files (*.csv)"));
        if (!path.isEmpty())
            exportCsv(path);
    });
}

void CExportCommands::OnExportHistoryCsv()
{
    guarded("OnExportHistoryCsv", [&] {
        // The last day unless the operator says otherwise.
        int64_t toMs = m_doc.WallMs();
        int64_t fromMs = toMs - 86400000;
        if (!m_askRange || !m_askRange(fromMs, toMs))
            return;
        const QString path = ask(tr("Export stored points as CSV"), QStringLiteral("brivane-history"),
                                 QStringLiteral("csv"), tr("CSV files (*.csv)"));
        if (!path.isEmpty())
            exportHistoryCsv(path, fromMs, toMs);
    });
}

void CExportCommands::OnSavePlotsPng()
{
    guarded("OnSavePlotsPng", [&] {
        const QString path = ask(tr("Save plots as PNG"), QStringLiteral("brivane-plots"), QStringLiteral("png"),
                                 tr("PNG images (*.png)"));
        if (!path.isEmpty())
            savePlotsPng(path);
    });
}

void CExportCommands::OnSavePlotsPdf()
{
    guarded("OnSavePlotsPdf", [&] {
        const QString path = ask(tr("Save plots as PDF"), QStringLiteral("brivane-plots"), QStringLiteral("pdf"),
                                 tr("PDF documents (*.pdf)"));
        if (!path.isEmpty())
            savePlotsPdf(path);
    });
}

// ---------------------------------------------------------------------------
// Calibration report

void CExportCommands::calibrationJudged(const CalibrationResult& result)
{
    guarded("calibrationJudged", [&] {
        m_calibration = result;
        m_calibrationIntervalMs = m_device.m_iCycleInterval > 0 ? m_device.m_iCycleInterval : 1000;
        const ProgramSettings& s = m_settings;
        m_calibrationSettings.clear();
        auto line = [&](const QString& name, const QString& value) { m_calibrationSettings.append({name, value}); };
        line(tr("Deviation Limit"), QString::number(s.m_dDeviationLimit, 'f', 2) + " %");
        line(tr("Time of thermalization"), QString::number(s.m_iThermalizationTime) + " " + tr("cycles"));
        line(tr("Average period"), QString::number(m_doc.AverageSeconds()) + " s");
        line(tr("Interval"), QString::number(m_device.m_iCycleInterval) + " ms");
        line(tr("Zero level"), QString::number(m_device.m_dZeroOffset, 'f', 1) + " W");
        if (!s.m_sServiceTechnician.empty())
            line(tr("Service technician"), QString::fromStdString(s.m_sServiceTechnician));
        if (!s.m_sCompanyAddress.empty())
            line(tr("Company"), QString::fromStdString(s.m_sCompanyAddress));
        if (m_reportAction)
            m_reportAction->setEnabled(m_calibration.available);
    });
}

bool CExportCommands::saveCalibrationReport(const QString& path)
{
    if (!m_calibration.available)
        return fail(tr("There is no electronic calibration to report."),
                    tr("Run an electronic calibration first; the report takes its averages when the heater goes off."));
    CalibrationReportData data;
    data.model = QString::fromLatin1(m_device.Model().name);
    data.address = m_device.m_byDevice;
    data.settings = m_calibrationSettings;
    data.intervalSeconds = m_calibrationIntervalMs / 1000.0;
    data.result = m_calibration;
    QString error;
    if (!writeCalibrationReport(data, path, error))
        return fail(tr("The calibration report could not be saved."), error);
    return true;
}

void CExportCommands::OnSaveCalibrationReport()
{
    guarded("OnSaveCalibrationReport", [&] {
        if (!m_calibration.available) {
            saveCalibrationReport(QString());
            return;
        }
        const QString path = ask(tr("Save calibration report"), QStringLiteral("calibration-report"),
                                 QStringLiteral("pdf"), tr("PDF documents (*.pdf)"));
        if (!path.isEmpty())
            saveCalibrationReport(path);
    });
}

} // namespace bv
