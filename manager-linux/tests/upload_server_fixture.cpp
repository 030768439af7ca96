#include "upload_server_fixture.h"

#include <QCryptographicHash>
#include <QFile>

UploadServer::UploadServer(const QStringList& options) {
    if (!folder_.isValid()) return;
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(PYTHON3),
                   QStringList{QStringLiteral(UPLOAD_SERVER), folder_.path()} + options);
    if (!process_.waitForStarted(10000)) return;
    // The port is the first line; the interpreter may take a while on a loaded machine.
    while (!process_.canReadLine() && process_.waitForReadyRead(30000)) {
    }
    bool ok = false;
    const int port = process_.readLine().trimmed().toInt(&ok);
    if (ok) port_ = port;
}

UploadServer::~UploadServer() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(10000);
}

QString UploadServer::url() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

QList<UploadServer::Put> UploadServer::puts() const {
    QList<Put> puts;
    QFile log(folder_.filePath(QStringLiteral("log")));
    if (!log.open(QIODevice::ReadOnly)) return puts;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4) continue;
        puts.append({QString::fromUtf8(fields[0]), QString::fromUtf8(fields[1]),
                     fields[2].toLongLong(), fields[3]});
    }
    return puts;
}

QList<UploadServer::Request> UploadServer::requests() const {
    QList<Request> requests;
    QFile log(folder_.filePath(QStringLiteral("requests")));
    if (!log.open(QIODevice::ReadOnly)) return requests;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 2) continue;
        bool declared = false;
        const qint64 length = fields[1].toLongLong(&declared);
        requests.append({QString::fromUtf8(fields[0]), declared ? length : -1});
    }
    return requests;
}

QByteArray UploadServer::body(int n) const {
    QFile file(folder_.filePath(QStringLiteral("%1.body").arg(n)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool UploadServer::holding() const {
    return QFile::exists(folder_.filePath(QStringLiteral("held")));
}

void UploadServer::release() {
    QFile flag(folder_.filePath(QStringLiteral("release")));
    flag.open(QIODevice::WriteOnly);
}

QByteArray sha256Hex(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}
