#include "configfilestore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>

namespace ConfigFileStore {

namespace {

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// Closes the descriptor when the scope ends.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now; false (errno set) when the close reports a failed write.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

QString kindError(const struct stat& info) {
    if (S_ISLNK(info.st_mode)) return QStringLiteral("it is a symbolic link");
    if (S_ISDIR(info.st_mode)) return QStringLiteral("it is a folder");
    return QStringLiteral("it is not a regular file");
}

bool writeAll(int fd, const QByteArray& bytes) {
    int done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// A fresh file beside `target` under a name nobody can guess, made by this
// call alone (never an existing file, never a link); its name in `name`.
int createBeside(const QByteArray& target, QByteArray* name) {
    const int slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : target.left(slash + 1);
    const QByteArray base = slash < 0 ? target : target.mid(slash + 1);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const quint64 random = QRandomGenerator::system()->generate64();
        *name = folder + '.' + base + '.' + QByteArray::number(random, 16) + ".tmp";
        const int fd =
            ::open(name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

ReadResult read(const QString& path, QByteArray* bytes, QString* error) {
    bytes->clear();
    // Not blocking: a FIFO would otherwise hold the window until a writer came.
    Descriptor fd(::open(QFile::encodeName(path).constData(),
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno == ENOENT) return ReadResult::Missing;
        *error = errno == ELOOP ? QStringLiteral("it is a symbolic link") : systemError(errno);
        return ReadResult::Failed;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        *error = systemError(errno);
        return ReadResult::Failed;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = kindError(info);
        return ReadResult::Failed;
    }
    const QString tooLarge = QStringLiteral("it is larger than %1 MiB").arg(kMaxBytes >> 20);
    if (info.st_size > kMaxBytes) {
        *error = tooLarge;
        return ReadResult::Failed;
    }
    // The size may change while reading; never hold more than the limit.
    QByteArray buffer(kMaxBytes + 1, Qt::Uninitialized);
    int filled = 0;
    while (filled < buffer.size()) {
        const ssize_t n = ::read(fd.get(), buffer.data() + filled, size_t(buffer.size() - filled));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = systemError(errno);
            return ReadResult::Failed;
        }
        if (n == 0) break;
        filled += n;
    }
    if (filled > kMaxBytes) {
        *error = tooLarge;
        return ReadResult::Failed;
    }
    buffer.truncate(filled);
    buffer.squeeze();
    *bytes = buffer;
    return ReadResult::Read;
}

bool write(const QString& path, const QByteArray& bytes, QString* error) {
    const QByteArray target = QFile::encodeName(path);
    struct stat old {};
    const bool exists = ::lstat(target.constData(), &old) == 0;
    if (!exists && errno != ENOENT) {
        *error = systemError(errno);
        return false;
    }
    if (exists && !S_ISREG(old.st_mode)) {
        *error = kindError(old);
        return false;
    }
    // The rename would replace a file the user may not change.
    if (exists && ::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0) {
        *error = systemError(errno);
        return false;
    }

    QByteArray temporary;
    Descriptor fd(createBeside(target, &temporary));
    if (fd.get() < 0) {
        *error = systemError(errno);
        return false;
    }
    const auto fail = [&](int code) {
        ::unlink(temporary.constData());
        *error = systemError(code);
        return false;
    };
    if (!writeAll(fd.get(), bytes)) return fail(errno);
    if (exists) {
        struct stat made {};
        if (::fstat(fd.get(), &made) != 0) return fail(errno);
        if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
            ::fchown(fd.get(), old.st_uid, old.st_gid) != 0)
            return fail(errno);
        if (::fchmod(fd.get(), old.st_mode & 07777) != 0) return fail(errno);
    }
    if (::fsync(fd.get()) != 0) return fail(errno);
    if (!fd.close()) return fail(errno);
    // rename replaces whatever is at the path now, a link included, and
    // never writes through it.
    if (::rename(temporary.constData(), target.constData()) != 0) return fail(errno);
    return true;
}

}  // namespace ConfigFileStore
