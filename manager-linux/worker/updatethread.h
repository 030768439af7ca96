// One firmware update: starts the library's update and reports its progress
// once a second until it ends. Runs once and then deletes itself (the worker
// connects finished() to deleteLater()).
#pragma once

#include <QThread>

#include "statsthreadinfo.h"

class UpdateThread : public QThread {
    Q_OBJECT
  public:
    // `pollIntervalMs` is the pause after every progress read.
    explicit UpdateThread(const StatsThreadInfo& info, unsigned long pollIntervalMs = 1000);

  signals:
    void signal_update_progress(const StatsThreadInfo& info);
    void signal_update_status(const StatsThreadInfo& info);

  protected:
    void run() override;

  private:
    StatsThreadInfo info_;
    unsigned long pollIntervalMs_;
};
