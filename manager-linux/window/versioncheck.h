// Whether the manager can work with an arriving device: the driver that
// serves it and the library in this process must be the versions the
// manager was built for. A mismatch yields the message the user sees.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

struct VersionProblem {
    QString title;
    QString text;
};

class VersionCheck {
  public:
    static constexpr const char* kDriverMinimum = "0.1.3.62";
    static constexpr const char* kDriverMaximum = "0.1.3.62";
    static constexpr const char* kLibraryMinimum = "2.3.19.0";
    static constexpr const char* kLibraryMaximum = "2.3.19.0";

    // The driver is checked first; nothing when both are in range.
    static std::optional<VersionProblem> check(uint32_t driverVersion, uint32_t libraryVersion);
};
