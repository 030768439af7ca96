#include "managermetatypes.h"

#include "glintfieldmonitor.h"
#include "nettlebeamdevice.h"
#include "statsthreadinfo.h"

void registerManagerMetaTypes() {
    registerStatsThreadMetaTypes();
    qRegisterMetaType<GlintfieldMonitor::glintfieldmonitor_target>("glintfieldmonitor_target");
    qRegisterMetaType<GlintfieldMonitor::glintfieldmonitor_status>("glintfieldmonitor_status");
    qRegisterMetaType<GlintfieldMonitor::glintfieldmonitor_command>("glintfieldmonitor_command");
    qRegisterMetaType<NettlebeamDevice*>("NettlebeamDevice *");
}
