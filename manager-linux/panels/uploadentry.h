// One capture file waiting to be sent to the appliance. While the capture
// goes on, the device may reuse or remove its files: a hard link named
// "<file>.cloudshark" keeps the data reachable until the entry is destroyed,
// which removes the link (and the filtered copy, when one was made).
#pragma once

#include <QFile>
#include <QString>
#include <memory>

#include "NettlebeamAPI.h"

class UploadEntry {
  public:
    // Nothing when the file cannot be opened, is not a regular file or is empty.
    static std::unique_ptr<UploadEntry> create(NettlebeamApiDeviceHandle handle,
                                               const QString& path);
    ~UploadEntry();
    UploadEntry(const UploadEntry&) = delete;
    UploadEntry& operator=(const UploadEntry&) = delete;

    NettlebeamApiDeviceHandle handle() const { return handle_; }
    const QString& path() const { return path_; }
    qint64 size() const { return size_; }
    bool linked() const { return linked_; }
    QString linkPath() const { return path_ + QStringLiteral(".cloudshark"); }
    // The link when there is one, else the capture file itself.
    QString uploadPath() const { return linked_ ? linkPath() : path_; }

    // Creates a new private file beside the upload path for the filtered
    // capture and opens it for writing; null when it cannot be created.
    std::unique_ptr<QFile> createFilteredCopy();
    const QString& filteredPath() const { return filteredPath_; }

    // `path` opened for reading without following a symbolic link, its size
    // known, for streaming as a request body; null when it cannot be opened.
    static std::unique_ptr<QFile> openForReading(const QString& path);

  private:
    UploadEntry(NettlebeamApiDeviceHandle handle, const QString& path, qint64 size);

    NettlebeamApiDeviceHandle handle_;
    QString path_;
    qint64 size_;
    bool linked_ = false;
    QString filteredPath_;
};
