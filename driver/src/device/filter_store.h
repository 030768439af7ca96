// The three hardware filters as the device holds them: the blocks in effect
// and the copies saved for power-on.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nettlebeam::driver::sim {

enum class FilterKind { PacketType, Dpi, Packet };

class FilterStore {
  public:
    static constexpr size_t kPacketTypeSize = 8;
    static constexpr size_t kDpiSize = 224;
    static constexpr size_t kPacketSize = 248;

    FilterStore();

    static size_t blockSize(FilterKind kind);
    // Accepts only a well-formed block; the filter is unchanged otherwise.
    bool write(FilterKind kind, std::span<const uint8_t> block);
    const std::vector<uint8_t>& read(FilterKind kind) const { return current_[index(kind)]; }
    void save(FilterKind kind) { saved_[index(kind)] = current_[index(kind)]; }
    const std::vector<uint8_t>& saved(FilterKind kind) const { return saved_[index(kind)]; }
    // Restores a saved copy read back from storage; false when it is malformed.
    bool restoreSaved(FilterKind kind, std::span<const uint8_t> block);
    // Power-on: the saved filters take effect.
    void powerOn() { current_ = saved_; }

    static bool wellFormed(FilterKind kind, std::span<const uint8_t> block);

  private:
    static size_t index(FilterKind kind) { return static_cast<size_t>(kind); }
    std::vector<std::vector<uint8_t>> current_;
    std::vector<std::vector<uint8_t>> saved_;
};

}  // namespace nettlebeam::driver::sim
