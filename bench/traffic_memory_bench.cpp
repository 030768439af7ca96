// Memory capture data path: bytes per second read through
// NettlebeamAPIMemoryCaptureGet from a device replaying large frames as fast
// as possible, with 512 KiB and 4 MiB buffers, against the same bytes sent
// through a bare AF_UNIX socket and against memcpy, in one run. Prints:
//   bench <name>: <value> <unit> (<ratio>x <baseline name>)
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "NettlebeamAPI.h"
#include "nettlebeam_testsupport.h"
#include "traffic/frame_generator.h"

namespace tr = nettlebeam::traffic;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kMeasure = std::chrono::seconds(2);

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

// Bytes per second through the library with buffers of `size` bytes.
double throughLibrary(int32_t handle, int32_t size) {
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    uint64_t bytes = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < kMeasure) {
        int32_t got = size;
        if (NettlebeamAPIMemoryCaptureGet(handle, buffer.data(), &got) != 0) return 0;
        bytes += static_cast<uint64_t>(got);
    }
    return static_cast<double>(bytes) / std::chrono::duration<double>(Clock::now() - start).count();
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
    for (int32_t size : {512 << 10, 4 << 20}) {
        const std::string label = size == (512 << 10) ? "512k" : "4m";
        const double library = throughLibrary(handle, size);
        const double socket = throughSocket(static_cast<size_t>(size));
        const double copy = throughMemcpy(static_cast<size_t>(size));
        report("memory_capture_get_" + label, library, socket, "AF_UNIX socket");
        report("memory_capture_get_" + label + "_vs_memcpy", library, copy, "memcpy");
    }
    NettlebeamAPIMemoryCaptureStop(handle);
    NettlebeamAPIUninitialize();
    return 0;
}
