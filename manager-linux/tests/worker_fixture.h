// A private nettlebeamd, a device worker talking to it through the library,
// and a recorder of everything the worker emits, as the window would see it.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QThread>
#include <memory>
#include <string>
#include <vector>

#include "nettlebeam_testsupport.h"
#include "statsthread.h"

// Copies of every worker signal, received queued on the test's thread.
class WorkerRecorder {
  public:
    explicit WorkerRecorder(StatsThread& worker);

    QList<StatsThreadInfo> added, removed, status, features, simpleFilter, dpiFilter,
        packetsTypeFilter, progress, updateStatus;
    QStringList sntpFailures;
    QList<QPair<NettlebeamApiDeviceHandle, QString>> captureFiles;
    QList<QPair<NettlebeamApiDeviceHandle, NettlebeamApiCallbackValue_DiskDump>> captureStates;
    // Every signal's name in arrival order.
    QStringList order;

  private:
    QObject context_;
};

// Spins the test thread's event loop until `done` holds or `timeoutMs` passes.
template <typename Condition>
bool waitFor(Condition done, int timeoutMs = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Lets the worker run one of its slots, as a queued request from the window.
template <typename Slot>
void post(StatsThread* worker, Slot slot, const StatsThreadInfo& info) {
    QMetaObject::invokeMethod(
        worker, [worker, slot, info] { (worker->*slot)(info); }, Qt::QueuedConnection);
}

StatsThreadInfo requestFor(NettlebeamApiDeviceHandle handle);

class WorkerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the worker and the library; devices attached before are announced.
    void startWorker();
    void stopWorker();
    int attach(const std::vector<std::string>& args) { return daemon_->attach(args); }
    // Waits for the announcement of `handle`; its record.
    StatsThreadInfo waitForArrival(int handle);
    // A features request answered: everything queued before it has been handled.
    void settle(int handleWithControl);

    std::unique_ptr<nettlebeam::testsupport::Daemon> daemon_;
    std::unique_ptr<StatsThread> worker_;
    std::unique_ptr<WorkerRecorder> recorder_;
};
