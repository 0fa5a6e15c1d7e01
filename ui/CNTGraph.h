#pragma once
#include <QVector>
#include <QWidget>
#include <cstdint>

class QCustomPlot;
class QCPGraph;

namespace bv {

// The time-plot component. The operator window drives it with the calls the
// original graph control took by dispatch id; the ids stay beside them since
// they appear in old logs and notes.
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
    void SetRange(double xmin, double xmax, double ymin, double ymax);  // 53
    void ClearGraph();                                       // 59
    void PlotXY(double x, double y, short element);          // 60

    // Read back for tests and the window.
    QString xLabel() const { return m_xLabel; }
    QString yLabel() const { return m_yLabel; }
    uint32_t lineColor() const { return m_color; }
    short lineStyle() const { return m_style; }
    int pointCount() const;
    double xMin() const;
    double xMax() const;
    double yMin() const;
    double yMax() const;
    QCustomPlot* plot() const { return m_plot; }

    // Hands buffered points to the plot and redraws; SetRange does this too.
    void flush(bool immediate = false);

private:
    QCustomPlot* m_plot;
    QCPGraph* m_graph;
    QVector<double> m_keys, m_values;
    bool m_dirty = false;
    QString m_xLabel, m_yLabel;
    uint32_t m_color = 0;
    short m_style = 0;
};

} // namespace bv
