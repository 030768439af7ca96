#include "addonpipe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QtGlobal>
#include <cerrno>
#include <cstring>
#include <string>

#include "control_trust.h"

namespace AddonPipe {

namespace {

const char kPipeName[] = "HTTPServerES";

void refuse(const char* what, const QByteArray& place, const std::string& why) {
    qWarning("Add-on pipe: refusing %s %s: %s", what, place.constData(), why.c_str());
}

// lstat with the reason on failure.
bool examine(const QByteArray& place, struct stat& info, std::string& why) {
    if (lstat(place.constData(), &info) == 0) return true;
    why = std::strerror(errno);
    return false;
}

bool runtimeFolderUsable(const QByteArray& runtime) {
    if (runtime.isEmpty()) return false;
    std::string why;
    struct stat info {};
    if (!runtime.startsWith('/')) {
        why = "it is not an absolute path";
    } else if (examine(runtime, info, why)) {
        why = nettlebeam::wire::untrustedPrivateFolder(info, geteuid());
    }
    if (why.empty()) return true;
    refuse("XDG_RUNTIME_DIR", runtime, why);
    return false;
}

// The user's own folder in the temporary folder, made here when missing
// (one made by someone else in the moment before counts as found).
QByteArray privateTemporaryFolder() {
    const QByteArray temporary = QFile::encodeName(QDir::tempPath());
    std::string why;
    struct stat info {};
    if (examine(temporary, info, why))
        why = nettlebeam::wire::untrustedChosenFolder(info, geteuid());
    if (!why.empty()) {
        refuse("the temporary folder", temporary, why);
        return {};
    }
    const QByteArray folder =
        temporary + "/nettlebeam-manager-" + QByteArray::number(quint64(geteuid()));
    if (mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        refuse("the folder", folder, std::string("cannot create it: ") + std::strerror(errno));
        return {};
    }
    if (examine(folder, info, why)) why = nettlebeam::wire::untrustedPrivateFolder(info, geteuid());
    if (!why.empty()) {
        refuse("the folder", folder, why);
        return {};
    }
    return folder;
}

}  // namespace

QString path() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtimeFolderUsable(runtime))
        return QFile::decodeName(runtime) + QLatin1Char('/') + QLatin1String(kPipeName);
    const QByteArray folder = privateTemporaryFolder();
    if (folder.isEmpty()) return {};
    return QFile::decodeName(folder) + QLatin1Char('/') + QLatin1String(kPipeName);
}

// In a folder of the user's alone nobody else can swap the entry between
// the check and the removal.
Removal remove(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (lstat(name.constData(), &info) != 0)
        return errno == ENOENT ? Removal::Absent : Removal::Failed;
    std::string why;
    if (S_ISLNK(info.st_mode)) {
        why = "it is a symbolic link";
    } else if (!S_ISFIFO(info.st_mode) && !S_ISREG(info.st_mode)) {
        why = "it is neither a FIFO nor a file";
    } else if (info.st_uid != geteuid()) {
        why = "it belongs to uid " + std::to_string(info.st_uid);
    }
    if (!why.empty()) {
        qWarning("Add-on pipe: leaving %s alone: %s", name.constData(), why.c_str());
        return Removal::Refused;
    }
    if (unlink(name.constData()) != 0) {
        if (errno == ENOENT) return Removal::Absent;
        qWarning("Add-on pipe: cannot remove %s: %s", name.constData(), std::strerror(errno));
        return Removal::Failed;
    }
    return Removal::Removed;
}

}  // namespace AddonPipe
