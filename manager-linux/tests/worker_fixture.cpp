#include "worker_fixture.h"

#include <cstring>

WorkerRecorder::WorkerRecorder(StatsThread& worker) {
    auto keep = [this](QList<StatsThreadInfo>* list, const char* name) {
        return [this, list, name](const StatsThreadInfo& info) {
            list->append(info);
            order.append(QString::fromLatin1(name));
        };
    };
    QObject::connect(&worker, &StatsThread::signal_add_iface, &context_, keep(&added, "add"));
    QObject::connect(&worker, &StatsThread::signal_del_iface, &context_, keep(&removed, "del"));
    QObject::connect(&worker, &StatsThread::signal_status, &context_, keep(&status, "status"));
    QObject::connect(&worker, &StatsThread::signal_features, &context_,
                     keep(&features, "features"));
    QObject::connect(&worker, &StatsThread::signal_simple_filter, &context_,
                     keep(&simpleFilter, "simple"));
    QObject::connect(&worker, &StatsThread::signal_DPI_filter, &context_, keep(&dpiFilter, "dpi"));
    QObject::connect(&worker, &StatsThread::signal_packets_type_filter, &context_,
                     keep(&packetsTypeFilter, "ptype"));
    QObject::connect(&worker, &StatsThread::signal_update_progress, &context_,
                     keep(&progress, "progress"));
    QObject::connect(&worker, &StatsThread::signal_update_status, &context_,
                     keep(&updateStatus, "updateStatus"));
    QObject::connect(&worker, &StatsThread::signal_sntp_failed, &context_,
                     [this](const QString& text) {
                         sntpFailures.append(text);
                         order.append(QStringLiteral("sntp"));
                     });
    QObject::connect(&worker, &StatsThread::signal_new_capture_file, &context_,
                     [this](NettlebeamApiDeviceHandle handle, const QString& name) {
                         captureFiles.append({handle, name});
                         order.append(QStringLiteral("file"));
                     });
    QObject::connect(
        &worker, &StatsThread::signal_capture_status_changed, &context_,
        [this](NettlebeamApiDeviceHandle handle, NettlebeamApiCallbackValue_DiskDump value) {
            captureStates.append({handle, value});
            order.append(QStringLiteral("capture"));
        });
}

StatsThreadInfo requestFor(NettlebeamApiDeviceHandle handle) {
    StatsThreadInfo info;
    info.handle = handle;
    return info;
}

void WorkerTest::SetUp() {
    daemon_ = std::make_unique<nettlebeam::testsupport::Daemon>();
    daemon_->exportControlPath();
}

void WorkerTest::TearDown() {
    stopWorker();
    daemon_.reset();
}

void WorkerTest::startWorker() {
    worker_ = std::make_unique<StatsThread>();
    recorder_ = std::make_unique<WorkerRecorder>(*worker_);
    ASSERT_EQ(worker_->initialize(), 0);
}

void WorkerTest::stopWorker() {
    worker_.reset();
    QCoreApplication::processEvents();  // deliver what is still queued to the recorder
    recorder_.reset();
}

StatsThreadInfo WorkerTest::waitForArrival(int handle) {
    const auto announced = [&] {
        for (const StatsThreadInfo& info : recorder_->added)
            if (info.handle == handle) return true;
        return false;
    };
    EXPECT_TRUE(waitFor(announced)) << "device " << handle << " was never announced";
    for (const StatsThreadInfo& info : recorder_->added)
        if (info.handle == handle) return info;
    return {};
}

void WorkerTest::settle(int handleWithControl) {
    const int before = recorder_->features.size();
    post(worker_.get(), &StatsThread::slot_get_features, requestFor(handleWithControl));
    ASSERT_TRUE(waitFor([&] { return recorder_->features.size() > before; }));
}
