#include "addonpipe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>

namespace AddonPipe {

namespace {

const char kPipeName[] = "HTTPServerES";

bool isPrivateFolder(const QByteArray& folder) {
    struct stat info {};
    if (folder.isEmpty() || !folder.startsWith('/') || lstat(folder.constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

}  // namespace

QString path() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (isPrivateFolder(runtime))
        return QFile::decodeName(runtime) + QLatin1Char('/') + QLatin1String(kPipeName);
    return QDir::tempPath() + QLatin1Char('/') + QLatin1String(kPipeName) +
           QStringLiteral("-%1").arg(geteuid());
}

// In a sticky temporary folder nobody else can swap the entry between the
// check and the removal once it is found to be the user's own.
Removal remove(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (lstat(name.constData(), &info) != 0)
        return errno == ENOENT ? Removal::Absent : Removal::Failed;
    const bool removable = S_ISFIFO(info.st_mode) || S_ISREG(info.st_mode);
    if (!removable || info.st_uid != geteuid()) return Removal::Refused;
    if (unlink(name.constData()) != 0) return errno == ENOENT ? Removal::Absent : Removal::Failed;
    return Removal::Removed;
}

}  // namespace AddonPipe
