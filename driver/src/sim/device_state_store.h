// What a simulated device keeps in non-volatile memory, stored in the
// daemon's state folder so that it survives restarts of the device and of
// the daemon: one small text file per device, named after its MAC address.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nettlebeam::driver::sim {

struct PersistedState {
    std::vector<uint8_t> configuration;  // each empty when never saved
    std::vector<uint8_t> packetTypeFilter;
    std::vector<uint8_t> dpiFilter;
    std::vector<uint8_t> packetFilter;
    // Set once a firmware update has been programmed.
    std::optional<std::array<uint8_t, 4>> swFirmwareVersion;
    std::optional<uint32_t> hwFirmwareVersion;
    std::optional<uint8_t> hardwareId;

    bool operator==(const PersistedState&) const = default;
};

class DeviceStateStore {
  public:
    // An empty directory keeps nothing: loads find nothing and saves succeed.
    DeviceStateStore(std::string directory, const std::array<uint8_t, 6>& mac);

    // Empty when there is no file; a malformed file, or anything but a
    // regular file of the daemon's user, is reported on stderr and ignored.
    std::optional<PersistedState> load() const;
    // Writes a new temporary file and renames it over the old one, so a
    // crash never leaves half a file. False (reported on stderr) when it fails.
    bool save(const PersistedState& state) const;
    const std::string& path() const { return path_; }

  private:
    // The file's bytes (up to one more than a state file may hold); false
    // when there is none to read or it is not to be trusted (reported).
    bool readOwnFile(std::string& content) const;

    std::string directory_;
    std::string path_;
};

}  // namespace nettlebeam::driver::sim
