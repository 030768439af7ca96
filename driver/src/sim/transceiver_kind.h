// The modules a simulated ten-gigabit device can have in its cages.
#pragma once

namespace nettlebeam::driver {

enum class TransceiverKind {
    Empty,              // nothing plugged into the cage
    ShortReach,         // 10GBASE-SR, 850 nm, internally calibrated diagnostics
    LongReachExternal,  // 10GBASE-LR, 1310 nm, externally calibrated diagnostics
};

}  // namespace nettlebeam::driver
