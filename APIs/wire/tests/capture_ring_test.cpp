// The shared memory capture ring as a client sees it: the block walk over
// crafted rings, and what the client accepts as a ring from the driver.
#include "capture_ring.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "frame.h"
#include "scripted_server.h"

using namespace nettlebeam::wire;
using namespace nettlebeam::wire::ring;

namespace {

// A ring of `capacity` bytes laid out twice back to back, as the client maps
// it, with blocks written from `tail` on.
struct CraftedRing {
    explicit CraftedRing(uint64_t capacity) : capacity(capacity), bytes(2 * capacity, 0xEE) {}

    // Writes a block header claiming `length` bytes at position `at`, in both
    // halves so a wrapped block reads whole.
    void block(uint64_t at, uint32_t length) {
        for (uint64_t i = 0; i < std::clamp<uint64_t>(length, 8, capacity); ++i) put(at + i, 0);
        const uint32_t type = 6;
        for (int i = 0; i < 4; ++i) {
            put(at + i, static_cast<uint8_t>(type >> (8 * i)));
            put(at + 4 + i, static_cast<uint8_t>(length >> (8 * i)));
        }
    }
    void put(uint64_t at, uint8_t value) {
        bytes[at % capacity] = value;
        bytes[at % capacity + capacity] = value;
    }
    Walk walk(uint64_t tail, uint64_t head, uint64_t limit) const {
        return walkBlocks(bytes.data(), capacity, tail, head, limit);
    }

    uint64_t capacity;
    std::vector<uint8_t> bytes;
};

TEST(CaptureRingWalk, TakesWholeBlocksUpToTheLimitAcrossTheWrap) {
    CraftedRing ring(4096);
    // Three blocks starting near the end: the second one wraps.
    const uint64_t tail = 3 * 4096 + 4000;  // positions only grow
    ring.block(tail, 64);
    ring.block(tail + 64, 128);
    ring.block(tail + 192, 1000);
    const uint64_t head = tail + 1192;

    EXPECT_EQ(ring.walk(tail, head, 1 << 20).bytes, 1192u);
    EXPECT_TRUE(ring.walk(tail, head, 1 << 20).sound);
    EXPECT_EQ(ring.walk(tail, head, 1191).bytes, 192u) << "the last block does not fit";
    EXPECT_EQ(ring.walk(tail, head, 63).bytes, 0u);
    EXPECT_EQ(ring.walk(tail, tail, 1 << 20).bytes, 0u) << "nothing waiting";
    EXPECT_TRUE(ring.walk(tail, tail, 1 << 20).sound);
}

TEST(CaptureRingWalk, ImpossibleLengthsAndPositionsAreUnsound) {
    const uint64_t tail = 256;
    struct Case {
        const char* what;
        uint32_t secondLength;
        uint64_t head;
    };
    for (const Case& c : {
             Case{"not a multiple of 4", 66, tail + 64 + 66},
             Case{"shorter than any packet block", 28, tail + 64 + 28},
             Case{"zero, which would never advance", 0, tail + 64 + 64},
             Case{"beyond the head", 4000, tail + 64 + 64},
             Case{"larger than the ring", 0xFFFFFFF0u, tail + 64 + 64},
         }) {
        CraftedRing ring(4096);
        ring.block(tail, 64);
        ring.block(tail + 64, c.secondLength);
        const Walk walk = ring.walk(tail, c.head, 1 << 20);
        EXPECT_FALSE(walk.sound) << c.what;
    }
    CraftedRing ring(4096);
    ring.block(tail, 64);
    EXPECT_FALSE(ring.walk(tail, tail + 64 + 20, 1 << 20).sound) << "a remainder below a block";
    EXPECT_FALSE(ring.walk(tail + 8, tail, 1 << 20).sound) << "head behind the tail";
    EXPECT_FALSE(ring.walk(tail, tail + 4096 + 64, 1 << 20).sound) << "head beyond one ring";
}

TEST(CaptureRingWalk, AWalkOfACopyReadsNothingBeyondIt) {
    // A reader copies min(waiting, its buffer) and walks the copy: lengths
    // past the copy are never read, whatever they would say.
    std::vector<uint8_t> copy(100, 0);
    const uint32_t first = 64, second = 64;
    std::memcpy(copy.data() + 4, &first, 4);
    std::memcpy(copy.data() + 64 + 4, &second, 4);
    // Exactly as long as the copy: ASan sees any read past it.
    std::vector<uint8_t> exact(copy.begin(), copy.begin() + 100);
    const Walk walk = walkRun(exact.data(), 128 + 64, 100);
    EXPECT_TRUE(walk.sound);
    EXPECT_EQ(walk.bytes, 64u) << "the second block does not fit the copy";
    std::vector<uint8_t> tight(copy.begin(), copy.begin() + 90);
    EXPECT_EQ(walkRun(tight.data(), 128 + 64, 90).bytes, 64u)
        << "26 bytes left: no block fits, no length is read";
}

TEST(CaptureRingShareReply, RoundTrips) {
    uint8_t bytes[kShareReplySize];
    encodeShareReply({kLayoutVersion, kControlPageSize, 64ull << 20, 0x1122334455ull}, bytes);
    auto decoded = decodeShareReply(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->capacity, 64ull << 20);
    EXPECT_EQ(decoded->generation, 0x1122334455ull);
    EXPECT_FALSE(decodeShareReply(std::span<const uint8_t>(bytes, kShareReplySize - 1)));
}

// A driver stand-in's script: answers the share request with the given
// reply bytes and descriptors, then keeps the connection until the client
// goes, or closes it at once when `hangUp`.
ScriptedServer::Script shareScript(std::vector<uint8_t> reply, std::vector<int> descriptors,
                                   bool hangUp = false) {
    return [reply, descriptors, hangUp](int fd) {
        uint8_t request[kHeaderSize + 4];
        size_t got = 0;
        while (got < sizeof request) {
            ssize_t n = recv(fd, request + got, sizeof request - got, 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        uint8_t header[kHeaderSize];
        encodeReplyHeader({static_cast<int32_t>(reply.size()), static_cast<uint32_t>(reply.size())},
                          header);
        iovec parts[2] = {{header, kHeaderSize},
                          {const_cast<uint8_t*>(reply.data()), reply.size()}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int) * 4)];
        if (!descriptors.empty()) {
            message.msg_control = control;
            message.msg_controllen = CMSG_SPACE(sizeof(int) * descriptors.size());
            cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int) * descriptors.size());
            std::memcpy(CMSG_DATA(c), descriptors.data(), sizeof(int) * descriptors.size());
        }
        sendmsg(fd, &message, MSG_NOSIGNAL);
        uint8_t scrap;
        if (!hangUp) recv(fd, &scrap, 1, 0);  // until the client closes
    };
}

// A memfd of `size` bytes; for a control page, laid out for `capacity`.
int memoryFile(size_t size, uint64_t capacity = 0, uint64_t generation = 0) {
    int fd = memfd_create("ring-test", MFD_CLOEXEC);
    EXPECT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    if (capacity != 0) {
        auto* page =
            static_cast<uint8_t*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        word32(page, kMagicAt).store(kControlMagic);
        word32(page, kVersionAt).store(kLayoutVersion);
        word64(page, kCapacityAt).store(capacity);
        word64(page, kGenerationAt).store(generation);
        word32(page, kStateAt).store(kOpen);
        munmap(page, size);
    }
    return fd;
}

std::vector<uint8_t> shareReply(uint64_t capacity, uint64_t generation) {
    std::vector<uint8_t> bytes(kShareReplySize);
    encodeShareReply({kLayoutVersion, kControlPageSize, capacity, generation}, bytes.data());
    return bytes;
}

TEST(SharedCaptureRingOpen, MapsWhatIsExactlyARingAndRefusesAnythingElse) {
    const uint64_t capacity = 1 << 16;
    struct Case {
        const char* what;
        std::vector<uint8_t> reply;
        std::function<std::vector<int>()> descriptors;
        bool maps;
    };
    const std::vector<Case> cases = {
        {"a sound ring", shareReply(capacity, 9),
         [&] {
             return std::vector{memoryFile(capacity), memoryFile(4096, capacity, 9)};
         },
         true},
        {"data shorter than the capacity", shareReply(capacity, 9),
         [&] {
             return std::vector{memoryFile(4096), memoryFile(4096, capacity, 9)};
         },
         false},
        {"a control page of another generation", shareReply(capacity, 9),
         [&] {
             return std::vector{memoryFile(capacity), memoryFile(4096, capacity, 8)};
         },
         false},
        {"a control page without the layout", shareReply(capacity, 9),
         [&] {
             return std::vector{memoryFile(capacity), memoryFile(4096)};
         },
         false},
        {"one descriptor", shareReply(capacity, 9),
         [&] { return std::vector{memoryFile(capacity)}; }, false},
        {"three descriptors", shareReply(capacity, 9),
         [&] {
             return std::vector{memoryFile(capacity), memoryFile(4096, capacity, 9),
                                memoryFile(4096)};
         },
         false},
        {"a capacity of no whole pages", shareReply(capacity + 8, 9),
         [&] {
             return std::vector{memoryFile(capacity + 8), memoryFile(4096, capacity + 8, 9)};
         },
         false},
        {"a short reply", std::vector<uint8_t>(10),
         [&] {
             return std::vector{memoryFile(capacity), memoryFile(4096, capacity, 9)};
         },
         false},
    };
    for (const Case& c : cases) {
        std::vector<int> fds = c.descriptors();
        ScriptedServer sharer(shareScript(c.reply, fds));
        auto ring = SharedCaptureRing::open(sharer.path(), 1);
        for (int fd : fds) close(fd);  // the sender's copies
        EXPECT_EQ(ring != nullptr, c.maps) << c.what;
        if (ring) {
            size_t bytes = 99;
            uint8_t out[1024];
            EXPECT_EQ(ring->read(out, sizeof out, bytes), SharedCaptureRing::Outcome::Read);
            EXPECT_EQ(bytes, 0u);
        }
    }
}

TEST(SharedCaptureRingOpen, ADriverThatClosesItsEndNoLongerServesTheRing) {
    const uint64_t capacity = 1 << 16;
    int data = memoryFile(capacity), control = memoryFile(4096, capacity, 3);
    std::unique_ptr<SharedCaptureRing> ring;
    {
        ScriptedServer sharer(shareScript(shareReply(capacity, 3), {data, control}, true));
        ring = SharedCaptureRing::open(sharer.path(), 1);
    }
    close(data);
    close(control);
    ASSERT_TRUE(ring);
    size_t bytes = 0;
    uint8_t out[64];
    EXPECT_EQ(ring->read(out, sizeof out, bytes), SharedCaptureRing::Outcome::Closed);
}

}  // namespace
