// A dial drawn from two images: a fixed dial and a needle rotated about its
// pivot in proportion to the value. Both images are scaled together to fit the
// widget, keeping their aspect ratio, and centred.
#pragma once

#include <QPixmap>
#include <QPointF>
#include <QWidget>

class QGauge : public QWidget {
    Q_OBJECT

  public:
    explicit QGauge(QWidget* parent = nullptr);

    void setDialImage(const QPixmap& dial);
    void setNeedleImage(const QPixmap& needle);
    // The point, in needle-image pixels, about which the needle turns.
    void setPivot(double x, double y);
    // The needle angles (degrees, clockwise) that span the value range.
    void setA0(double degrees);
    void setA1(double degrees);
    // Stores the value clamped into [minimum, maximum]; NaN counts as the minimum.
    void setValue(double value);

    double value() const { return value_; }
    double minimum() const { return v0_; }
    double maximum() const { return v1_; }
    QPointF pivot() const { return pivot_; }
    // The rotation applied to the needle image for the current value. The
    // value V0 is drawn one step (k) short of A0, as the dial artwork expects.
    double needleAngle() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap dial_;
    QPixmap needle_;
    QPointF pivot_{0.0, 0.0};
    double a0_ = 0.0;
    double a1_ = 360.0;
    double v0_ = 0.0;
    double v1_ = 100.0;
    double value_ = 0.0;
};
