#include "uploadentry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "uploadbody.h"

namespace {

template <typename File>
std::unique_ptr<QFile> wrap(int fd, QIODevice::OpenMode mode) {
    auto file = std::make_unique<File>();
    if (!file->open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

}  // namespace

UploadEntry::UploadEntry(NettlebeamApiDeviceHandle handle, const QString& path)
    : handle_(handle), path_(path) {}

std::unique_ptr<UploadEntry> UploadEntry::announce(NettlebeamApiDeviceHandle handle,
                                                   const QString& path, QString* why) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!regular) {
        *why = QStringLiteral("not a regular file");
        return nullptr;
    }
    std::unique_ptr<UploadEntry> entry(new UploadEntry(handle, path));
    if (::link(native.constData(), QFile::encodeName(entry->linkPath()).constData()) == 0) {
        entry->linked_ = true;
    } else {
        entry->linkError_ = QString::fromLocal8Bit(std::strerror(errno));
    }
    return entry;
}

std::unique_ptr<UploadEntry> UploadEntry::create(NettlebeamApiDeviceHandle handle,
                                                 const QString& path) {
    QString why;
    std::unique_ptr<UploadEntry> entry = announce(handle, path, &why);
    if (entry == nullptr || !entry->finish(&why)) return nullptr;
    return entry;
}

bool UploadEntry::finish(QString* why) {
    why->clear();
    const std::unique_ptr<QFile> file = openForReading(uploadPath());
    if (file == nullptr) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        if (!linked_) *why += QStringLiteral(" (it could not be linked: ") + linkError_ + ')';
        return false;
    }
    size_ = file->size();
    return size_ > 0;
}

UploadEntry::~UploadEntry() {
    if (linked_ && !keepLink_) ::unlink(QFile::encodeName(linkPath()).constData());
    if (!filteredPath_.isEmpty()) ::unlink(QFile::encodeName(filteredPath_).constData());
}

std::unique_ptr<QFile> UploadEntry::createFilteredCopy() {
    if (!filteredPath_.isEmpty()) return nullptr;
    // mkostemp creates the file with O_CREAT|O_EXCL and mode 0600.
    QByteArray name = QFile::encodeName(uploadPath() + QStringLiteral(".filtered.XXXXXX"));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    filteredPath_ = QFile::decodeName(name);
    return wrap<QFile>(fd, QIODevice::WriteOnly);
}

std::unique_ptr<QFile> UploadEntry::openForReading(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;  // for the caller's message: the close may have changed it
        return nullptr;
    }
    return wrap<UploadBody>(fd, QIODevice::ReadOnly);
}
