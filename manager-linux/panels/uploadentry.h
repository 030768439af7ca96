// One capture file to be sent to the appliance. While the capture goes on,
// a looping device removes its oldest files: a hard link named
// "<file>.cloudshark", made as soon as the file is announced, keeps the data
// reachable until the entry is destroyed, which removes the link (and the
// filtered copy, when one was made) unless the link is to be kept.
#pragma once

#include <QFile>
#include <QString>
#include <memory>

#include "NettlebeamAPI.h"

class UploadEntry {
  public:
    // The device began writing `path`: the file is linked at once, while it
    // still exists. Null when it cannot be opened as a regular file, with
    // the reason in `why`. A failed link (see linkError()) still gives an
    // entry: the upload then reads the capture file itself, if it is still there.
    static std::unique_ptr<UploadEntry> announce(NettlebeamApiDeviceHandle handle,
                                                 const QString& path, QString* why);
    // A file already complete, announced and finished at once. Nothing when
    // the file cannot be opened, is not a regular file or is empty.
    static std::unique_ptr<UploadEntry> create(NettlebeamApiDeviceHandle handle,
                                               const QString& path);
    ~UploadEntry();
    UploadEntry(const UploadEntry&) = delete;
    UploadEntry& operator=(const UploadEntry&) = delete;

    // The device finished the file: its size is taken from the upload path.
    // False when there is nothing to send; `why` is empty when the file is
    // merely empty, else it says why the data cannot be read.
    bool finish(QString* why);

    NettlebeamApiDeviceHandle handle() const { return handle_; }
    const QString& path() const { return path_; }
    qint64 size() const { return size_; }
    bool linked() const { return linked_; }
    // Why the link could not be made; empty when linked.
    const QString& linkError() const { return linkError_; }
    QString linkPath() const { return path_ + QStringLiteral(".cloudshark"); }
    // The link when there is one, else the capture file itself.
    QString uploadPath() const { return linked_ ? linkPath() : path_; }
    // The link outlives the entry: it holds data the appliance did not take.
    void keepLink() { keepLink_ = true; }

    // Creates a new private file beside the upload path for the filtered
    // capture and opens it for writing; null when it cannot be created.
    std::unique_ptr<QFile> createFilteredCopy();
    const QString& filteredPath() const { return filteredPath_; }

    // `path` opened for reading without following a symbolic link, its size
    // known, for streaming as a request body (an UploadBody, read once); null
    // when it cannot be opened.
    static std::unique_ptr<QFile> openForReading(const QString& path);

  private:
    UploadEntry(NettlebeamApiDeviceHandle handle, const QString& path);

    NettlebeamApiDeviceHandle handle_;
    QString path_;
    qint64 size_ = 0;
    bool linked_ = false;
    bool keepLink_ = false;
    QString linkError_;
    QString filteredPath_;
};
