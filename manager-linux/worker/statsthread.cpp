#include "statsthread.h"

#include <QThread>
#include <QtDebug>
#include <cstdlib>

#include "sntpclient.h"
#include "sntpresync.h"
#include "timesource.h"
#include "updatethread.h"

namespace {

constexpr NettlebeamApiCapabilities kStatisticsCapabilities = CapStatisticsV1 | CapStatisticsV2;

bool has(NettlebeamApiCapabilities capabilities, NettlebeamApiCapabilities bit) {
    return (capabilities & bit) != 0;
}

// The status reply: identity always, the rest as the capabilities allow.
// False as soon as any read fails.
bool readStatus(NettlebeamApiDeviceHandle handle, StatsThreadInfo* reply) {
    reply->handle = handle;
    if (NettlebeamAPIGetDeviceType(handle, &reply->type) != 0) return false;
    reply->capabilities = NettlebeamAPIGetDeviceCapabilitiesEx(handle);
    if (NettlebeamAPIGetDeviceMAC(handle, reply->mac) != 0) return false;
    if (NettlebeamAPIGetVersions(handle, &reply->versions) != 0) return false;
    const NettlebeamApiCapabilities capabilities = reply->capabilities;
    if (has(capabilities, CapDeviceControl)) {
        if (NettlebeamAPIGetDeviceFeatures(handle, &reply->features) != 0) return false;
        if (NettlebeamAPIGetDevicePortsSpeed(handle, &reply->portsSpeed) != 0) return false;
        if (NettlebeamAPIGetLinkStatus(handle, &reply->linkStatus) != 0) return false;
        if (NettlebeamAPIGetDeviceExtraInfo(handle, &reply->extraInfo) != 0) return false;
    }
    if (has(capabilities, kStatisticsCapabilities) &&
        NettlebeamAPIGetStatistics(handle, &reply->statistics) != 0) {
        return false;
    }
    if (has(capabilities, CapTiming) &&
        NettlebeamAPIGetTimingStatus(handle, &reply->timingStatus) != 0) {
        return false;
    }
    if (has(capabilities, CapDeviceControl) &&
        NettlebeamAPIDiskDumpGetStatus(handle, &reply->captureStatus) != 0) {
        return false;
    }
    return true;
}

}  // namespace

StatsThread::StatsThread() : thread_(new QThread) {
    registerStatsThreadMetaTypes();
    thread_->start(QThread::InheritPriority);
    moveToThread(thread_);
}

StatsThread::~StatsThread() {
    thread_->exit(0);
    thread_->wait();  // queued requests not yet handled are dropped
    // An update whose device left ends on its own, possibly after the loop
    // that would have deleted it: it is waited for and deleted here.
    for (UpdateThread* update : std::as_const(updates_)) {
        update->wait();
        delete update;
    }
    NettlebeamAPIUninitialize();
    // Global registrations outlive the library's initialisation; they must
    // not point at a deleted worker.
    NettlebeamAPIRemoveGlobalCallback(NETTLEBEAM_CALLBACK_NEW_DEVICE, &StatsThread::onNewDevice);
    NettlebeamAPIRemoveGlobalCallback(NETTLEBEAM_CALLBACK_DEVICE_GONE, &StatsThread::onDeviceGone);
    delete thread_;
}

int32_t StatsThread::initialize() {
    NettlebeamAPIAddGlobalCallback(NETTLEBEAM_CALLBACK_NEW_DEVICE, &StatsThread::onNewDevice, this);
    NettlebeamAPIAddGlobalCallback(NETTLEBEAM_CALLBACK_DEVICE_GONE, &StatsThread::onDeviceGone,
                                   this);
    return NettlebeamAPIInitialize();
}

bool StatsThread::readArrivingDevice(NettlebeamApiDeviceHandle handle, StatsThreadInfo* info) {
    info->handle = handle;
    if (NettlebeamAPIGetDeviceType(handle, &info->type) != 0) return false;
    info->capabilities = NettlebeamAPIGetDeviceCapabilitiesEx(handle);
    if (NettlebeamAPIGetDeviceMAC(handle, info->mac) != 0) return false;
    if (NettlebeamAPIGetVersions(handle, &info->versions) != 0) return false;
    if (has(info->capabilities, CapDeviceControl) &&
        NettlebeamAPIGetDeviceFeatures(handle, &info->features) != 0) {
        return false;
    }
    return true;
}

void StatsThread::onNewDevice(NettlebeamApiDeviceHandle handle, void*, void* context) {
    auto* self = static_cast<StatsThread*>(context);
    qDebug("New device\n");
    StatsThreadInfo info;
    if (!readArrivingDevice(handle, &info)) return;
    NettlebeamAPIAddDeviceCallback(handle, NETTLEBEAM_CALLBACK_NEW_CAPTURE_FILE,
                                   &StatsThread::onNewCaptureFile, self);
    NettlebeamAPIAddDeviceCallback(handle, NETTLEBEAM_CALLBACK_DISK_DUMP_STATUS,
                                   &StatsThread::onCaptureStatus, self);
    emit self->signal_add_iface(info);
}

void StatsThread::onDeviceGone(NettlebeamApiDeviceHandle handle, void*, void* context) {
    qDebug("Device Gone\n");
    StatsThreadInfo info;
    info.handle = handle;
    emit static_cast<StatsThread*>(context)->signal_del_iface(info);
}

void StatsThread::onNewCaptureFile(NettlebeamApiDeviceHandle handle, void* payload, void* context) {
    if (payload == nullptr) return;
    const QString name = QString::fromUtf16(static_cast<const char16_t*>(payload));
    emit static_cast<StatsThread*>(context)->signal_new_capture_file(handle, name);
}

void StatsThread::onCaptureStatus(NettlebeamApiDeviceHandle handle, void* payload, void* context) {
    if (payload == nullptr) return;
    const auto status = *static_cast<const NettlebeamApiCallbackValue_DiskDump*>(payload);
    emit static_cast<StatsThread*>(context)->signal_capture_status_changed(handle, status);
}

void StatsThread::slot_get_iface_status(const StatsThreadInfo& info) {
    StatsThreadInfo reply;
    if (readStatus(info.handle, &reply)) emit signal_status(reply);
}

void StatsThread::slot_get_features(const StatsThreadInfo& info) {
    StatsThreadInfo reply = info;
    if (NettlebeamAPIGetDeviceFeatures(info.handle, &reply.features) != 0) return;
    if (NettlebeamAPIGetDevicePortsSpeed(info.handle, &reply.portsSpeed) != 0) return;
    emit signal_features(reply);
}

void StatsThread::slot_set_features(const StatsThreadInfo& info) {
    if (NettlebeamAPISetDeviceFeatures(info.handle, info.features) != 0) return;
    NettlebeamAPISetDevicePortsSpeed(info.handle, info.portsSpeed);
}

void StatsThread::slot_save_features(const StatsThreadInfo& info) {
    emit signal_features_saved(info.handle, NettlebeamAPISaveDeviceFeatures(info.handle));
}

void StatsThread::slot_dd_start(const StatsThreadInfo& info) {
    // A refused configuration must not start a capture with the settings
    // the device kept from before (unlimited sizes included).
    int32_t status = captureConfigStatus_.value(info.handle, NETTLEBEAM_STATUS_SUCCESS);
    if (status == NETTLEBEAM_STATUS_SUCCESS) status = NettlebeamAPIDiskDumpStart(info.handle);
    if (status != NETTLEBEAM_STATUS_SUCCESS) emit signal_capture_start_refused(info.handle, status);
}

void StatsThread::slot_dd_stop(const StatsThreadInfo& info) {
    NettlebeamAPIDiskDumpStop(info.handle);
}

void StatsThread::slot_dd_set_config(const StatsThreadInfo& info) {
    captureConfigStatus_.insert(info.handle,
                                NettlebeamAPIDiskDumpSetConfig(info.handle, info.captureConfig));
    // The library copied what it needs; the name is freed whatever it answered.
    std::free(const_cast<NettlebeamApiChar16*>(info.captureConfig.fileName));
}

void StatsThread::slot_update_start(const StatsThreadInfo& info) {
    auto* update = new UpdateThread(info);
    updates_.insert(update);
    connect(update, &QThread::finished, this, [this, update] {
        updates_.remove(update);
        update->deleteLater();
    });
    connect(update, &UpdateThread::signal_update_status, this, &StatsThread::slot_update_status);
    connect(update, &UpdateThread::signal_update_progress, this,
            &StatsThread::slot_update_progress);
    update->start(QThread::InheritPriority);
}

void StatsThread::slot_update_progress(const StatsThreadInfo& info) {
    emit signal_update_progress(info);
}

void StatsThread::slot_update_status(const StatsThreadInfo& info) {
    emit signal_update_status(info);
}

void StatsThread::slot_timing_resync(const StatsThreadInfo& info) {
    NettlebeamApiTimingTime timing = info.timingSet;
    if (timing.source != TimeSource::kSntp) {
        NettlebeamAPISetTimingTime(info.handle, timing);
        return;
    }
    const SntpServer server = sntpServerFromEnvironment();
    const auto seconds =
        obtainSntpSeconds([&server](SntpTime* time) { return querySntpServer(server, time); });
    if (!seconds) {
        emit signal_sntp_failed(QStringLiteral("Failed to get time from SNTP server"));
        return;
    }
    timing.timeWord1 = int32_t(*seconds);
    timing.timeWord2 = int32_t(*seconds);
    NettlebeamAPISetTimingTime(info.handle, timing);
}

void StatsThread::slot_set_v2counterconfig(const StatsThreadInfo& info) {
    NettlebeamAPISetCounterV2(info.handle, info.counterConfig);
}

void StatsThread::slot_get_v2counterconfigs(const StatsThreadInfo& info) {
    StatsThreadInfo reply = info;
    for (int32_t index = 0; index < NETTLEBEAM_PROGRAMMABLE_COUNTERS; ++index) {
        reply.counterConfig = NettlebeamApiCounterV2{};
        if (NettlebeamAPIGetCounterV2(info.handle, index, &reply.counterConfig) != 0) return;
        reply.counterConfig.index = index;
        emit signal_v2counterconfig(reply);
    }
}

void StatsThread::slot_get_simple_filter(const StatsThreadInfo& info) {
    StatsThreadInfo reply = info;
    if (NettlebeamAPIGetPacketFilter(info.handle, &reply.packetFilter) == 0)
        emit signal_simple_filter(reply);
}

void StatsThread::slot_get_DPI_filter(const StatsThreadInfo& info) {
    StatsThreadInfo reply = info;
    if (NettlebeamAPIGetDpiFilter(info.handle, &reply.dpiFilter) == 0)
        emit signal_DPI_filter(reply);
}

void StatsThread::slot_get_packets_type_filter(const StatsThreadInfo& info) {
    StatsThreadInfo reply = info;
    if (NettlebeamAPIGetPacketsTypeFilter(info.handle, &reply.packetsTypeFilter) == 0)
        emit signal_packets_type_filter(reply);
}

void StatsThread::slot_set_simple_filter(const StatsThreadInfo& info) {
    checkFilterRequest(info, FilterRequest::SetHeader,
                       NettlebeamAPISetPacketFilter(info.handle, info.packetFilter));
}

void StatsThread::slot_set_DPI_filter(const StatsThreadInfo& info) {
    checkFilterRequest(info, FilterRequest::SetPayload,
                       NettlebeamAPISetDpiFilter(info.handle, info.dpiFilter));
}

void StatsThread::slot_set_packets_type_filter(const StatsThreadInfo& info) {
    checkFilterRequest(info, FilterRequest::SetPacketTypes,
                       NettlebeamAPISetPacketsTypeFilter(info.handle, info.packetsTypeFilter));
}

void StatsThread::slot_save_simple_filter(const StatsThreadInfo& info) {
    checkFilterRequest(info, FilterRequest::SaveHeader, NettlebeamAPISavePacketFilter(info.handle));
}

void StatsThread::slot_save_DPI_filter(const StatsThreadInfo& info) {
    checkFilterRequest(info, FilterRequest::SavePayload, NettlebeamAPISaveDpiFilter(info.handle));
}

void StatsThread::slot_save_packets_type_filter(const StatsThreadInfo& info) {
    checkFilterRequest(info, FilterRequest::SavePacketTypes,
                       NettlebeamAPISavePacketsTypeFilter(info.handle));
}

void StatsThread::checkFilterRequest(const StatsThreadInfo& info, FilterRequest request,
                                     int32_t status) {
    if (status == NETTLEBEAM_STATUS_SUCCESS) return;
    qWarning("Filter request %d refused for device %d: status %d", static_cast<int>(request),
             info.handle, status);
    emit signal_filter_refused(info.handle, request);
    switch (request) {
        case FilterRequest::SetHeader:
        case FilterRequest::SaveHeader:
            slot_get_simple_filter(info);
            break;
        case FilterRequest::SetPayload:
        case FilterRequest::SavePayload:
            slot_get_DPI_filter(info);
            break;
        case FilterRequest::SetPacketTypes:
        case FilterRequest::SavePacketTypes:
            slot_get_packets_type_filter(info);
            break;
    }
}

void StatsThread::slot_restart_device(const StatsThreadInfo& info) {
    NettlebeamAPIRestartDevice(info.handle);
}
