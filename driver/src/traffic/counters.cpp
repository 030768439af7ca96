#include "counters.h"

#include <algorithm>
#include <cstring>

namespace nettlebeam::traffic {
namespace {

// Condition bits of a frame, shared by the tested and required masks.
enum Condition : uint16_t {
    kIPv4 = 1u << 0,
    kIPv6 = 1u << 1,
    kBroadcast = 1u << 2,
    kMulticast = 1u << 3,
    kUnicast = 1u << 4,
    kIcmp = 1u << 5,
    kUdp = 1u << 6,
    kTcp = 1u << 7,
    kCrcValid = 1u << 8,
    kDropped = 1u << 9,
};

struct BlockBit {
    uint8_t valueByte, valueBit, testedByte, testedBit;
    Condition condition;
};

// Where each condition's value and "tested" bits sit in the 30-byte block.
constexpr std::array<BlockBit, 10> kConditionBits{{
    {4, 7, 23, 1, kIPv4},
    {4, 6, 23, 0, kIPv6},
    {4, 5, 22, 7, kBroadcast},
    {4, 4, 22, 6, kUnicast},
    {4, 3, 22, 5, kMulticast},
    {4, 2, 22, 4, kIcmp},
    {4, 1, 22, 3, kUdp},
    {4, 0, 22, 2, kTcp},
    {5, 7, 24, 1, kCrcValid},
    {5, 6, 24, 0, kDropped},
}};

bool bitSet(std::span<const uint8_t> block, uint8_t byte, uint8_t bit) {
    return (block[byte] >> bit) & 1u;
}

// Pattern byte i's enable bit: bytes 0..5 in byte 24 bits 2..7, 6..13 in
// byte 25, 14..15 in byte 26 bits 0..1.
bool careBit(std::span<const uint8_t> block, size_t i) {
    const size_t bit = i + 2;
    return (block[24 + bit / 8] >> (bit % 8)) & 1u;
}

// An address as the device stores it: last byte first, IPv4 in four bytes.
std::array<uint8_t, 16> deviceOrder(const std::array<uint8_t, 16>& address, bool ipv4) {
    std::array<uint8_t, 16> out{};
    const size_t length = ipv4 ? 4 : 16;
    for (size_t i = 0; i < length; ++i) out[i] = address[length - 1 - i];
    return out;
}

}  // namespace

void PortCounters::clear() {
    for (auto* v : {&bytes, &lessThan64, &from64To1518, &moreThan1518, &crcErrors, &jabbers,
                    &collisions, &hwDropped})
        v->store(0, std::memory_order_relaxed);
}

uint16_t conditionBits(const Frame& frame, const FrameInfo& info, Delivery delivery) {
    uint16_t bits = 0;
    if (info.ipv4) bits |= kIPv4;
    if (info.ipv6) bits |= kIPv6;
    if (info.broadcast) bits |= kBroadcast;
    if (info.multicast) bits |= kMulticast;
    if (info.unicast) bits |= kUnicast;
    if (info.icmp) bits |= kIcmp;
    if (info.udp) bits |= kUdp;
    if (info.tcp) bits |= kTcp;
    if (frame.crcValid()) bits |= kCrcValid;
    if (delivery == Delivery::DroppedByDevice || delivery == Delivery::DroppedByHost)
        bits |= kDropped;
    return bits;
}

std::optional<ProgrammableCounter> ProgrammableCounter::fromBlock(std::span<const uint8_t> block) {
    if (block.size() != kBlockSize || block[0] >= CounterBank::kCount) return std::nullopt;
    ProgrammableCounter c;
    std::copy(block.begin(), block.end(), c.block_.begin());
    c.countBytes_ = bitSet(block, 1, 0);
    c.portA_ = bitSet(block, 1, 1);
    c.portB_ = bitSet(block, 1, 2);
    c.size_ = static_cast<uint16_t>(block[2] | block[3] << 8);
    c.sizeCode_ = block[22] & 0x03;
    for (const BlockBit& b : kConditionBits) {
        if (!bitSet(block, b.testedByte, b.testedBit)) continue;
        c.tested_ |= b.condition;
        if (bitSet(block, b.valueByte, b.valueBit)) c.required_ |= b.condition;
    }
    for (size_t i = 0; i < 16; ++i) {
        c.care_[i] = careBit(block, i);
        c.pattern_[i] = block[6 + i];
        c.anyCare_ = c.anyCare_ || c.care_[i];
    }
    return c;
}

bool ProgrammableCounter::ipMatches(const FrameInfo& info) const {
    if (!info.ipv4 && !info.ipv6) return false;
    auto same = [&](const std::array<uint8_t, 16>& address) {
        const auto stored = deviceOrder(address, info.ipv4);
        for (size_t i = 0; i < 16; ++i)
            if (care_[i] && stored[i] != pattern_[i]) return false;
        return true;
    };
    return same(info.srcIp) || same(info.dstIp);
}

bool ProgrammableCounter::matches(const Frame& frame, const FrameInfo& info,
                                  uint16_t conditions) const {
    if (!(frame.port == Port::A ? portA_ : portB_)) return false;
    if ((conditions & tested_) != required_) return false;
    const uint16_t size = static_cast<uint16_t>(frame.wireLength & 0xFFFF);
    switch (sizeCode_) {
        case 1:
            if (!(size < size_)) return false;
            break;
        case 2:
            if (!(size > size_)) return false;
            break;
        case 3:
            if (size != size_) return false;
            break;
        default:
            break;
    }
    return !anyCare_ || ipMatches(info);
}

bool CounterBank::program(std::span<const uint8_t> block) {
    auto counter = ProgrammableCounter::fromBlock(block);
    if (!counter) return false;
    while (lock_.test_and_set(std::memory_order_acquire)) {
    }
    shared_[counter->index()] = *counter;
    resetPending_[counter->index()].store(true, std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_relaxed);
    lock_.clear(std::memory_order_release);
    values_[counter->index()].store(0, std::memory_order_relaxed);
    return true;
}

std::array<uint8_t, ProgrammableCounter::kBlockSize> CounterBank::definition(size_t index) const {
    while (lock_.test_and_set(std::memory_order_acquire)) {
    }
    auto block = shared_[index].block();
    lock_.clear(std::memory_order_release);
    block[0] = static_cast<uint8_t>(index);
    return block;
}

void CounterBank::refresh() {
    const uint64_t generation = generation_.load(std::memory_order_relaxed);
    if (generation != activeGeneration_) {
        while (lock_.test_and_set(std::memory_order_acquire)) {
        }
        active_ = shared_;
        activeGeneration_ = generation_.load(std::memory_order_relaxed);
        activeCount_ = 0;
        for (size_t i = 0; i < kCount; ++i)
            if (active_[i].countsAnything())
                activeIndexes_[activeCount_++] = static_cast<uint8_t>(i);
        for (size_t i = 0; i < kCount; ++i)
            if (resetPending_[i].exchange(false, std::memory_order_relaxed))
                values_[i].store(0, std::memory_order_relaxed);
        lock_.clear(std::memory_order_release);
    }
}

void CounterBank::count(const Frame& frame, const FrameInfo& info, Delivery delivery) {
    refresh();
    if (activeCount_ == 0) return;
    const uint16_t conditions = conditionBits(frame, info, delivery);
    for (size_t k = 0; k < activeCount_; ++k) {
        const size_t i = activeIndexes_[k];
        if (active_[i].matches(frame, info, conditions)) bump(values_[i], active_[i].amount(frame));
    }
}

std::vector<uint8_t> CounterBank::reply() const {
    std::vector<uint8_t> out(kCount * 8);
    for (size_t i = 0; i < kCount; ++i) {
        const uint64_t v = value(i);
        for (size_t b = 0; b < 8; ++b) out[i * 8 + b] = static_cast<uint8_t>(v >> (8 * b));
    }
    return out;
}

}  // namespace nettlebeam::traffic
