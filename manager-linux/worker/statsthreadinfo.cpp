#include "statsthreadinfo.h"

void registerStatsThreadMetaTypes() {
    qRegisterMetaType<StatsThreadInfo>("StatsThreadInfo");
    // The handle is the driver's 32-bit number here, so it travels as that
    // integer type under its own name.
    qRegisterMetaType<NettlebeamApiDeviceHandle>("NettlebeamApiDeviceHandle");
    qRegisterMetaType<NettlebeamApiCallbackValue_DiskDump>("NettlebeamApiCallbackValue_DiskDump");
    qRegisterMetaType<FilterRequest>("FilterRequest");
}
