// The stand-in upload appliance (upload_server.py) run by a test on a
// loopback port, and what it recorded.
#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class UploadServer {
  public:
    struct Put {
        QString path;
        QString query;
        qint64 length = 0;
        QByteArray sha256;  // hex
    };

    // A request as it arrived, before its body.
    struct Request {
        QString path;
        qint64 declared = 0;  // its Content-Length, -1 without one
    };

    // Starts the server with the options of upload_server.py.
    explicit UploadServer(const QStringList& options = {});
    ~UploadServer();
    UploadServer(const UploadServer&) = delete;
    UploadServer& operator=(const UploadServer&) = delete;

    // False when the server did not start or did not print its port.
    bool started() const { return port_ > 0; }
    // "http://127.0.0.1:<port>"
    QString url() const;
    // Every upload it read in full, in arrival order.
    QList<Put> puts() const;
    // Every request whose header arrived, in arrival order.
    QList<Request> requests() const;
    // The body of the n-th upload (from 1).
    QByteArray body(int n) const;
    // The first upload arrived and is held (--hold).
    bool holding() const;
    // Lets the held first upload go on (--hold).
    void release();

  private:
    QTemporaryDir folder_;
    QProcess process_;
    int port_ = 0;
};

QByteArray sha256Hex(const QByteArray& data);
