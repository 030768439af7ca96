// Byte counts and rates for display: G, M and K prefixes in steps of 1024
// with two decimals, plain below 1024. sizeText(1536, "B") is "1.50 KB",
// sizeText(512, "B/s") is "512 B/s".
#pragma once

#include <QString>

QString sizeText(quint64 value, const QString& unit);
