// Ports that are not simulated: a device whose frames and links come from
// outside the daemon (Linux network interfaces) keeps the simulated device's
// identity, configuration, filters, counters and captures, and takes only
// its traffic and its links from here.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "../traffic/frame_source.h"
#include "link_model.h"
#include "module_pages.h"

namespace nettlebeam::driver {

class ExternalPorts {
  public:
    virtual ~ExternalPorts() = default;
    // The device's frames, opened anew at each power-on. Throws
    // std::runtime_error naming what could not be opened.
    virtual std::unique_ptr<traffic::FrameSource> openFrames() = 0;
    // Port 0 (A) or 1 (B) as it is now; asked every tick, so it stays cheap.
    virtual sim::PortLink link(int port) = 0;
    // The module in port 0 (A) or 1 (B)'s cage; empty when there is none.
    // Asked per request, so it answers from a recent reading rather than
    // wait for a slow module.
    virtual std::optional<sim::ModulePages> module(int port) = 0;
    // Whether the ports can pass frames between each other at all. A device
    // whose ports cannot keeps the configuration's inline mode off and
    // refuses a configuration that turns it on.
    virtual bool canForward() const = 0;
    // The device's configuration asks for inline forwarding and which ports
    // are disabled; called whenever the configuration is written or restored.
    virtual void configure(bool inlineMode, std::array<bool, 2> disabled) = 0;
    // The configuration asks port 0 (A) or 1 (B) to advertise or force these
    // modes. Empty when the port took them, else why not (the refusal the
    // device answers with; the daemon logs it).
    virtual std::string setAdvertisement(int port, const sim::PortAdvertisement& modes) = 0;
    // What `nettlebeamd devices` adds about the ports.
    virtual std::string describe() const = 0;
};

}  // namespace nettlebeam::driver
