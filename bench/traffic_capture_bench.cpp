// Direct capture throughput: a file of minimum-size frames replayed as fast
// as possible into a direct capture on tmpfs, against tcpdump and editcap
// converting the same file, in one run. Prints one line per measurement:
//   bench <name>: <value> <unit> (<ratio>x <baseline name>)
#include <pcap/pcap.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "traffic/frame_generator.h"
#include "traffic/replay_source.h"
#include "traffic/traffic_engine.h"

namespace tr = nettlebeam::traffic;
using Clock = std::chrono::steady_clock;

namespace {

// Writes `frames` 64-byte frames (60 bytes in the file, the FCS is not kept).
void writeInput(const std::string& path, long frames) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    if (dumper == nullptr) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), pcap_geterr(dead));
        std::exit(1);
    }
    tr::FrameGenerator generator(tr::parseTrafficProfile("mix=small,crc=0,jabber=0"), false);
    for (long i = 0; i < frames; ++i) {
        const tr::Frame& f = generator.make(tr::Port::A, 0);
        pcap_pkthdr header{};
        header.ts.tv_sec = 1'700'000'000 + i / 1'000'000;
        header.ts.tv_usec = static_cast<suseconds_t>(i % 1'000'000);
        header.caplen = header.len = 64;  // generator frames are 60..74 bytes; keep 64
        std::vector<uint8_t> bytes(f.bytes.begin(), f.bytes.end());
        bytes.resize(64, 0);
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, bytes.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

// Seconds a shell command takes; negative when it fails or is missing.
double timeCommand(const std::string& command) {
    const auto start = Clock::now();
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return (status == 0) ? seconds : -1;
}

// CPU time of every thread of this process: on a shared machine the CPU a
// frame costs is steadier than the wall-clock rate.
double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Nanoseconds on a CPU of this process's threads with the given name
// (the scheduler's own account), summed.
double threadCpuNs(const std::string& name) {
    double total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string threadName;
        std::getline(comm, threadName);
        if (threadName != name) continue;
        std::ifstream schedstat(task.path() / "schedstat");
        double ns = 0;
        if (schedstat >> ns) total += ns;
    }
    return total;
}

struct CaptureRun {
    double framesPerSecond = 0;  // frames written (dropped frames do not count)
    double cpuNsPerFrame = 0;    // every thread of the process
    double engineNsPerFrame = 0;
    double writerNsPerFrame = 0;
};

CaptureRun directCaptureRun(const std::string& input, const std::string& folder, long frames) {
    tr::ReplaySettings replay{input};
    replay.asFastAsPossible = true;
    tr::TrafficEngine engine(std::make_unique<tr::ReplaySource>(replay));
    tr::DirectCaptureSettings settings;
    settings.path = folder + "/ours.pcapng";
    settings.maxCache = 100ull << 20;  // the command-line tool's default
    // Setting up the cache (populating its pages) is not part of the throughput.
    if (!engine.directCapture().start(settings, 65535)) {
        std::fprintf(stderr, "direct capture did not start\n");
        std::exit(1);
    }
    const auto start = Clock::now();
    const double cpuStart = processCpuSeconds();
    engine.start();
    while (!engine.exhausted()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    // Both threads are still there while the writer empties the cache.
    while (engine.directCapture().status().cacheUsed > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    CaptureRun run;
    run.engineNsPerFrame = threadCpuNs("nb-traffic") / static_cast<double>(frames);
    run.writerNsPerFrame = threadCpuNs("nb-capture-file") / static_cast<double>(frames);
    engine.stop();
    engine.directCapture().stop();  // writes what is cached and closes the file
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpuNsPerFrame = (processCpuSeconds() - cpuStart) * 1e9 / static_cast<double>(frames);
    const auto& a = engine.directCapture().tally(tr::Port::A);
    if (static_cast<long>(a.written.load()) != frames)
        std::fprintf(stderr, "warning: %lu of %ld frames written, %lu dropped\n",
                     static_cast<unsigned long>(a.written.load()), frames,
                     static_cast<unsigned long>(a.dropped.load()));
    run.framesPerSecond = static_cast<double>(a.written.load()) / seconds;
    return run;
}

void report(const char* name, double value, const char* unit, double baseline,
            const char* baselineName) {
    if (baseline > 0)
        std::printf("bench %s: %.3g %s (%.2fx %s)\n", name, value, unit, value / baseline,
                    baselineName);
    else
        std::printf("bench %s: %.3g %s (no %s to compare)\n", name, value, unit, baselineName);
}

}  // namespace

int main(int argc, char** argv) {
    const long frames = argc > 1 ? std::atol(argv[1]) : 5'000'000;
    char pattern[] = "/dev/shm/nettlebeam-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp /dev/shm");
        return 1;
    }
    const std::string folder = pattern;
    const std::string input = folder + "/in.pcap";
    writeInput(input, frames);

    // "--ours-only": skip the other tools (for profiling).
    const bool oursOnly = argc > 2 && std::string(argv[2]) == "--ours-only";
    const double tcpdump =
        oursOnly ? -1 : timeCommand("tcpdump -r " + input + " -w " + folder + "/tcpdump.pcap");
    std::filesystem::remove(folder + "/tcpdump.pcap");
    const double editcap =
        oursOnly ? -1
                 : timeCommand("editcap -F pcapng " + input + " " + folder + "/editcap.pcapng");
    std::filesystem::remove(folder + "/editcap.pcapng");
    double rate = 0, cpuNs = 1e30, engineNs = 1e30, writerNs = 1e30;
    for (int round = 0; round < 5; ++round) {  // best of five: the machine is shared
        const CaptureRun run = directCaptureRun(input, folder, frames);
        rate = std::max(rate, run.framesPerSecond);
        cpuNs = std::min(cpuNs, run.cpuNsPerFrame);
        engineNs = std::min(engineNs, run.engineNsPerFrame);
        writerNs = std::min(writerNs, run.writerNsPerFrame);
        for (const auto& e : std::filesystem::directory_iterator(folder))
            if (e.path().filename().string().rfind("ours", 0) == 0)
                std::filesystem::remove(e.path());
    }
    report("direct_capture_frames_per_s", rate, "frames/s", tcpdump > 0 ? frames / tcpdump : 0,
           "tcpdump -r -w");
    report("direct_capture_frames_per_s_vs_editcap", rate, "frames/s",
           editcap > 0 ? frames / editcap : 0, "editcap -F pcapng");
    report("direct_capture_frames_per_s_vs_line_rate", rate, "frames/s", 14'880'952,
           "10GbE line rate at 64 bytes");
    // One frame at line rate leaves 67.2 ns; engine and writer share that.
    report("direct_capture_cpu_ns_per_frame", cpuNs, "ns", 1e9 / 14'880'952,
           "the time between frames at 10GbE line rate");
    // The engine and the writer run side by side: the slower one sets the pace.
    report("direct_capture_engine_ns_per_frame", engineNs, "ns", 1e9 / 14'880'952,
           "the time between frames at 10GbE line rate");
    report("direct_capture_writer_ns_per_frame", writerNs, "ns", 1e9 / 14'880'952,
           "the time between frames at 10GbE line rate");
    std::filesystem::remove_all(folder);
    return 0;
}
