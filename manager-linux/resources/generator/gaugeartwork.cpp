#include "gaugeartwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

constexpr QSize kImageSize(574, 380);
constexpr QPointF kPivot(287.0, 299.0);
// The scale spans 0..100 over 93 degrees, symmetric about the vertical.
constexpr double kScaleStart = -46.5;
constexpr double kDegreesPerUnit = 0.93;
constexpr double kBandInner = 214.0;
constexpr double kBandOuter = 228.0;
constexpr double kLabelRadius = 262.0;

double angleOf(double value) {
    return kScaleStart + kDegreesPerUnit * value;
}

// The point at `radius` from the pivot in the direction of `degrees`,
// measured clockwise from straight up.
QPointF polar(double radius, double degrees) {
    const double radians = qDegreesToRadians(degrees);
    return kPivot + QPointF(radius * std::sin(radians), -radius * std::cos(radians));
}

QImage transparentImage() {
    QImage image(kImageSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void paintFace(QPainter& painter) {
    QLinearGradient face(0, 0, 0, kImageSize.height());
    face.setColorAt(0.0, QColor(0xfd, 0xfc, 0xf8));
    face.setColorAt(1.0, QColor(0xe6, 0xe4, 0xdc));
    painter.setPen(QPen(QColor(0x44, 0x48, 0x4e), 8));
    painter.setBrush(face);
    painter.drawRoundedRect(QRectF(QPointF(4, 4), QSizeF(kImageSize) - QSizeF(8, 8)), 30, 30);
}

// Green up to 70, amber to 90, red to 100.
void paintBands(QPainter& painter) {
    struct Band {
        double from, to;
        QColor colour;
    };
    const Band bands[] = {{0, 70, QColor(0x3a, 0xa5, 0x5d)},
                          {70, 90, QColor(0xf0, 0xa2, 0x02)},
                          {90, 100, QColor(0xd0, 0x34, 0x2c)}};
    const double middle = (kBandInner + kBandOuter) / 2.0;
    const QRectF arcBox(kPivot - QPointF(middle, middle), QSizeF(2 * middle, 2 * middle));
    for (const Band& band : bands) {
        painter.setPen(QPen(band.colour, kBandOuter - kBandInner, Qt::SolidLine, Qt::FlatCap));
        // Qt's arcs run counter-clockwise from three o'clock, in 1/16 degree.
        const double start = 90.0 - angleOf(band.from);
        const double span = -(angleOf(band.to) - angleOf(band.from));
        painter.drawArc(arcBox, qRound(start * 16), qRound(span * 16));
    }
}

void paintTicksAndLabels(QPainter& painter) {
    const QColor ink(0x26, 0x28, 0x2c);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(30);
    painter.setFont(font);
    for (int value = 0; value <= 100; value += 5) {
        const bool major = value % 10 == 0;
        const double angle = angleOf(value);
        painter.setPen(QPen(ink, major ? 5 : 3, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(polar(major ? kBandInner - 16 : kBandInner - 6, angle),
                         polar(kBandOuter + (major ? 12 : 4), angle));
        if (value % 20 != 0) continue;
        const QPointF centre = polar(kLabelRadius, angle);
        painter.drawText(QRectF(centre - QPointF(40, 18), QSizeF(80, 36)), Qt::AlignCenter,
                         QString::number(value));
    }
    font.setPixelSize(40);
    painter.setFont(font);
    painter.drawText(QRectF(kPivot.x() - 60, 170, 120, 50), Qt::AlignCenter, QStringLiteral("%"));
}

}  // namespace

QImage paintGaugeDial() {
    QImage image = transparentImage();
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    paintFace(painter);
    paintBands(painter);
    paintTicksAndLabels(painter);
    // A shadow under the needle's hub.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 60));
    painter.drawEllipse(kPivot + QPointF(3, 4), 27, 27);
    return image;
}

QImage paintGaugeNeedle() {
    QImage image = transparentImage();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(kPivot);
    painter.rotate(angleOf(1.0));

    // Pointing up in these coordinates: a tapered blade with a short tail.
    QPainterPath blade;
    blade.moveTo(-10, 0);
    blade.lineTo(-2.5, -224);
    blade.lineTo(2.5, -224);
    blade.lineTo(10, 0);
    blade.lineTo(7, 42);
    blade.lineTo(-7, 42);
    blade.closeSubpath();
    painter.setPen(QPen(QColor(0x7a, 0x12, 0x12), 2));
    painter.setBrush(QColor(0xc6, 0x28, 0x28));
    painter.drawPath(blade);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x30, 0x32, 0x36));
    painter.drawEllipse(QPointF(0, 0), 24, 24);
    painter.setBrush(QColor(0x9a, 0x9e, 0xa4));
    painter.drawEllipse(QPointF(0, 0), 8, 8);
    return image;
}
