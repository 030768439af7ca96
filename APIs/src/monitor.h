// The monitor thread: keeps the device list current and raises the callbacks.
#pragma once

#include <memory>

#include "library_state.h"
#include "monitor_control.h"

namespace nettlebeam::api {

// The thread body; returns once `control` is stopped.
void runMonitor(Library& library, std::shared_ptr<MonitorControl> control);

}  // namespace nettlebeam::api
