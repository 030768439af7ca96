// The gauge's dial and needle. Both images have the same size and share the
// pivot point, so the gauge can draw them with one offset and scale. The
// needle is drawn where the scale shows 1: the gauge turns it by
// 0.93 x (value - 1) degrees, which brings it onto the scale mark of `value`.
#pragma once

#include <QImage>

QImage paintGaugeDial();
QImage paintGaugeNeedle();
