#pragma once
#include <QImage>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>

#include "data/CalibrationResult.h"

class QFileDevice;

namespace bv {

// What the one-page report of an electronic calibration shows.
struct CalibrationReportData {
    QString model;
    int address = 0;
    QList<QPair<QString, QString>> settings;  // the operator's settings, name and value
    double intervalSeconds = 1;  // between the calibration's points
    CalibrationResult result;
};

// The calorimeter and EC power of the calibration over its time.
QImage calibrationPlot(const CalibrationResult& result, double intervalSeconds, const QSize& size);
QString calibrationReportHtml(const CalibrationReportData& data);
// One PDF page; the file appears only when complete. False with the reason in error.
bool writeCalibrationReport(const CalibrationReportData& data, const QString& path, QString& error);
// "PASSED" or "FAILED" (translated).
QString calibrationVerdict(const CalibrationResult& result);

// Why a file could not be written, in the language of the texts (Qt's own
// error strings are English): the folder, the permissions, then the disk.
QString fileErrorText(const QString& path, const QFileDevice& file);

} // namespace bv
