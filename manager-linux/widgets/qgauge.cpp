#include "qgauge.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

QGauge::QGauge(QWidget* parent) : QWidget(parent) {}

void QGauge::setDialImage(const QPixmap& dial) {
    dial_ = dial;
    update();
}

void QGauge::setNeedleImage(const QPixmap& needle) {
    needle_ = needle;
    update();
}

void QGauge::setPivot(double x, double y) {
    pivot_ = QPointF(x, y);
    update();
}

void QGauge::setA0(double degrees) {
    a0_ = degrees;
    update();
}

void QGauge::setA1(double degrees) {
    a1_ = degrees;
    update();
}

void QGauge::setValue(double value) {
    value_ = std::isnan(value) ? v0_ : std::clamp(value, v0_, v1_);
    update();
}

double QGauge::needleAngle() const {
    const double k = (a0_ - a1_) / (v0_ - v1_);
    return value_ * k + a0_ - k;
}

void QGauge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Qt 5.15 folded high-quality antialiasing into Antialiasing.
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);

    double scale = 1.0;
    QPointF offset(0.0, 0.0);
    if (!dial_.isNull()) {
        scale = std::min(double(height()) / dial_.height(), double(width()) / dial_.width());
        offset = QPointF((width() - dial_.width() * scale) / 2.0,
                         (height() - dial_.height() * scale) / 2.0);
    }
    painter.translate(offset);
    painter.scale(scale, scale);
    if (!dial_.isNull()) painter.drawPixmap(0, 0, dial_);

    if (!needle_.isNull()) {
        painter.translate(pivot_);
        painter.rotate(needleAngle());
        painter.translate(-pivot_);
        painter.drawPixmap(0, 0, needle_);
    }
}
