#include "availablememory.h"

#include <sys/sysinfo.h>

#include <QFile>
#include <QRegularExpression>

uint64_t AvailableMemory::bytes() {
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        if (const uint64_t available = fromMeminfo(QString::fromLatin1(meminfo.readAll())))
            return available;
    }
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return 0;
    return static_cast<uint64_t>(info.freeram) * info.mem_unit;
}

uint64_t AvailableMemory::fromMeminfo(const QString& text) {
    static const QRegularExpression line(QStringLiteral("^MemAvailable:\\s+(\\d+)\\s+kB$"),
                                         QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(text);
    if (!match.hasMatch()) return 0;
    bool ok = false;
    const qulonglong kilobytes = match.captured(1).toULongLong(&ok);
    if (!ok || kilobytes > UINT64_MAX / 1024) return 0;
    return kilobytes * 1024;
}
