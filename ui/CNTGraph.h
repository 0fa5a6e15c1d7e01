#pragma once
#include <QVector>
#include <QWidget>
#include <cstdint>

class QCustomPlot;
class QCPGraph;
class QCPItemRect;
class QCPItemText;
class QCPItemTracer;
class QMouseEvent;

namespace bv {

// The time-plot component. The operator window drives it with the calls the
// original graph control took by dispatch id; the ids stay beside them since
// they appear in old logs and notes.
//
// The keys are wall-clock seconds since 1970, labelled as clock time. The
// wheel zooms and a drag pans the time axis; from then on the view stays
// where the operator put it (SetRange then sets only the value axis) until a
// double click goes back to the live view that follows the data. Under the
// mouse, the nearest point is marked and read out with its time and value.
class CNTGraph : public QWidget {
    Q_OBJECT
public:
    enum DispatchId : int {
        kDispElementLineStyle = 6,
        kDispXLabel = 8,
        kDispYLabel = 9,
        kDispElementLineColor = 10,
        kDispSetRange = 53,
        kDispClearGraph = 59,
        kDispPlotXY = 60,
    };

    explicit CNTGraph(QWidget* parent = nullptr);

    void SetXLabel(const QString& unit);                     // 8: time-axis unit
    void SetYLabel(const QString& unit);                     // 9: value-axis unit
    void SetElementLineColor(uint32_t colorBGR);             // 10: 0x00BBGGRR
    void SetElementLineStyle(short style);                   // 6
    // The live range; while the operator holds a view only the value axis
    // takes it.
    void SetRange(double xmin, double xmax, double ymin, double ymax);  // 53
    void ClearGraph();                                       // 59
    // A y that is not a number breaks the line.
    void PlotXY(double x, double y, short element);          // 60

    // Tick labels: clock time, or date and time.
    void setTimeAxisWithDate(bool withDate);
    bool timeAxisWithDate() const { return m_withDate; }
    // Decimals of the value in the readout.
    void setReadoutDecimals(int decimals) { m_decimals = decimals; }

    // The operator's view: held after a zoom or a pan, here or (through the
    // window) in the other plot.
    bool viewHeld() const { return m_held; }
    void holdTimeRange(double lower, double upper);
    // Back to the live range of the last SetRange.
    void showLive();

    // Marks the point nearest to the time under the pixel x and reads it
    // out; false (and nothing shown) when there is none.
    bool showReadoutAt(double pixelX);
    void hideReadout();
    QString readoutText() const;
    bool readoutShown() const;

    // A shaded band over the time from .. to (s), labelled: the points of
    // earlier runs read back from the history. from >= to: none.
    void setHistorySpan(double from, double to, const QString& label);
    bool historySpanShown() const;
    double historySpanFrom() const;
    double historySpanTo() const;

    // Read back for tests and the window.
    QString xLabel() const { return m_xLabel; }
    QString yLabel() const { return m_yLabel; }
    uint32_t lineColor() const { return m_color; }
    short lineStyle() const { return m_style; }
    int pointCount() const;  // breaks included
    int gapCount() const;    // breaks in the line
    double xMin() const;
    double xMax() const;
    double yMin() const;
    double yMax() const;
    QCustomPlot* plot() const { return m_plot; }

    // Hands buffered points to the plot and redraws; SetRange does this too.
    void flush(bool immediate = false);

signals:
    // The operator zoomed or panned the time axis to lower .. upper.
    void timeRangeHeld(double lower, double upper);
    // The operator asked for the live view again.
    void liveViewRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onMouseMove(QMouseEvent* event);

    QCustomPlot* m_plot;
    QCPGraph* m_graph;
    QCPItemTracer* m_marker;
    QCPItemText* m_readout;
    QCPItemRect* m_history;
    QCPItemText* m_historyLabel;
    QVector<double> m_keys, m_values;
    bool m_dirty = false;
    QString m_xLabel, m_yLabel;
    uint32_t m_color = 0;
    short m_style = 0;
    bool m_withDate = false;
    int m_decimals = 1;
    bool m_held = false;
    bool m_settingRange = false;  // our own range changes are not the operator's
    double m_liveXMin = 0, m_liveXMax = 1;
    double m_readoutPixelX = 0;
};

} // namespace bv
