// Memory capture data path: bytes per second read through
// NettlebeamAPIMemoryCaptureGet, with 512 KiB and 4 MiB buffers, against the
// same bytes sent through a bare AF_UNIX socket and against memcpy, in one
// run. The device replays large frames as fast as it can; two figures per
// buffer size:
//   live:  reading while the replay produces, the way an application reads;
//          bounded by the producer when it is the slower side (the share of
//          reads that found nothing waiting says so);
//   drain: a full cache (64 MiB) read out, so every read finds a full
//          buffer waiting and the read path alone sets the pace (the replay
//          keeps adding meanwhile, on the same two cores); also through the
//          driver's data request, the path without shared memory.
// Prints:
//   bench <name>: <value> <unit> (<ratio>x <baseline name>)
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "NettlebeamAPI.h"
#include "client.h"
#include "nettlebeam_testsupport.h"
#include "request_codes.h"
#include "traffic/frame_generator.h"

namespace tr = nettlebeam::traffic;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kMeasure = std::chrono::seconds(2);
constexpr int kDrains = 5;
constexpr uint32_t kMemoryCaptureData = nettlebeam::wire::code::kMemoryCaptureData;

void writeInput(const std::string& path) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    tr::FrameGenerator generator(tr::parseTrafficProfile("mix=large,crc=0,jabber=0"), false);
    for (int i = 0; i < 20000; ++i) {
        const tr::Frame& f = generator.make(tr::Port::A, 0);
        pcap_pkthdr header{};
        header.ts.tv_usec = i;
        header.caplen = header.len = static_cast<bpf_u_int32>(f.bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, f.bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

struct Rate {
    double bytesPerSecond = 0;
    double emptyShare = 0;  // reads that found nothing
};

// Reading while the replay produces.
Rate live(int32_t handle, int32_t size) {
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    uint64_t bytes = 0, reads = 0, empty = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < kMeasure) {
        int32_t got = size;
        if (NettlebeamAPIMemoryCaptureGet(handle, buffer.data(), &got) != 0) return {};
        bytes += static_cast<uint64_t>(got);
        ++reads;
        empty += got == 0;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return {static_cast<double>(bytes) / seconds,
            reads ? static_cast<double>(empty) / static_cast<double>(reads) : 0};
}

// Reads 64 MiB, or until a read finds nothing, from a cache the replay has
// filled, `kDrains` times; `read` returns the bytes of one read (-1 fails).
double drain(const std::string& name, const std::function<int32_t(uint8_t*, int32_t)>& read,
             int32_t size) {
    constexpr uint64_t kCache = 64ull << 20;
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    uint64_t bytes = 0;
    double seconds = 0;
    for (int round = 0; round < kDrains; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // full, dropping
        uint64_t taken = 0;
        const auto start = Clock::now();
        while (taken < kCache) {
            const int32_t got = read(buffer.data(), size);
            if (got <= 0) break;
            taken += static_cast<uint64_t>(got);
        }
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        bytes += taken;
    }
    // Context, not a figure: the figure lines keep one form for scripts.
    std::fprintf(stderr, "%s: %.1f MiB per round\n", name.c_str(),
                 static_cast<double>(bytes) / kDrains / (1 << 20));
    return seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
}

// Bytes per second through a socket pair, a writer thread sending `size` chunks.
double throughSocket(size_t size) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    std::vector<uint8_t> out(size, 0x5A), in(size);
    bool done = false;
    std::thread writer([&] {
        while (!__atomic_load_n(&done, __ATOMIC_RELAXED))
            if (write(fds[0], out.data(), out.size()) <= 0) break;
    });
    uint64_t bytes = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < kMeasure) {
        ssize_t n = read(fds[1], in.data(), in.size());
        if (n <= 0) break;
        bytes += static_cast<uint64_t>(n);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    __atomic_store_n(&done, true, __ATOMIC_RELAXED);
    shutdown(fds[1], SHUT_RDWR);
    writer.join();
    close(fds[0]);
    close(fds[1]);
    return static_cast<double>(bytes) / seconds;
}

double throughMemcpy(size_t size) {
    std::vector<uint8_t> from(size, 1), to(size);
    uint64_t bytes = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < kMeasure) {
        for (int i = 0; i < 64; ++i) {
            std::memcpy(to.data(), from.data(), size);
            from[static_cast<size_t>(i)] = to[size - 1 - static_cast<size_t>(i)];
        }
        bytes += 64 * size;
    }
    return static_cast<double>(bytes) / std::chrono::duration<double>(Clock::now() - start).count();
}

void report(const std::string& name, double value, double baseline, const char* baselineName) {
    std::printf("bench %s: %.3g GB/s (%.2fx %s)\n", name.c_str(), value / 1e9,
                baseline > 0 ? value / baseline : 0.0, baselineName);
}

}  // namespace

int main() {
    nettlebeam::testsupport::Daemon daemon;
    const std::string input = daemon.folder() + "/large.pcap";
    writeInput(input);
    const int handle =
        daemon.attach({"--type", "5", "--replay", input, "--replay-speed", "max", "--replay-loop"});
    daemon.exportControlPath();
    if (NettlebeamAPIInitialize() != 0) return 1;
    bool listed = false;
    for (int i = 0; i < 100 && !listed; ++i) {
        NettlebeamApiDevicesList* list = NettlebeamAPIGetDevicesList();
        for (auto* e = list->first; e; e = e->next)
            listed = listed || static_cast<int>(e->handle) == handle;
        NettlebeamApiDeviceListFree(list);
        if (!listed) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!listed || NettlebeamAPIMemoryCaptureStart(handle, 0) != 0) {
        std::fprintf(stderr, "the device did not start a memory capture\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // link up, cache filling
    const auto library = [handle](uint8_t* buffer, int32_t size) {
        int32_t got = size;
        return NettlebeamAPIMemoryCaptureGet(handle, buffer, &got) == 0 ? got : -1;
    };
    uint8_t input4[4];
    std::memcpy(input4, &handle, 4);
    const auto request = [&](uint8_t* buffer, int32_t size) {
        return nettlebeam::wire::transact(daemon.controlPath(), kMemoryCaptureData, input4, 4,
                                          buffer, static_cast<uint32_t>(size));
    };
    for (int32_t size : {512 << 10, 4 << 20}) {
        const std::string label = size == (512 << 10) ? "512k" : "4m";
        const Rate reading = live(handle, size);
        const double drained = drain("memory_capture_drain_" + label, library, size);
        const double requested =
            drain("memory_capture_drain_" + label + "_data_request", request, size);
        const double socket = throughSocket(static_cast<size_t>(size));
        const double copy = throughMemcpy(static_cast<size_t>(size));
        report("memory_capture_get_" + label, reading.bytesPerSecond, socket, "AF_UNIX socket");
        std::fprintf(stderr,
                     "memory_capture_get_%s: %.1f %% of reads found nothing (producer-bound when "
                     "high)\n",
                     label.c_str(), 100 * reading.emptyShare);
        report("memory_capture_drain_" + label, drained, socket, "AF_UNIX socket");
        report("memory_capture_drain_" + label + "_vs_memcpy", drained, copy, "memcpy");
        report("memory_capture_drain_" + label + "_data_request", requested, socket,
               "AF_UNIX socket");
    }
    NettlebeamAPIMemoryCaptureStop(handle);
    NettlebeamAPIUninitialize();
    return 0;
}
