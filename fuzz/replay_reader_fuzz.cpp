// Capture files handed to `--replay`: whatever the file holds, the replay
// either refuses it with a message or yields exactly the frames libpcap
// reads from it (classic pcap is read by the replay's own block reader, so
// this compares the two), and every frame goes through the classifier the
// counters and filters use.
#include <pcap/pcap.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "fuzz_check.h"
#include "traffic/classify.h"
#include "traffic/replay_source.h"

using namespace nettlebeam::traffic;

namespace {

// The input as a file libpcap can open by name, without touching the disk.
class MemoryFile {
  public:
    MemoryFile(const uint8_t* data, size_t size) : fd_(memfd_create("replay", 0)) {
        FUZZ_CHECK(fd_ >= 0);
        size_t written = 0;
        while (written < size) {
            const ssize_t n = write(fd_, data + written, size - written);
            FUZZ_CHECK(n > 0);
            written += static_cast<size_t>(n);
        }
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_;
};

void checkFrame(const Frame& frame) {
    // The wire carries at least the captured bytes and the FCS they lost.
    FUZZ_CHECK(frame.wireLength >= frame.bytes.size() + 4);
    FUZZ_CHECK(!frame.hasFcs);
    const FrameInfo info = classify(frame);
    FUZZ_CHECK(info.payloadOffset <= frame.bytes.size());
    FUZZ_CHECK(info.broadcast + info.multicast + info.unicast <= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryFile file(data, size);
    ReplaySettings settings;
    settings.path = file.path();
    settings.asFastAsPossible = size > 0 && (data[size - 1] & 1) != 0;
    std::unique_ptr<ReplaySource> source;
    try {
        source = std::make_unique<ReplaySource>(settings);
    } catch (const std::runtime_error& refused) {
        FUZZ_CHECK(std::string(refused.what()).find(settings.path) != std::string::npos);
        return 0;
    }
    FUZZ_CHECK(source->framesInFile() > 0);
    source->begin(1'000'000'000);
    uint64_t frames = 0;
    uint64_t previous = 0;
    // Paced frames are all taken by asking at the end of time; frames sent as
    // fast as possible are stamped from a clock, which stays far from wrapping.
    const uint64_t nowNs = settings.asFastAsPossible ? 2'000'000'000 : UINT64_MAX - 1;
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* reference = pcap_open_offline(settings.path.c_str(), error);
    FUZZ_CHECK(reference != nullptr);
    while (source->nextDueNs() != UINT64_MAX) {
        const Frame* frame = source->next(nowNs);
        FUZZ_CHECK(frame != nullptr);
        if (settings.asFastAsPossible) FUZZ_CHECK(frame->timestampNs > previous);
        previous = frame->timestampNs;
        checkFrame(*frame);
        pcap_pkthdr* header;
        const u_char* bytes;
        FUZZ_CHECK(pcap_next_ex(reference, &header, &bytes) == 1);
        FUZZ_CHECK(frame->bytes.size() == header->caplen);
        FUZZ_CHECK(std::equal(frame->bytes.begin(), frame->bytes.end(), bytes));
        ++frames;
    }
    pcap_close(reference);
    FUZZ_CHECK(frames == source->framesInFile());
    return 0;
}
