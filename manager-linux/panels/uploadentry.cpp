#include "uploadentry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {

std::unique_ptr<QFile> wrap(int fd, QIODevice::OpenMode mode) {
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

}  // namespace

UploadEntry::UploadEntry(NettlebeamApiDeviceHandle handle, const QString& path, qint64 size)
    : handle_(handle), path_(path), size_(size) {}

std::unique_ptr<UploadEntry> UploadEntry::create(NettlebeamApiDeviceHandle handle,
                                                 const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    const bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    ::close(fd);
    if (!usable) return nullptr;
    std::unique_ptr<UploadEntry> entry(new UploadEntry(handle, path, info.st_size));
    // A failed link is no error: the upload then reads the capture file itself.
    entry->linked_ =
        ::link(native.constData(), QFile::encodeName(entry->linkPath()).constData()) == 0;
    return entry;
}

UploadEntry::~UploadEntry() {
    if (linked_) ::unlink(QFile::encodeName(linkPath()).constData());
    if (!filteredPath_.isEmpty()) ::unlink(QFile::encodeName(filteredPath_).constData());
}

std::unique_ptr<QFile> UploadEntry::createFilteredCopy() {
    if (!filteredPath_.isEmpty()) return nullptr;
    // mkostemp creates the file with O_CREAT|O_EXCL and mode 0600.
    QByteArray name = QFile::encodeName(uploadPath() + QStringLiteral(".filtered.XXXXXX"));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    filteredPath_ = QFile::decodeName(name);
    return wrap(fd, QIODevice::WriteOnly);
}

std::unique_ptr<QFile> UploadEntry::openForReading(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return wrap(fd, QIODevice::ReadOnly);
}
