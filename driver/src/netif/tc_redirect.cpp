#include "tc_redirect.h"

#include <linux/if_ether.h>
#include <linux/pkt_sched.h>
#include <linux/tc_act/tc_mirred.h>
#include <netlink/errno.h>
#include <netlink/netlink.h>
#include <netlink/route/act/mirred.h>
#include <netlink/route/classifier.h>
#include <netlink/route/cls/u32.h>
#include <netlink/route/link.h>
#include <netlink/route/qdisc.h>
#include <netlink/route/tc.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <stdexcept>

namespace nettlebeam::driver::netif {

namespace {

// The mark: "NB" as the filter priority; the handle is the daemon's pid.
constexpr uint16_t kMarkPriority = 0x4E42;
const uint32_t kIngress = TC_HANDLE(0xFFFF, 0);

nl_sock* connectRoute() {
    nl_sock* socket = nl_socket_alloc();
    if (socket == nullptr) throw std::runtime_error("cannot allocate a netlink socket");
    const int error = nl_connect(socket, NETLINK_ROUTE);
    if (error < 0) {
        nl_socket_free(socket);
        throw std::runtime_error(std::string("cannot open a netlink socket: ") +
                                 nl_geterror(error));
    }
    return socket;
}

// The ingress qdisc of an interface, as the kernel names it.
rtnl_qdisc* ingressQdisc(int index) {
    rtnl_qdisc* qdisc = rtnl_qdisc_alloc();
    rtnl_tc_set_ifindex(TC_CAST(qdisc), index);
    rtnl_tc_set_parent(TC_CAST(qdisc), TC_H_INGRESS);
    rtnl_tc_set_handle(TC_CAST(qdisc), kIngress);
    rtnl_tc_set_kind(TC_CAST(qdisc), "ingress");
    return qdisc;
}

// The marked filter on an interface's ingress: a u32 filter matching every
// frame (kernels build u32 in far more often than matchall), alone at the
// mark's priority, its class id the daemon's pid. With a target, it
// carries the redirect; without, it names the filter for deletion.
rtnl_cls* markedFilter(int index, int target) {
    rtnl_cls* filter = rtnl_cls_alloc();
    rtnl_tc_set_ifindex(TC_CAST(filter), index);
    rtnl_tc_set_parent(TC_CAST(filter), kIngress);
    rtnl_tc_set_kind(TC_CAST(filter), "u32");
    rtnl_cls_set_prio(filter, kMarkPriority);
    rtnl_cls_set_protocol(filter, ETH_P_ALL);
    if (target > 0) {
        rtnl_u32_add_key_uint32(filter, 0, 0, 0, 0);
        rtnl_u32_set_cls_terminal(filter);  // a match runs the action
        rtnl_u32_set_classid(filter, static_cast<uint32_t>(getpid()));
        rtnl_act* redirect = rtnl_act_alloc();
        rtnl_tc_set_kind(TC_CAST(redirect), "mirred");
        rtnl_mirred_set_action(redirect, TCA_EGRESS_REDIR);
        rtnl_mirred_set_policy(redirect, TC_ACT_STOLEN);
        rtnl_mirred_set_ifindex(redirect, static_cast<uint32_t>(target));
        rtnl_u32_add_action(filter, redirect);
        rtnl_act_put(redirect);  // the filter holds its own reference
    }
    return filter;
}

// Whether process `pid` is a running nettlebeamd (a killed one that its
// parent has not reaped yet is not).
bool daemonRuns(uint32_t pid) {
    if (pid == 0 || pid > INT32_MAX) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    // "pid (comm) state ...": the name may hold spaces and parentheses.
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 2 >= line.size())
        return false;
    const char state = line[close + 2];
    return line.substr(open + 1, close - open - 1) == "nettlebeamd" && state != 'Z' && state != 'X';
}

bool isStale(rtnl_cls* filter) {
    const char* kind = rtnl_tc_get_kind(TC_CAST(filter));
    uint32_t owner = 0;
    return rtnl_cls_get_prio(filter) == kMarkPriority && kind != nullptr &&
           std::string(kind) == "u32" && rtnl_u32_get_classid(filter, &owner) == 0 &&
           !daemonRuns(owner);
}

}  // namespace

InlineForwarding::InlineForwarding(std::array<std::string, 2> names, std::array<int, 2> indexes)
    : socket_(connectRoute()), names_(std::move(names)), indexes_(indexes) {
    for (size_t port = 0; port < 2; ++port) {
        rtnl_qdisc* qdisc = ingressQdisc(indexes_[port]);
        const int error = rtnl_qdisc_add(socket_, qdisc, NLM_F_CREATE | NLM_F_EXCL);
        rtnl_qdisc_put(qdisc);
        // One that exists is somebody's; it stays when the device goes.
        if (error == 0) {
            addedQdisc_[port] = true;
        } else if (error != -NLE_EXIST) {
            const std::string reason = nl_geterror(error);
            release();
            throw std::runtime_error("cannot add an ingress qdisc on interface " + names_[port] +
                                     ": " + reason);
        }
    }
}

InlineForwarding::~InlineForwarding() {
    release();
}

void InlineForwarding::release() {
    if (socket_ == nullptr) return;
    for (int port = 0; port < 2; ++port) forward(port, false);
    for (size_t port = 0; port < 2; ++port) {
        if (!addedQdisc_[port]) continue;
        rtnl_qdisc* qdisc = ingressQdisc(indexes_[port]);
        rtnl_qdisc_delete(socket_, qdisc);
        rtnl_qdisc_put(qdisc);
        addedQdisc_[port] = false;
    }
    nl_socket_free(socket_);
    socket_ = nullptr;
}

std::string InlineForwarding::forward(int from, bool on) {
    const size_t port = static_cast<size_t>(from);
    if (forwarding_[port] == on) return {};
    rtnl_cls* filter = markedFilter(indexes_[port], on ? indexes_[1 - port] : 0);
    const int error = on ? rtnl_cls_add(socket_, filter, NLM_F_CREATE | NLM_F_EXCL)
                         : rtnl_cls_delete(socket_, filter, 0);
    rtnl_cls_put(filter);
    // A filter already gone (removed by hand) is as good as removed.
    if (error < 0 && !(!on && error == -NLE_OBJ_NOTFOUND))
        return std::string(on ? "cannot redirect " : "cannot stop redirecting ") + names_[port] +
               " to " + names_[1 - port] + ": " + nl_geterror(error);
    forwarding_[port] = on;
    return {};
}

std::string removeStaleRedirects() {
    nl_sock* socket = nullptr;
    try {
        socket = connectRoute();
    } catch (const std::exception& e) {
        return std::string(e.what()) + "\n";
    }
    std::string removed;
    nl_cache* links = nullptr;
    if (rtnl_link_alloc_cache(socket, AF_UNSPEC, &links) == 0) {
        for (nl_object* o = nl_cache_get_first(links); o != nullptr; o = nl_cache_get_next(o)) {
            auto* link = reinterpret_cast<rtnl_link*>(o);
            const int index = rtnl_link_get_ifindex(link);
            nl_cache* filters = nullptr;
            if (rtnl_cls_alloc_cache(socket, index, kIngress, &filters) != 0) continue;
            for (nl_object* f = nl_cache_get_first(filters); f != nullptr;
                 f = nl_cache_get_next(f)) {
                auto* filter = reinterpret_cast<rtnl_cls*>(f);
                if (!isStale(filter)) continue;
                rtnl_cls* whole = markedFilter(index, 0);
                const int error = rtnl_cls_delete(socket, whole, 0);
                rtnl_cls_put(whole);
                if (error == 0)
                    removed += std::string("removed a stale redirect on interface ") +
                               rtnl_link_get_name(link) + "\n";
            }
            nl_cache_free(filters);
        }
        nl_cache_free(links);
    }
    nl_socket_free(socket);
    return removed;
}

}  // namespace nettlebeam::driver::netif
