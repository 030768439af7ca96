// The physical memory the system can still hand out, for the default size of
// a direct capture's buffer.
#pragma once

#include <QString>
#include <cstdint>

class AvailableMemory {
  public:
    // MemAvailable of /proc/meminfo (free memory plus what the kernel can
    // reclaim at once), or sysinfo's free memory when that line is missing.
    static uint64_t bytes();
    // The MemAvailable figure of a meminfo text in bytes; 0 when absent or malformed.
    static uint64_t fromMeminfo(const QString& text);
};
