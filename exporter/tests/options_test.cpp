// The command line, and the request header that picks gzip.
#include "options.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include "gzip.h"

namespace nettlebeam::exporter {
namespace {

TEST(Options, ListenAddressesOfBothFamiliesAndTheDefaults) {
    std::string error;
    auto defaults = parseOptions({}, error);
    ASSERT_TRUE(defaults);
    auto* any = reinterpret_cast<const sockaddr_in*>(&defaults->listen);
    EXPECT_EQ(any->sin_family, AF_INET);
    EXPECT_EQ(ntohs(any->sin_port), kDefaultPort);
    EXPECT_EQ(any->sin_addr.s_addr, htonl(INADDR_ANY));
    EXPECT_TRUE(defaults->devices.empty());
    EXPECT_EQ(defaults->scrapeTimeout, std::chrono::seconds(5));

    auto loopback = parseListen("127.0.0.1:9100");
    ASSERT_TRUE(loopback);
    auto* v4 = reinterpret_cast<const sockaddr_in*>(&*loopback);
    EXPECT_EQ(v4->sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    auto v6 = parseListen("[::1]:0");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->ss_family, AF_INET6);
    for (const char* bad : {"127.0.0.1", "127.0.0.1:", "127.0.0.1:65536", "host:80", "[::1:80",
                            "1.2.3.4:8o", "::1:80"}) {
        EXPECT_FALSE(parseListen(bad)) << bad;
    }
}

TEST(Options, DeviceListsAreNormalisedAndMistakesRefused) {
    auto devices = parseDevices("00:1B:C5:0A:00:01,00-1b-c5-0a-00-02");
    ASSERT_TRUE(devices);
    EXPECT_EQ(*devices, (std::set<std::string>{"00:1b:c5:0a:00:01", "00:1b:c5:0a:00:02"}));
    EXPECT_TRUE(parseDevices("all")->empty());
    for (const char* bad : {"", "00:1b:c5:0a:00", "00:1b:c5:0a:00:01,", "00:1b:c5:0a:00:0g",
                            "00:1b:c5:0a:00:01:02", "001b:c5:0a:00:01"}) {
        EXPECT_FALSE(parseDevices(bad)) << bad;
    }
    std::string error;
    auto options = parseOptions({"--scrape-timeout", "0.25", "--devices", "all"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->scrapeTimeout, std::chrono::milliseconds(250));
    for (auto args : std::vector<std::vector<std::string>>{{"--scrape-timeout", "0"},
                                                           {"--scrape-timeout", "5s"},
                                                           {"--listen"},
                                                           {"--port", "1"}}) {
        EXPECT_FALSE(parseOptions(args, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(Gzip, AskedForByTheHeaderAndReadableByZlib) {
    EXPECT_TRUE(acceptsGzip("gzip"));
    EXPECT_TRUE(acceptsGzip("deflate, GZIP;q=0.5"));
    EXPECT_TRUE(acceptsGzip("*"));
    EXPECT_FALSE(acceptsGzip("gzip;q=0"));
    EXPECT_FALSE(acceptsGzip("identity, deflate"));
    EXPECT_FALSE(acceptsGzip("xgzip"));
    EXPECT_FALSE(acceptsGzip(""));

    std::string text(100000, 'n');
    auto packed = gzipCompress(text);
    ASSERT_TRUE(packed);
    EXPECT_LT(packed->size(), text.size() / 50);
    z_stream stream{};
    ASSERT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
    std::string back(text.size() + 10, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(packed->data());
    stream.avail_in = static_cast<uInt>(packed->size());
    stream.next_out = reinterpret_cast<Bytef*>(back.data());
    stream.avail_out = static_cast<uInt>(back.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    back.resize(stream.total_out);
    inflateEnd(&stream);
    EXPECT_EQ(back, text);
}

}  // namespace
}  // namespace nettlebeam::exporter
