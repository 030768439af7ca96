// Many scrapers at once and hostile clients: every well-formed scrape is
// answered, garbage is refused, and the exporter's memory stays flat.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <thread>
#include <vector>

#include "http_client.h"
#include "nettlebeam_testsupport.h"
#include "running_exporter.h"

namespace nettlebeam::exporter::testing {
namespace {

// What the exporter may keep beyond its steady use once the connections are
// gone, beside the address sanitizer's quarantine.
constexpr long kRetainedSlackKiB = 8 * 1024 + testsupport::kQuarantineKiB;

using testsupport::Daemon;

const std::string kDevice = "00:1b:c5:0a:00:07";

bool completeScrape(const HttpReply& reply) {
    return reply.status == 200 && reply.body.find("nettlebeam_up 1\n") != std::string::npos &&
           reply.body.find("nettlebeam_device_info{device=\"" + kDevice) != std::string::npos;
}

std::string gunzip(const std::string& packed) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) return "";
    std::string out(1 << 20, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int result = inflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return result == Z_STREAM_END ? out : "";
}

class ExporterUnderLoad : public ::testing::Test {
  protected:
    void SetUp() override {
        daemon_.attach({"--type", "5", "--mac", kDevice, "--traffic", "rate=1000"});
        exporter_ = std::make_unique<RunningExporter>(daemon_);
        ASSERT_TRUE(waitUntil([&] { return completeScrape(get(exporter_->port(), "/metrics")); }));
    }
    Daemon daemon_;
    std::unique_ptr<RunningExporter> exporter_;
};

TEST_F(ExporterUnderLoad, AnswersGzipWhenAskedAndRefusesWhatIsNotAScrape) {
    unsigned port = exporter_->port();
    HttpReply packed = get(port, "/metrics", "Accept-Encoding: gzip\r\n");
    ASSERT_EQ(packed.status, 200);
    EXPECT_NE(packed.headers.find("Content-Encoding: gzip"), std::string::npos) << packed.headers;
    EXPECT_NE(packed.headers.find("text/plain; version=0.0.4"), std::string::npos);
    EXPECT_NE(gunzip(packed.body).find("nettlebeam_device_info{device=\"" + kDevice),
              std::string::npos);
    HttpReply plain = get(port, "/metrics", "Accept-Encoding: gzip;q=0, identity\r\n");
    EXPECT_TRUE(completeScrape(plain));
    EXPECT_EQ(plain.headers.find("Content-Encoding"), std::string::npos);

    EXPECT_EQ(get(port, "/").status, 200);
    EXPECT_EQ(get(port, "/metrics/../etc/passwd").status, 404);
    EXPECT_EQ(exchange(port,
                       "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n"
                       "Connection: close\r\n\r\nhello")
                  .status,
              405);
    // Headers beyond the per-connection memory are refused, not buffered.
    HttpReply huge = get(port, "/metrics", "X-Big: " + std::string(64 * 1024, 'a') + "\r\n");
    EXPECT_TRUE(huge.status == 431 || huge.status == 413 || huge.status == 0) << huge.status;
    // A request line that is not HTTP: refused or the connection closed.
    int garbage = exchange(port, "GARBAGE\r\n\r\n").status;
    EXPECT_TRUE(garbage == 400 || garbage == 0) << garbage;
}

TEST_F(ExporterUnderLoad, AnswersEveryConcurrentScrapeWhileHostileClientsPound) {
    unsigned port = exporter_->port();
    for (int i = 0; i < 20; ++i) get(port, "/metrics");  // warmed up
    long before = exporter_->process().residentKiB();

    // Clients that open a connection and send half a request, then wait.
    std::vector<int> slow;
    for (int i = 0; i < 20; ++i) {
        int fd = connectTo(port);
        ASSERT_GE(fd, 0);
        send(fd, "GET /metr", 9, MSG_NOSIGNAL);
        slow.push_back(fd);
    }

    const std::vector<std::string> malformed{
        "GARBAGE\r\n\r\n",
        "GET /metrics HTTP/9.9\r\n\r\n",
        "GET\r\n\r\n",
        std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11),
        "GET /metrics HTTP/1.1\r\nHost: x\r\nX: " + std::string(40000, 'x') + "\r\n\r\n",
        "GET /metrics HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
        "GET /metrics HTTP/1.1\r\nHost: x\r\n",  // never finished; closed by the client
        std::string(5000, '\0'),
    };
    std::atomic<int> answered{0};
    std::atomic<int> garbageSent{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t; i < 1000; i += 8) {
                const std::string& request = malformed[static_cast<size_t>(i) % malformed.size()];
                if (request.find("\r\n\r\n") == std::string::npos) {
                    int fd = connectTo(port);
                    if (fd >= 0) {
                        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
                        close(fd);
                    }
                } else {
                    exchange(port, request);
                }
                ++garbageSent;
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        threads.emplace_back([&] {
            if (completeScrape(get(port, "/metrics"))) ++answered;
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int fd : slow) close(fd);

    EXPECT_EQ(garbageSent.load(), 1000);
    EXPECT_EQ(answered.load(), 200);
    EXPECT_TRUE(completeScrape(get(port, "/metrics")));
    long after = exporter_->process().residentKiB();
    // Threads and buffers of finished connections are given back.
    EXPECT_LT(after, before + kRetainedSlackKiB)
        << "RSS before " << before << " KiB, after " << after;
}

// A driver that stops answering mid-scrape (here: stopped with SIGSTOP)
// must not hold the scrapes: each is answered once --scrape-timeout passes,
// never left to the scraper's own timeout. With four devices, waiting for
// the library's own reply timeout of each would outlast the test client's
// 30 s.
TEST(ExporterWithAHungDriver, AnswersEveryScrapeOnceTheScrapeTimeoutPasses) {
    Daemon daemon;
    daemon.attach({"--type", "5", "--mac", kDevice, "--traffic", "rate=1000"});
    for (const char* mac : {"00:1b:c5:0a:00:08", "00:1b:c5:0a:00:09", "00:1b:c5:0a:00:0a"})
        daemon.attach({"--type", "5", "--mac", mac});
    RunningExporter exporter(daemon, {"--scrape-timeout", "1"});
    ASSERT_TRUE(waitUntil([&] {
        std::string text = get(exporter.port(), "/metrics").body;
        return text.find("device=\"00:1b:c5:0a:00:0a\"") != std::string::npos &&
               completeScrape(get(exporter.port(), "/metrics"));
    }));

    ASSERT_EQ(kill(daemon.pid(), SIGSTOP), 0);
    std::vector<HttpReply> replies(5);
    std::vector<std::thread> scrapers;
    for (HttpReply& reply : replies)
        scrapers.emplace_back([&] { reply = get(exporter.port(), "/metrics"); });
    for (std::thread& scraper : scrapers) scraper.join();
    ASSERT_EQ(kill(daemon.pid(), SIGCONT), 0);

    for (const HttpReply& reply : replies) {
        EXPECT_EQ(reply.status, 200);
        EXPECT_NE(reply.body.find("nettlebeam_scrape_duration_seconds "), std::string::npos);
        // No device answered in time: they drop out of this scrape.
        EXPECT_EQ(reply.body.find("device=\""), std::string::npos) << reply.body;
    }
    // The stalled reading finishes once the driver runs again.
    EXPECT_TRUE(waitUntil([&] { return completeScrape(get(exporter.port(), "/metrics")); }));
}

}  // namespace
}  // namespace nettlebeam::exporter::testing
