#include "firmwarestash.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QXmlStreamReader>
#include <QtDebug>
#include <algorithm>
#include <limits>

#include "firmware_format.h"

namespace {

// Numbers that are not unsigned decimal count as 0.
uint32_t unsignedValue(const QString& text) {
    bool ok = false;
    const uint32_t value = text.toUInt(&ok, 10);
    return ok ? value : 0;
}

// Four dotted components, each kept as its low 8 bits; nothing otherwise.
bool parseVersion(const QString& text, std::array<uint8_t, 4>* version) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4) return false;
    for (int i = 0; i < 4; ++i) (*version)[i] = uint8_t(unsignedValue(parts[i]));
    return true;
}

QString executableFirmwareFolder() {
    return QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath() +
           QStringLiteral("/firmware");
}

}  // namespace

FirmwareStash::FirmwareStash() : folder_(executableFirmwareFolder()) {}

FirmwareStash::FirmwareStash(const QString& firmwareFolder) : folder_(firmwareFolder) {}

bool FirmwareStash::Refresh() {
    QFile file(folder_ + QStringLiteral("/firmware.xml"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug("Open Error : %s (%d)", file.errorString().toLocal8Bit().constData(),
               int(file.error()));
        return false;
    }
    QXmlStreamReader xml(&file);
    if (xml.readNextStartElement() && xml.name() == QLatin1String("devices")) {
        while (xml.readNextStartElement()) {
            if (xml.name() != QLatin1String("device") || !readDevice(xml)) break;
        }
    }
    file.close();
    return true;
}

bool FirmwareStash::readDevice(QXmlStreamReader& xml) {
    FirmwareStashEntry entry;
    QList<int32_t> types;
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        const QString text = xml.readElementText();
        if (xml.hasError()) return false;
        if (name == QLatin1String("name")) {
            entry.name = text;
        } else if (name == QLatin1String("file")) {
            entry.file = folder_ + QLatin1Char('/') + text;
        } else if (name == QLatin1String("type")) {
            // Device types are small; a value that does not fit the signed
            // field would pose as the empty entry's -1, so it is left out.
            const uint32_t type = unsignedValue(text);
            if (type <= uint32_t(std::numeric_limits<int32_t>::max())) types.append(int32_t(type));
        } else if (name == QLatin1String("hwversion")) {
            entry.hwVersions.append(unsignedValue(text));
        } else if (name == QLatin1String("swversion")) {
            parseVersion(text, &entry.swVersion);
        } else {
            return false;
        }
        // Entered after every complete child, so the last complete state wins.
        if (!entry.file.isEmpty() && QFileInfo(entry.file).isFile()) {
            for (int32_t type : types) {
                entry.type = type;
                entries_.insert(type, entry);
            }
        }
    }
    return !xml.hasError();
}

FirmwareStashEntry FirmwareStash::entryForType(int32_t type) const {
    return entries_.value(type, FirmwareStashEntry());
}

bool FirmwareStash::isUpdateAvailable(uint32_t type, const NettlebeamApiVersions& versions,
                                      uint32_t hwIndex) const {
    if (type > uint32_t(std::numeric_limits<int32_t>::max())) return false;
    const FirmwareStashEntry entry = entryForType(int32_t(type));
    if (entry.type < 0) return false;
    namespace format = nettlebeam::firmware_format;
    format::ImageVersions running;
    std::copy(versions.swFirmwareVersion, versions.swFirmwareVersion + 4, running.software.begin());
    running.hardware = versions.hwFirmwareVersion;
    // The same rule as the command-line tool's check of a file it is given.
    if (hwIndex >= uint32_t(entry.hwVersions.size())) {
        return format::isNewerSoftware(entry.swVersion, running.software);
    }
    return format::isNewerFirmware({entry.swVersion, entry.hwVersions[int(hwIndex)]}, running);
}
