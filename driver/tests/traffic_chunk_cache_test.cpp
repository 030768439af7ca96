// The direct capture's chunked cache: order, the byte budget, publishing,
// and chunks taking turns instead of the cache growing.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "traffic/chunk_cache.h"

namespace nettlebeam::traffic {
namespace {

// A block of `length` bytes (at least 8) carrying its sequence number.
void writeBlock(uint8_t* at, size_t length, uint32_t sequence) {
    std::memcpy(at, &sequence, 4);
    const uint32_t size = static_cast<uint32_t>(length);
    std::memcpy(at + 4, &size, 4);
    std::memset(at + 8, static_cast<int>(sequence & 0xFF), length - 8);
}

TEST(ChunkCache, PublishedBlocksComeOutOnceInOrderAcrossThreads) {
    ChunkCache cache(256u << 10, 9000);
    constexpr uint32_t kBlocks = 200000;
    uint32_t refused = 0;
    std::thread producer([&] {
        for (uint32_t i = 0; i < kBlocks; ++i) {
            const size_t length = 16 + (i * 7919) % 1600;
            uint8_t* block = cache.reserve(length);
            if (block == nullptr) {
                ++refused;
            } else {
                writeBlock(block, length, i);
                cache.commit(length);
            }
            if (i % 64 == 0) cache.publish();
        }
        cache.publish();
    });
    uint32_t expected = 0, received = 0;
    bool inOrder = true;
    auto drain = [&] {
        for (auto bytes = cache.readable(); !bytes.empty(); bytes = cache.readable()) {
            size_t at = 0;
            while (at < bytes.size()) {
                uint32_t sequence, size;
                std::memcpy(&sequence, bytes.data() + at, 4);
                std::memcpy(&size, bytes.data() + at + 4, 4);
                // A damaged length would send the walk astray (or nowhere).
                ASSERT_TRUE(size >= 16 && at + size <= bytes.size()) << "damaged block";
                inOrder &= sequence >= expected && size == 16 + (sequence * 7919) % 1600 &&
                           bytes[at + size - 1] == (sequence & 0xFF);
                expected = sequence + 1;
                ++received;
                at += size;
            }
            ASSERT_EQ(at, bytes.size()) << "a block was split between reads";
            cache.release(bytes.size());
        }
    };
    std::atomic<bool> done{false};
    std::thread consumer([&] {
        while (!done.load()) drain();
        drain();
    });
    // The status reads the bytes cached while both sides move.
    bool usedWithinBudget = true;
    std::thread observer([&] {
        while (!done.load()) usedWithinBudget &= cache.used() <= cache.budget();
    });
    producer.join();
    done = true;
    consumer.join();
    observer.join();
    EXPECT_TRUE(usedWithinBudget);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(received + refused, kBlocks);
    EXPECT_EQ(cache.used(), 0u);
    EXPECT_LE(cache.chunksAllocated(), (256u << 10) / cache.chunkSize() + 1);
}

TEST(ChunkCache, TheByteBudgetBoundsWhatIsCachedWhateverChunksAreFree) {
    ChunkCache cache(64u << 10, 2000);
    size_t stored = 0;
    while (uint8_t* block = cache.reserve(1000)) {
        writeBlock(block, 1000, 0);
        cache.commit(1000);
        stored += 1000;
    }
    EXPECT_LE(stored, 64u << 10);
    EXPECT_GT(stored + 1000, 64u << 10) << "refused before the budget was used";
    EXPECT_EQ(cache.used(), stored);
    cache.publish();
    // Writing some out makes room again.
    const auto first = cache.readable();
    ASSERT_GE(first.size(), 3000u);
    cache.release(3000);
    EXPECT_NE(cache.reserve(1000), nullptr);
    // A block longer than a chunk never fits.
    ChunkCache roomy(1u << 30, 2000);
    EXPECT_EQ(roomy.reserve(roomy.chunkSize() + 1), nullptr);
    EXPECT_NE(roomy.reserve(roomy.chunkSize()), nullptr);
}

TEST(ChunkCache, OnlyPublishedBytesAreReadable) {
    ChunkCache cache(1u << 20, 2000);
    uint8_t* block = cache.reserve(100);
    ASSERT_NE(block, nullptr);
    writeBlock(block, 100, 1);
    cache.commit(100);
    EXPECT_TRUE(cache.readable().empty());
    EXPECT_EQ(cache.used(), 100u);
    cache.publish();
    EXPECT_EQ(cache.readable().size(), 100u);
}

TEST(ChunkCache, EveryByteComesOutAsWrittenWhateverTheBlockSizesAndPublishPoints) {
    // Blocks are staged and moved into the chunk a line at a time: sizes
    // from one word to beyond the staging window, lines a publish stored in
    // part, and chunk changes must all come out byte for byte.
    ChunkCache cache(4u << 20, 70000);
    uint32_t state = 12345;
    auto random = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    auto byteOf = [](uint32_t sequence, size_t offset) {
        return static_cast<uint8_t>(sequence * 31 + offset * 7 + (offset >> 8));
    };
    std::vector<size_t> lengths;
    size_t checked = 0;
    uint32_t nextToCheck = 0;
    size_t offsetInBlock = 0;
    bool intact = true;
    auto drain = [&] {
        for (auto bytes = cache.readable(); !bytes.empty(); bytes = cache.readable()) {
            for (uint8_t b : bytes) {
                intact &= b == byteOf(nextToCheck, offsetInBlock);
                if (++offsetInBlock == lengths[nextToCheck]) {
                    ++nextToCheck;
                    offsetInBlock = 0;
                }
            }
            checked += bytes.size();
            cache.release(bytes.size());
        }
    };
    for (uint32_t sequence = 0; sequence < 20000; ++sequence) {
        const uint32_t r = random();
        const size_t length = r % 50 == 0 ? 4 * (2048 + r % 15000) : 4 * (1 + r % 700);
        uint8_t* block = cache.reserve(length);
        ASSERT_NE(block, nullptr) << "block " << sequence;
        for (size_t i = 0; i < length; ++i) block[i] = byteOf(sequence, i);
        cache.commit(length);
        lengths.push_back(length);
        const uint32_t when = random() % 8;
        if (when == 0) cache.publish();
        if (when == 1) cache.publish(), cache.publish();
        if (random() % 4 == 0) drain();
    }
    cache.publish();
    drain();
    EXPECT_TRUE(intact);
    EXPECT_EQ(nextToCheck, lengths.size());
    EXPECT_EQ(cache.used(), 0u);
}

TEST(ChunkCache, AWriterThatKeepsUpReusesTheSameFewChunks) {
    // 100 MiB of budget, 1 GiB through it: while each chunk is written out
    // soon after it fills, two chunks take turns.
    ChunkCache cache(100u << 20, 70000);
    for (int i = 0; i < 1000000; ++i) {
        uint8_t* block = cache.reserve(1024);
        ASSERT_NE(block, nullptr);
        cache.commit(1024);
        if (i % 100 == 99) {
            cache.publish();
            for (auto bytes = cache.readable(); !bytes.empty(); bytes = cache.readable())
                cache.release(bytes.size());
        }
    }
    EXPECT_LE(cache.chunksAllocated(), 2u);
}

}  // namespace
}  // namespace nettlebeam::traffic
