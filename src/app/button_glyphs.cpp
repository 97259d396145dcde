#include "app/button_glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace quenlith {

QPixmap diskGlyph() {
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // Body with the cut corner at the top right.
    QPainterPath body;
    body.moveTo(5, 4);
    body.lineTo(38, 4);
    body.lineTo(44, 10);
    body.lineTo(44, 44);
    body.lineTo(5, 44);
    body.closeSubpath();
    p.setPen(QPen(QColor(20, 30, 70), 1.5));
    p.setBrush(QColor(45, 70, 150));
    p.drawPath(body);
    // Metal shutter with its slot.
    p.setPen(QPen(QColor(90, 90, 100), 1));
    p.setBrush(QColor(200, 205, 215));
    p.drawRect(QRectF(13, 4.5, 21, 13));
    p.setBrush(QColor(45, 70, 150));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(27, 7, 4, 8));
    // Paper label with lines.
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(120, 120, 130), 1));
    p.drawRect(QRectF(10, 24, 29, 17));
    p.setPen(QPen(QColor(170, 60, 60), 1));
    p.drawLine(QPointF(13, 29), QPointF(36, 29));
    p.setPen(QPen(QColor(150, 150, 160), 1));
    p.drawLine(QPointF(13, 33), QPointF(36, 33));
    p.drawLine(QPointF(13, 37), QPointF(36, 37));
    return pixmap;
}

QPixmap arrowGlyph(bool pointsRight) {
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient shade(QPointF(8, 7), 14);
    shade.setColorAt(0, QColor(110, 210, 110));
    shade.setColorAt(1, QColor(20, 130, 40));
    p.setPen(QPen(QColor(10, 80, 25), 1));
    p.setBrush(shade);
    p.drawEllipse(QRectF(1, 1, 20, 20));
    // Arrow pointing right, mirrored for left.
    QPolygonF arrow;
    arrow << QPointF(5, 9) << QPointF(11, 9) << QPointF(11, 5) << QPointF(17, 11) << QPointF(11, 17)
          << QPointF(11, 13) << QPointF(5, 13);
    if (!pointsRight)
        for (QPointF& pt : arrow)
            pt.setX(22 - pt.x());
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(arrow);
    return pixmap;
}

} // namespace quenlith
