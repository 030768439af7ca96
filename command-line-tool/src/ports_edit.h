// The link advertisement of the two ports as `ports show` prints it and
// `ports set` changes it: auto-negotiation, the speed and duplex modes
// offered, pause and master/slave.
#pragma once

#include <NettlebeamAPI.h>

#include <optional>
#include <string>

namespace beamctl {

struct PortsChange {
    bool portA = false;
    bool portB = false;
    std::optional<bool> autoNegotiation;
    std::optional<std::string> modes;  // "1000fd,100fd,100hd,10fd,10hd" or a part
    std::optional<std::string> pause;  // "sym,asym", a part, or "none"
    std::optional<std::string> role;   // "auto", "master" or "slave"
};

// Applies `change` to the ports it names. Nothing on success; otherwise the
// option and why it was refused, and `speeds` is left as it was.
std::optional<std::string> applyPortsChange(NettlebeamApiPortsSpeed& speeds,
                                            const PortsChange& change);

// "Port A : auto-negotiation on, modes 1000fd,100fd, pause sym, role auto\n" per port.
std::string portsReport(const NettlebeamApiPortsSpeed& speeds);
std::string portsJson(const NettlebeamApiPortsSpeed& speeds);

}  // namespace beamctl
