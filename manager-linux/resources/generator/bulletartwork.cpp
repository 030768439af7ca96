#include "bulletartwork.h"

#include <QPainter>
#include <QRadialGradient>

QImage paintBullet(const QColor& colour, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = size / 2.0 - 1.0;
    const QPointF centre(size / 2.0, size / 2.0);
    QRadialGradient light(centre - QPointF(radius / 3, radius / 3), radius * 1.3);
    light.setColorAt(0.0, colour.lighter(170));
    light.setColorAt(0.6, colour);
    light.setColorAt(1.0, colour.darker(140));
    painter.setPen(QPen(colour.darker(200), size / 12.0));
    painter.setBrush(light);
    painter.drawEllipse(centre, radius - size / 24.0, radius - size / 24.0);
    return image;
}
