#include "ui/CalibrationReport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QUrl>
#include <qcustomplot.h>
#include <cerrno>

#include "res/StringTable.h"

namespace bv {
namespace {

QString tr(const char* text) { return QCoreApplication::translate("bv::CalibrationReport", text); }

QString number(double v, int decimals) { return QString::number(v, 'f', decimals); }

QString when(int64_t ms)
{
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString row(const QString& name, const QString& value, const QString& style = {})
{
    return QStringLiteral("<tr><td style=\"padding-right:24px\">%1</td><td%3>%2</td></tr>")
        .arg(name.toHtmlEscaped(), value.toHtmlEscaped(), style.isEmpty() ? QString() : " style=\"" + style + "\"");
}

} // namespace

QString calibrationVerdict(const CalibrationResult& result) { return result.passed ? tr("PASSED") : tr("FAILED"); }

QImage calibrationPlot(const CalibrationResult& result, double intervalSeconds, const QSize& size)
{
    QCustomPlot plot;
    plot.setBackground(Qt::white);
    QCPGraph* calorimeter = plot.addGraph();
    QCPGraph* ec = plot.addGraph();
    calorimeter->setName(tr("Calorimeter power"));
    ec->setName(tr("EC power"));
    calorimeter->setPen(QPen(QColor(220, 0, 0), 2));
    ec->setPen(QPen(QColor(0, 0, 220), 2));
    // One point a cycle: the time axis counts cycles, whatever the wall clock did.
    for (size_t i = 0; i < result.points.size(); ++i) {
        const MeasurePoint& p = result.points[i];
        const double t = static_cast<double>(i) * intervalSeconds;
        if (p.valid)
            calorimeter->addData(t, p.power);
        if (p.ecValid)
            ec->addData(t, p.ecPower);
    }
    plot.xAxis->setLabel(QStringLiteral("s"));
    plot.yAxis->setLabel(QStringLiteral("W"));
    plot.rescaleAxes();
    const QCPRange y = plot.yAxis->range();
    const double margin = std::max(1.0, 0.1 * y.size());
    plot.yAxis->setRange(y.lower - margin, y.upper + margin);
    plot.legend->setVisible(true);
    plot.axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignBottom | Qt::AlignRight);
    // Twice the pixels, so that the page can shrink it and stay sharp.
    return plot.toPixmap(size.width(), size.height(), 2.0).toImage();
}

QString calibrationReportHtml(const CalibrationReportData& d)
{
    const CalibrationResult& r = d.result;
    QString html = QStringLiteral("<html><body style=\"font-family:sans-serif\">");
    html += "<h2>" + tr("Electronic calibration report").toHtmlEscaped() + "</h2>";
    html += "<table cellspacing=\"2\">";
    html += row(tr("Model"), d.model);
    html += row(tr("Address"), QString::number(d.address));
    html += row(tr("Date"), when(r.endMs));
    html += row(tr("Calibration started"), when(r.startMs));
    html += "</table><h3>" + tr("Settings").toHtmlEscaped() + "</h3><table cellspacing=\"2\">";
    for (const auto& [name, value] : d.settings)
        html += row(name, value);
    html += "</table><h3>" + tr("Result").toHtmlEscaped() + "</h3><table cellspacing=\"2\">";
    html += row(tr("Average calorimeter power"), number(r.calorimeterPower, 2) + " W");
    html += row(tr("Average EC power"), number(r.ecPower, 2) + " W");
    html += row(tr("Voltage"), number(r.voltage, 1) + " V");
    html += row(tr("Current"), number(r.current, 3) + " A");
    html += row(tr("EC points averaged"), QString::number(r.ecPoints));
    const QString colour = r.passed ? QStringLiteral("color:#006000") : QStringLiteral("color:#c00000");
    html += row(tr("Deviation"), number(r.deviationPercent, 2) + " %", colour);
    html += row(tr("Deviation Limit"), number(r.limitPercent, 2) + " %");
    html += row(tr("Verdict"), calibrationVerdict(r), colour + ";font-weight:bold");
    html += "</table><p><img src=\"calibration-plot.png\" width=\"470\"></p></body></html>";
    return html;
}

bool writeCalibrationReport(const CalibrationReportData& data, const QString& path, QString& error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = path + ": " + fileErrorText(path, file);
        return false;
    }
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(18, 15, 18, 15), QPageLayout::Millimeter);
    writer.setTitle(tr("Electronic calibration report"));
    writer.setCreator(QStringLiteral("BrivaneSoftware"));
    QTextDocument doc;
    doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("calibration-plot.png")),
                    calibrationPlot(data.result, data.intervalSeconds, QSize(560, 280)));
    doc.setHtml(calibrationReportHtml(data));
    doc.print(&writer);
    if (!file.commit()) {
        error = path + ": " + fileErrorText(path, file);
        return false;
    }
    return true;
}

QString fileErrorText(const QString& path, const QFileDevice& file)
{
    const QFileInfo target(path);
    const QFileInfo folder(target.absolutePath());
    int code = EIO;
    if (!folder.exists())
        code = ENOENT;
    else if (!folder.isDir())
        code = ENOTDIR;
    else if (target.isDir())
        code = EISDIR;
    else if (!folder.isWritable() || (target.exists() && !target.isWritable()))
        code = EACCES;
    else if (file.error() == QFileDevice::ResourceError)
        code = ENOSPC;
    return QString::fromStdString(strings::osErrorText(code));
}

} // namespace bv
