// Every message Qt logs while it lives, debug lines included, in order: for
// tests of the texts the manager writes to its log.
#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

class LogCapture {
  public:
    LogCapture() { previous_ = qInstallMessageHandler(&LogCapture::handle); }
    ~LogCapture() {
        qInstallMessageHandler(previous_);
        QMutexLocker locker(&mutex_);
        captured_.clear();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const {
        QMutexLocker locker(&mutex_);
        return captured_;
    }
    int count(const QString& line) const { return lines().count(line); }

  private:
    // Messages may come from any thread.
    static void handle(QtMsgType, const QMessageLogContext&, const QString& message) {
        QMutexLocker locker(&mutex_);
        captured_.append(message);
    }

    static inline QMutex mutex_;
    static inline QStringList captured_;
    QtMessageHandler previous_ = nullptr;
};
