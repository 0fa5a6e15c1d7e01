#pragma once
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <cstdint>
#include <functional>

#include "data/CalibrationResult.h"
#include "data/PointExport.h"

class QAction;
class QMenu;
class QWidget;

namespace bv {

class CBrivaneDoc;
class CNTGraph;
class CPowerMeter;
class IPrompt;
class ProgramSettings;

// What leaves the window other than the protocol file: the statistics of
// the points in view, the points as CSV, both plots as PNG or PDF, and the
// report of the last electronic calibration.
class CExportCommands : public QObject {
    Q_OBJECT
public:
    // caption, suggested file, filter; an empty answer cancels.
    using AskFileName = std::function<QString(const QString&, const QString&, const QString&)>;

    CExportCommands(CPowerMeter& device, CBrivaneDoc& doc, ProgramSettings& settings, IPrompt& prompt,
                    CNTGraph& powerGraph, CNTGraph& additionalGraph, QWidget* window);

    // The entries of the "File" menu.
    void addActions(QMenu* file);
    void setAskFileName(AskFileName ask) { m_ask = std::move(ask); }
    // From and to (ms since 1970) of the stored points to export; false cancels.
    using AskRange = std::function<bool(int64_t& fromMs, int64_t& toMs)>;
    void setAskRange(AskRange ask) { m_askRange = std::move(ask); }
    // The history file the stored points come from (empty: no history).
    void setHistoryFile(std::function<std::string()> path) { m_historyFile = std::move(path); }

    // Menu commands: they ask for a file and tell the operator what failed.
    void OnStatistics();
    void OnExportCsv();
    void OnExportHistoryCsv();
    void OnSavePlotsPng();
    void OnSavePlotsPdf();
    void OnSaveCalibrationReport();

    // The work behind them; false with the reason shown and logged.
    bool exportCsv(const QString& path);
    // Any stored range, beyond what the store holds.
    bool exportHistoryCsv(const QString& path, int64_t fromMs, int64_t toMs);
    bool savePlotsPng(const QString& path);
    bool savePlotsPdf(const QString& path);
    bool saveCalibrationReport(const QString& path);

    // The points in view are the points the plots show: the whole store.
    PowerStatistics statistics() const;
    QString statisticsText() const;

    // A calibration's verdict, when its heater went off: the report's
    // averages, with the settings they were taken under.
    void calibrationJudged(const CalibrationResult& result);
    const CalibrationResult& calibration() const { return m_calibration; }
    QAction* reportAction() const { return m_reportAction; }

private:
    QString ask(const QString& caption, const QString& stem, const QString& suffix, const QString& filter);
    bool fail(const QString& what, const QString& reason);

    CPowerMeter& m_device;
    CBrivaneDoc& m_doc;
    ProgramSettings& m_settings;
    IPrompt& m_prompt;
    CNTGraph& m_powerGraph;
    CNTGraph& m_additionalGraph;
    QWidget* m_window;
    AskFileName m_ask;
    QString m_lastDir;

    CalibrationResult m_calibration;
    int m_calibrationIntervalMs = 1000;
    QList<QPair<QString, QString>> m_calibrationSettings;  // the operator's settings as they were
    QAction* m_reportAction = nullptr;
    AskRange m_askRange;
    std::function<std::string()> m_historyFile;
};

} // namespace bv
