#include "ui/ValueArea.h"

#include <QPainter>
#include <algorithm>

#include "platform/Logging.h"
#include "ui/StatusLogic.h"

namespace bv {
namespace {

log::Logger& mainLog()
{
    static log::Logger logger("CBrivaneMain");
    return logger;
}

QColor fromBgr(uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

QRect toRect(const value::Box& b, int dx = 0)
{
    return QRect(QPoint(b.left + dx, b.top), QPoint(b.right + dx - 1, b.bottom - 1));
}

void text(QPainter& p, const value::Box& box, const std::string& s, Qt::Alignment align, int dx = 0)
{
    p.drawText(toRect(box, dx), align | Qt::AlignVCenter | Qt::TextSingleLine, QString::fromStdString(s));
}

// A table cell: its text in the label font, smaller where the cell is too
// narrow for it (the calibration's half-width panel), never cut or run over.
void cellText(QPainter& p, const value::Box& box, const std::string& s, int dx)
{
    const QString t = QString::fromStdString(s);
    QFont f = ValueArea::panelFont(value::kLabelFont);
    const int room = box.right - box.left - 5;
    for (int px = value::kLabelFont; px > 7 && QFontMetrics(f).horizontalAdvance(t) > room; --px)
        f.setPixelSize(px - 1);
    p.save();
    p.setFont(f);
    p.drawText(toRect(box, dx).adjusted(1, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, t);
    p.restore();
}

} // namespace

ValueArea::ValueArea(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 120);
}

QFont ValueArea::panelFont(int pixelHeight)
{
    // The panel was designed for "SmallFonts"; where that face is missing the
    // fallback keeps the same pixel heights.
    QFont f(QStringLiteral("SmallFonts"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelHeight);
    f.setWeight(QFont::Normal);
    return f;
}

QPixmap ValueArea::render(const QSize& size) const
{
    QPixmap pixmap(size);
    pixmap.fill(palette().color(QPalette::Window));
    QPainter p(&pixmap);
    draw(p, QRect(QPoint(0, 0), size), m_provider ? m_provider() : ValueAreaState{});
    return pixmap;
}

void ValueArea::paintEvent(QPaintEvent*)
{
    ++m_paints;
    const QPixmap pixmap = render(size());
    QPainter p(this);
    p.drawPixmap(0, 0, pixmap);
}

void ValueArea::draw(QPainter& p, const QRect& area, const ValueAreaState& s) const
{
    try {
        p.setPen(Qt::black);
        p.drawRect(area.adjusted(0, 0, -1, -1));
        if (s.alarmShown || s.thermalizationShown >= 0) {
            drawErrorMessage(p, area, s);
        } else if (s.calibrationLayout) {
            const int mid = area.left() + area.width() / 2;
            drawDigital(p, QRect(area.left(), area.top(), mid - area.left(), area.height()), s);
            p.save();
            p.translate(mid + 1, 0);
            drawEc(p, QRect(0, area.top(), area.width() - mid - 1, area.height()), s);
            p.restore();
        } else {
            drawDigital(p, area, s);
        }
        if (!s.alarmShown && s.thermalizationShown < 0)
            drawNotice(p, area, s);
    } catch (const std::exception& e) {
        BV_LOG_ERROR(mainLog(), "BV_main", "OnDrawItem " << e.what());
    } catch (...) {
        BV_LOG_ERROR(mainLog(), "BV_main", "OnDrawItem unknown error");
    }
}

void ValueArea::drawDigital(QPainter& p, const QRect& r, const ValueAreaState& s) const
{
    const auto layout = value::digitalLayout(r.width(), r.height());
    const auto texts = value::digitalTexts(s.digital);
    p.setPen(Qt::black);
    for (int i = 0; i < layout.lineCount; ++i) {
        const auto& l = layout.lines[i];
        p.drawLine(r.left() + l.x1, l.y1, r.left() + l.x2, l.y2);
    }
    p.setFont(panelFont(value::kLabelFont));
    text(p, layout.title, texts.title, Qt::AlignLeft, r.left());
    for (int i = 0; i < layout.cells; ++i)
        cellText(p, layout.header[i], texts.header[i], r.left());
    if (texts.bigValue.empty())
        return;
    // Stale: the numbers greyed, "---" for the current value; not measuring: greyed.
    if (s.digital.stale || !s.live)
        p.setPen(fromBgr(value::kStaleGrey));
    p.setFont(panelFont(s.calibrationLayout ? value::kBigFontCalibration : value::kBigFont));
    text(p, layout.bigValue, texts.bigValue, Qt::AlignRight, r.left());
    p.setFont(panelFont(value::kUnitFont));
    text(p, layout.unit, "W", Qt::AlignRight, r.left());
    for (int i = 0; i < layout.cells; ++i)
        cellText(p, layout.values[i], texts.values[i], r.left());
}

void ValueArea::drawEc(QPainter& p, const QRect& r, const ValueAreaState& s) const
{
    BV_LOG_DEBUG(mainLog(), "BV_main", "DrawEC");
    const auto layout = value::ecLayout(r.width(), r.height());
    const auto texts = value::ecTexts(s.ec);
    const QColor blue = fromBgr(s.ec.stale || !s.live ? value::kStaleGrey : value::kBlue);
    p.setPen(QPen(blue, 1));
    for (int i = 0; i < layout.lineCount; ++i) {
        const auto& l = layout.lines[i];
        p.drawLine(l.x1, l.y1, l.x2, l.y2);
    }
    p.setFont(panelFont(value::kLabelFont));
    text(p, layout.title, texts.title, Qt::AlignLeft);
    for (int i = 0; i < 5; ++i)
        text(p, layout.header[i], texts.header[i], Qt::AlignLeft);
    p.setFont(panelFont(s.calibrationLayout ? value::kBigFontCalibration : value::kBigFont));
    text(p, layout.bigValue, texts.bigValue, Qt::AlignRight);
    p.setFont(panelFont(value::kUnitFont));
    text(p, layout.unit, "W", Qt::AlignRight);
    p.setFont(panelFont(value::kLabelFont));
    for (int i = 0; i < 5; ++i) {
        p.setPen(i == 3 && texts.deviationRed && !s.ec.stale ? fromBgr(value::kRed) : blue);
        text(p, layout.values[i], texts.values[i], Qt::AlignLeft);
    }
}

void ValueArea::drawNotice(QPainter& p, const QRect& r, const ValueAreaState& s) const
{
    if (s.notice.empty())
        return;
    // The free row under the title, across the whole area.
    const auto layout = value::digitalLayout(r.width(), r.height());
    const int row = layout.rowHeight;
    QFont f = panelFont(std::max(value::kLabelFont, row * 3 / 4));
    f.setBold(true);
    const QRect box(r.left() + value::kMargin, r.top() + row, r.width() - 2 * value::kMargin, row);
    const QString text = QString::fromStdString(s.notice);
    for (int px = f.pixelSize(); px > 8 && QFontMetrics(f).horizontalAdvance(text) > box.width(); --px)
        f.setPixelSize(px - 1);
    p.setFont(f);
    p.setPen(fromBgr(s.noticeColour));
    p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

void ValueArea::drawErrorMessage(QPainter& p, const QRect& r, const ValueAreaState& s) const
{
    BV_LOG_DEBUG(mainLog(), "BV_main", "DrawErrorMessage " << s.alarmText);
    const int h = r.height();
    const QRect box(0, h / 2 - 100, r.width(), 180);
    p.setFont(panelFont(value::kAlarmFont));
    if (s.alarmShown) {
        // The alarm must be impossible to miss: red text on a pale red field.
        p.fillRect(r.adjusted(1, 1, -1, -1), QColor(255, 230, 230));
        p.setPen(fromBgr(value::kRed));
        QString t = QString::fromStdString(s.alarmText);
        // Scale down only when the area is too small for the lines.
        QFont f = panelFont(value::kAlarmFont);
        for (int px = value::kAlarmFont; px > 10; px -= 2) {
            f.setPixelSize(px);
            QFontMetrics fm(f);
            const QRect need = fm.boundingRect(r, Qt::AlignCenter, t);
            if (need.width() <= r.width() - 4 && need.height() <= r.height() - 4)
                break;
        }
        p.setFont(f);
        p.drawText(r, Qt::AlignCenter, t);
    } else {
        p.setPen(Qt::black);
        p.drawText(box, Qt::AlignHCenter | Qt::AlignVCenter,
                   QString::fromStdString(status::thermalizingText(s.thermalizationShown)));
    }
}

} // namespace bv
