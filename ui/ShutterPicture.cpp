#include "ui/ShutterPicture.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace bv {

ShutterPicture::ShutterPicture(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(sizeHint());
}

int ShutterPicture::pictureFor(int shutterState, bool compactModel)
{
    switch (shutterState) {
    case 0: return kOpen;
    case 1: return kClosed;
    case 3: return kNone;
    default: return compactModel ? kOpen : kUnknown;
    }
}

QPixmap ShutterPicture::draw(int picture, const QSize& size)
{
    QPixmap pixmap(size);
    pixmap.fill(QColor(236, 236, 236));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(90, 90, 90));
    p.drawRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1));
    if (picture == kNone)
        return pixmap;

    const QPointF c(size.width() / 2.0, size.height() / 2.0);
    const double outer = std::min(size.width(), size.height()) / 2.0 - 4;
    const double inner = outer * 0.72;
    // Housing: a dark ring round the aperture.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(70, 70, 75));
    p.drawEllipse(c, outer, outer);

    if (picture == kOpen) {
        // Clear aperture, the beam passing through.
        p.setBrush(QColor(120, 210, 120));
        p.drawEllipse(c, inner, inner);
        p.setBrush(QColor(235, 250, 235));
        p.drawEllipse(c, inner * 0.55, inner * 0.55);
    } else if (picture == kClosed) {
        // Iris blades meeting in the middle.
        p.setBrush(QColor(200, 40, 40));
        p.drawEllipse(c, inner, inner);
        p.setPen(QPen(QColor(110, 10, 10), 1.5));
        for (int i = 0; i < 6; ++i) {
            const double a = i * M_PI / 3;
            const QPointF rim(c.x() + inner * std::cos(a), c.y() + inner * std::sin(a));
            const QPointF bend(c.x() + inner * 0.35 * std::cos(a + 1.2), c.y() + inner * 0.35 * std::sin(a + 1.2));
            QPainterPath blade(rim);
            blade.quadTo(bend, c);
            p.drawPath(blade);
        }
    } else {
        p.setBrush(QColor(245, 190, 40));
        p.drawEllipse(c, inner, inner);
        QFont f = p.font();
        f.setPixelSize(static_cast<int>(inner * 1.5));
        f.setBold(true);
        p.setFont(f);
        p.setPen(QColor(60, 40, 0));
        p.drawText(QRectF(c.x() - inner, c.y() - inner, 2 * inner, 2 * inner), Qt::AlignCenter, "?");
    }
    return pixmap;
}

void ShutterPicture::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawPixmap(0, 0, draw(shownPicture(), size()));
}

} // namespace bv
