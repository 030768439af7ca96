// Reading and writing the add-on's configuration files with the care a file
// in a shared place needs. A read takes only a regular file of sane size
// and never blocks on a FIFO; a write never goes through a symbolic link
// and never leaves a half-written file: the new contents go to a fresh
// file beside the old one, which then takes its place.
#pragma once

#include <QByteArray>
#include <QString>

namespace ConfigFileStore {

// Larger files are not configuration files the editor should hold.
inline constexpr qint64 kMaxBytes = 4 * 1024 * 1024;

enum class ReadResult { Read, Missing, Failed };

// The whole file at `path` into `bytes`. Missing when nothing is there;
// Failed with the reason in `error` for a symbolic link, anything but a
// regular file, a file above kMaxBytes or a read error.
ReadResult read(const QString& path, QByteArray* bytes, QString* error);

// Replaces (or creates) the file at `path` with `bytes`, keeping an
// existing file's mode, owner and group; a new file is readable by its
// owner only. Refuses a symbolic link, anything but a regular file and a
// file the user may not write. False with the reason in `error`; the file
// is then as it was.
bool write(const QString& path, const QByteArray& bytes, QString* error);

}  // namespace ConfigFileStore
