#include "privileges.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace nettlebeam::driver::netif {

namespace {

bool effective(const __user_cap_data_struct (&data)[2], int capability) {
    return (data[capability / 32].effective & (1u << (capability % 32))) != 0;
}

}  // namespace

std::optional<std::string> missingPrivilege() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    // Asked of the kernel, not derived from the user id: a root daemon in a
    // container or under a bounding set may lack them, a program with file
    // capabilities has them without root.
    if (syscall(SYS_capget, &header, data) != 0) return "cannot read the daemon's capabilities";
    const char* missing = !effective(data, CAP_NET_RAW)     ? "CAP_NET_RAW"
                          : !effective(data, CAP_NET_ADMIN) ? "CAP_NET_ADMIN"
                                                            : nullptr;
    if (missing == nullptr) return std::nullopt;
    return std::string("the daemon lacks ") + missing +
           " for interface devices: run it as root or grant it with "
           "'setcap cap_net_raw,cap_net_admin+ep' on the nettlebeamd program";
}

}  // namespace nettlebeam::driver::netif
