#include "fault_injection.h"

#include <algorithm>

#include "byte_order.h"

namespace nettlebeam::driver {

namespace {

constexpr size_t kFaultHeaderBytes = 24;

}  // namespace

void FaultInjector::arm(Fault fault) {
    if (fault.times == 0) return;
    faults_.push_back(std::move(fault));
}

std::optional<Fault> FaultInjector::take(uint32_t code, std::optional<DeviceHandle> handle) {
    auto matches = [&](const Fault& fault) {
        if (fault.code != code) return false;
        return handle ? !fault.anyHandle && fault.handle == *handle : fault.anyHandle;
    };
    auto found = std::find_if(faults_.begin(), faults_.end(), matches);
    if (found == faults_.end()) return std::nullopt;
    Fault fault = *found;
    if (--found->times == 0) faults_.erase(found);
    return fault;
}

bool FaultInjector::armed(uint32_t code, DeviceHandle handle) const {
    return std::any_of(faults_.begin(), faults_.end(), [&](const Fault& f) {
        return f.code == code && !f.anyHandle && f.handle == handle;
    });
}

void FaultInjector::forgetDevice(DeviceHandle handle) {
    std::erase_if(faults_, [&](const Fault& f) { return !f.anyHandle && f.handle == handle; });
}

// Layout: any-handle flag, handle, code, action, truncate length, times
// (u32 LE each), then the replacement bytes.
std::vector<uint8_t> encodeFault(const Fault& fault) {
    std::vector<uint8_t> out;
    wire::appendLe32(out, fault.anyHandle ? 1 : 0);
    wire::appendLe32(out, static_cast<uint32_t>(fault.handle));
    wire::appendLe32(out, fault.code);
    wire::appendLe32(out, static_cast<uint32_t>(fault.action));
    wire::appendLe32(out, fault.truncateTo);
    wire::appendLe32(out, fault.times);
    out.insert(out.end(), fault.bytes.begin(), fault.bytes.end());
    return out;
}

std::optional<Fault> decodeFault(const std::vector<uint8_t>& in) {
    if (in.size() < kFaultHeaderBytes) return std::nullopt;
    Fault fault;
    uint32_t any = wire::readLe32(in, 0);
    uint32_t action = wire::readLe32(in, 12);
    if (any > 1 || action > 2) return std::nullopt;
    fault.anyHandle = any == 1;
    fault.handle = static_cast<DeviceHandle>(wire::readLe32(in, 4));
    fault.code = wire::readLe32(in, 8);
    fault.action = static_cast<Fault::Action>(action);
    fault.truncateTo = wire::readLe32(in, 16);
    fault.times = wire::readLe32(in, 20);
    fault.bytes.assign(in.begin() + kFaultHeaderBytes, in.end());
    if (fault.action != Fault::Action::Replace && !fault.bytes.empty()) return std::nullopt;
    return fault;
}

}  // namespace nettlebeam::driver
