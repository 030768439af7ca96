// A round status light: a lit bullet with a darker rim and a highlight.
#pragma once

#include <QColor>
#include <QImage>

QImage paintBullet(const QColor& colour, int size);
