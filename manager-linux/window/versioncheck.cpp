#include "versioncheck.h"

#include "versionnumber.h"

namespace {

struct CheckedVersion {
    const char* title;
    const char* tooOld;
    const char* tooRecent;
    const char* minimum;
    const char* maximum;
};

const CheckedVersion kDriver{
    "Wrong driver version",
    "Nettlebeam Manager has detected that your devices uses an old driver version.\n"
    "Please update it to use your device.\n",
    "Nettlebeam Manager has detected that your devices uses a driver that is too recent.\n"
    "Please update Nettlebeam Manager to use your device.\n",
    VersionCheck::kDriverMinimum, VersionCheck::kDriverMaximum};

const CheckedVersion kLibrary{
    "Wrong API version",
    "Nettlebeam Manager has detected that you are using an old API version.\n"
    "Please update it to use your device.\n",
    "Nettlebeam Manager has detected that you are using an API that is too recent.\n"
    "Please update Nettlebeam Manager to use your device.\n",
    VersionCheck::kLibraryMinimum, VersionCheck::kLibraryMaximum};

QString versionLines(uint32_t installed, uint32_t minimum, uint32_t maximum) {
    QString lines = QStringLiteral("Current version : ") + VersionNumber::format(installed) +
                    QStringLiteral("\nRequired version : ") + VersionNumber::format(minimum);
    if (minimum != maximum) lines += QStringLiteral("-") + VersionNumber::format(maximum);
    return lines;
}

std::optional<VersionProblem> checkOne(const CheckedVersion& checked, uint32_t installed) {
    const uint32_t minimum = VersionNumber::parse(QString::fromLatin1(checked.minimum));
    const uint32_t maximum = VersionNumber::parse(QString::fromLatin1(checked.maximum));
    const int where = VersionNumber::compareRange(installed, minimum, maximum);
    if (where == 0) return std::nullopt;
    const char* text = where < 0 ? checked.tooOld : checked.tooRecent;
    return VersionProblem{QString::fromLatin1(checked.title),
                          QString::fromLatin1(text) + versionLines(installed, minimum, maximum)};
}

}  // namespace

std::optional<VersionProblem> VersionCheck::check(uint32_t driverVersion, uint32_t libraryVersion) {
    if (auto problem = checkOne(kDriver, driverVersion)) return problem;
    return checkOne(kLibrary, libraryVersion);
}
