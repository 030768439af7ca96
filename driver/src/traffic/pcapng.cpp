#include "pcapng.h"

#include <bit>

#include "byte_order.h"

namespace nettlebeam::traffic::pcapng {
namespace {

static_assert(std::endian::native == std::endian::little,
              "capture blocks are written in host order, which must be little-endian");

class BlockBuilder {
  public:
    explicit BlockBuilder(uint32_t type) { put32(type), put32(0); }
    void put16(uint16_t v) { wire::appendLe16(bytes_, v); }
    void put32(uint32_t v) { wire::appendLe32(bytes_, v); }
    void put64(uint64_t v) { put32(uint32_t(v)), put32(uint32_t(v >> 32)); }
    void option(uint16_t code, std::span<const uint8_t> value) {
        put16(code);
        put16(static_cast<uint16_t>(value.size()));
        bytes_.insert(bytes_.end(), value.begin(), value.end());
        bytes_.resize(padded(bytes_.size()), 0);
    }
    void option64(uint16_t code, uint64_t value) {
        uint8_t raw[8];
        std::memcpy(raw, &value, 8);
        option(code, raw);
    }
    void timestampOption(uint16_t code, uint64_t ns) {
        // Timestamps in options are high word first, like in packet blocks.
        uint32_t words[2] = {static_cast<uint32_t>(ns >> 32), static_cast<uint32_t>(ns)};
        uint8_t raw[8];
        std::memcpy(raw, words, 8);
        option(code, raw);
    }
    std::vector<uint8_t> finish() {
        const uint32_t total = static_cast<uint32_t>(bytes_.size() + 4);
        put32(total);
        std::memcpy(bytes_.data() + 4, &total, 4);
        return std::move(bytes_);
    }

  private:
    std::vector<uint8_t> bytes_;
};

std::span<const uint8_t> text(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace

std::vector<uint8_t> fileHeader(uint32_t snapLength, std::string_view application) {
    BlockBuilder section(kSectionHeader);
    section.put32(0x1A2B3C4D);
    section.put16(1);
    section.put16(0);
    section.put64(~uint64_t{0});           // section length not known in advance
    section.option(4, text(application));  // shb_userappl
    section.put32(0);                      // opt_endofopt
    std::vector<uint8_t> out = section.finish();

    for (std::string_view name : {"Port A", "Port B"}) {
        BlockBuilder interface(kInterfaceDescription);
        interface.put16(kLinkTypeEthernet);
        interface.put16(0);
        interface.put32(snapLength);
        interface.option(2, text(name));  // if_name
        const uint8_t nanoseconds = 9;
        interface.option(9, {&nanoseconds, 1});  // if_tsresol
        interface.put32(0);
        const auto block = interface.finish();
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

std::vector<uint8_t> interfaceStatistics(uint32_t interfaceId, uint64_t startNs, uint64_t endNs,
                                         const InterfaceCounts& counts) {
    BlockBuilder block(kInterfaceStatistics);
    block.put32(interfaceId);
    block.put32(static_cast<uint32_t>(endNs >> 32));
    block.put32(static_cast<uint32_t>(endNs));
    block.timestampOption(2, startNs);   // isb_starttime
    block.timestampOption(3, endNs);     // isb_endtime
    block.option64(4, counts.received);  // isb_ifrecv
    block.option64(5, counts.dropped);   // isb_ifdrop
    block.option64(6, counts.accepted);  // isb_filteraccept
    block.put32(0);
    return block.finish();
}

}  // namespace nettlebeam::traffic::pcapng
