// Firmware updates of simulated devices through the worker's update thread,
// with the images and catalogue the build ships.
#include <cstring>

#include "firmwarestash.h"
#include "worker_fixture.h"

namespace {

constexpr int kUpdateTimeoutMs = 60000;

StatsThreadInfo updateRequest(int handle, const QString& image) {
    StatsThreadInfo request = requestFor(handle);
    const QByteArray path = image.toLatin1();
    std::strncpy(request.firmwarePath, path.constData(), sizeof request.firmwarePath - 1);
    return request;
}

}  // namespace

TEST_F(WorkerTest, UpdatesADeviceWithTheShippedImageAndReportsProgress) {
    FirmwareStash stash(QStringLiteral(SHIPPED_FIRMWARE_DIR));
    ASSERT_TRUE(stash.Refresh());
    const int device = attach({"--type", "5", "--sw-fw", "1.0.0.0", "--hw-fw", "300"});
    startWorker();
    const StatsThreadInfo arrived = waitForArrival(device);
    ASSERT_TRUE(
        stash.isUpdateAvailable(arrived.type, arrived.versions, arrived.features.configWord4High));

    StatsThreadInfo request = updateRequest(device, stash.entryForType(5).file);
    request.updateProgress = -1;
    post(worker_.get(), &StatsThread::slot_update_start, request);
    ASSERT_TRUE(waitFor([&] { return !recorder_->updateStatus.isEmpty(); }, kUpdateTimeoutMs));

    const QList<StatsThreadInfo>& progress = recorder_->progress;
    ASSERT_GE(progress.size(), 3);
    for (int i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i].updateProgress, progress[i - 1].updateProgress);
    // The final value is reported twice: by the last poll and once more with the result.
    EXPECT_EQ(progress.last().updateProgress, 100);
    EXPECT_EQ(progress[progress.size() - 2].updateProgress, 100);
    ASSERT_EQ(recorder_->updateStatus.size(), 1);
    const StatsThreadInfo result = recorder_->updateStatus.first();
    EXPECT_TRUE(result.updateSucceeded);
    EXPECT_EQ(result.updateProgress, 100);
    EXPECT_EQ(result.handle, device);
    EXPECT_STREQ(result.firmwarePath, request.firmwarePath);
    EXPECT_EQ(recorder_->order.last(), QStringLiteral("updateStatus"));

    // After its restart the device runs the new firmware: nothing more to offer.
    post(worker_.get(), &StatsThread::slot_restart_device, requestFor(device));
    ASSERT_TRUE(waitFor([&] { return recorder_->added.size() == 2; }, 20000));
    const StatsThreadInfo restarted = recorder_->added.last();
    EXPECT_EQ(recorder_->removed.size(), 1);
    EXPECT_EQ(restarted.type, 5u);
    const uint8_t installed[4] = {1, 1, 0, 0};
    EXPECT_EQ(std::memcmp(restarted.versions.swFirmwareVersion, installed, 4), 0);
    EXPECT_EQ(restarted.versions.hwFirmwareVersion, 310u);
    EXPECT_FALSE(stash.isUpdateAvailable(restarted.type, restarted.versions,
                                         restarted.features.configWord4High));
}

TEST_F(WorkerTest, FailedOrRefusedUpdatesEndWithAFailureStatus) {
    FirmwareStash stash(QStringLiteral(SHIPPED_FIRMWARE_DIR));
    ASSERT_TRUE(stash.Refresh());
    const int device = attach({"--type", "5"});
    startWorker();
    waitForArrival(device);

    // An image made for another device type is refused by the library's checks.
    post(worker_.get(), &StatsThread::slot_update_start,
         updateRequest(device, stash.entryForType(3).file));
    ASSERT_TRUE(waitFor([&] { return !recorder_->updateStatus.isEmpty(); }, kUpdateTimeoutMs));
    EXPECT_FALSE(recorder_->updateStatus.first().updateSucceeded);
    EXPECT_GE(recorder_->progress.size(), 2);
    EXPECT_LT(recorder_->progress.last().updateProgress, 100);

    // A start the library refuses (unknown device) gives one status and no progress.
    recorder_->progress.clear();
    recorder_->updateStatus.clear();
    post(worker_.get(), &StatsThread::slot_update_start,
         updateRequest(device + 1000, stash.entryForType(5).file));
    ASSERT_TRUE(waitFor([&] { return !recorder_->updateStatus.isEmpty(); }));
    settle(device);
    EXPECT_EQ(recorder_->updateStatus.size(), 1);
    EXPECT_FALSE(recorder_->updateStatus.first().updateSucceeded);
    EXPECT_TRUE(recorder_->progress.isEmpty());

    // A missing file fails too, and the device keeps its firmware.
    post(worker_.get(), &StatsThread::slot_update_start,
         updateRequest(device, QStringLiteral("/nonexistent/firmware.bin")));
    ASSERT_TRUE(waitFor([&] { return recorder_->updateStatus.size() == 2; }, kUpdateTimeoutMs));
    EXPECT_FALSE(recorder_->updateStatus.last().updateSucceeded);
    NettlebeamApiVersions versions{};
    ASSERT_EQ(NettlebeamAPIGetVersions(device, &versions), 0);
    EXPECT_EQ(versions.swFirmwareVersion[1], 0);
}
