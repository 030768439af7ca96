// A capture file as the body of one upload request. Once its first byte has
// been read it cannot be rewound: the network layer resends a request on its
// own when the connection closes under it, and a resend of a streamed body
// reached the appliance as its header with no data. Refusing the rewind turns
// that resend into a failed upload the panel reports, so each attempt sends
// the file once, whole.
#pragma once

#include <QFile>

class UploadBody : public QFile {
    Q_OBJECT
  public:
    using QFile::QFile;

    bool seek(qint64 offset) override;

  protected:
    qint64 readData(char* data, qint64 maxSize) override;

  private:
    bool started_ = false;
};
