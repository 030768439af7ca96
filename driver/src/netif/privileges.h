// The capabilities an interface device needs: CAP_NET_RAW for the packet
// sockets, CAP_NET_ADMIN for promiscuous mode, forwarding and link settings.
#pragma once

#include <optional>
#include <string>

namespace nettlebeam::driver::netif {

// One line naming the capability the daemon lacks and how to grant it;
// empty when it has both.
std::optional<std::string> missingPrivilege();

}  // namespace nettlebeam::driver::netif
