// The SNTP client against a scripted responder and against a real NTP server
// (chronyd serving its local clock on a high loopback port).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <ctime>
#include <functional>
#include <optional>
#include <utility>

#include "log_capture.h"
#include "sntpclient.h"
#include "sntpresync.h"
#include "udp_responder.h"

namespace {

constexpr uint32_t kNtpSecondsAt2024 = 3913056000u;
constexpr uint32_t kUnixSecondsAt2024 = 1704067200u;

// The smallest transmit fraction that decodes to `nanoseconds`.
uint32_t fractionFor(uint64_t nanoseconds) {
    return uint32_t(((nanoseconds << 32) + 999999999u) / 1000000000u);
}

SntpServer loopback(uint16_t port) {
    return {QStringLiteral("127.0.0.1"), QString::number(port)};
}

ScriptedReply always(const Datagram& bytes) {
    return {bytes, false};
}

// A loaded machine can hold the responder's thread past the client's reply
// wait, so a query is tried again before it counts as failed.
int queryUntilAnswered(const SntpServer& server, SntpTime* time) {
    int result = -1;
    for (int attempt = 0; attempt < 5 && result != 0; ++attempt)
        result = querySntpServer(server, time);
    return result;
}

// The datagrams that reach the responder are read by its own thread: wait
// until it has seen `count` of them (or a generous time has passed).
void waitForRequests(const UdpResponder& server, int count) {
    QElapsedTimer clock;
    clock.start();
    while (server.requestCount() < count && clock.elapsed() < 10000) QThread::msleep(10);
}

// Stands for the server in the retry tests: the n-th call decodes the n-th
// scripted reply as the client does, or fails as a silent server does. The
// attempts are counted here, so no reply wait on the real clock can add one.
class ScriptedQuery {
  public:
    using Script = std::function<std::optional<Datagram>(int)>;
    explicit ScriptedQuery(Script script) : script_(std::move(script)) {}
    SntpQuery query() {
        return [this](SntpTime* time) {
            const std::optional<Datagram> reply = script_(calls_++);
            return reply ? decodeSntpReply(reply->data(), reply->size(), time) : -1;
        };
    }
    int calls() const { return calls_; }

  private:
    Script script_;
    int calls_ = 0;
};

}  // namespace

TEST(SntpReply, ConvertsTheTransmitTimestampToUnixTime) {
    SntpTime time;
    ASSERT_EQ(decodeSntpReply(sntpServerReply(kNtpSecondsAt2024, 0x80000000u).data(), 48, &time),
              0);
    EXPECT_EQ(time.unixSeconds, kUnixSecondsAt2024);
    EXPECT_EQ(time.nanoseconds, 500000000u);

    // Fractions convert by truncation: the edges of the accepted window are exact.
    for (uint64_t ns : {200000000ull, 700000000ull, 700000001ull, 999999999ull}) {
        ASSERT_EQ(
            decodeSntpReply(sntpServerReply(kNtpSecondsAt2024, fractionFor(ns)).data(), 48, &time),
            0);
        EXPECT_EQ(time.nanoseconds, ns);
        ASSERT_EQ(decodeSntpReply(sntpServerReply(kNtpSecondsAt2024, fractionFor(ns) - 1).data(),
                                  48, &time),
                  0);
        EXPECT_EQ(time.nanoseconds, ns - 1);
    }

    // Seconds before 1970 wrap modulo 2^32 rather than failing.
    ASSERT_EQ(decodeSntpReply(sntpServerReply(1, 0).data(), 48, &time), 0);
    EXPECT_EQ(time.unixSeconds, 1u + 0x7C558180u);
}

TEST(SntpReply, RejectsRepliesThatAreNoUsableServerTime) {
    const Datagram good = sntpServerReply(kNtpSecondsAt2024, 0x80000000u);
    struct Case {
        const char* what;
        std::function<void(Datagram&)> spoil;
    };
    const Case cases[] = {
        {"short", [](Datagram& d) { d.resize(47); }},
        {"client mode", [](Datagram& d) { d[0] = (d[0] & 0xF8) | 3; }},
        {"broadcast mode", [](Datagram& d) { d[0] = (d[0] & 0xF8) | 5; }},
        {"unsynchronised", [](Datagram& d) { d[0] |= 0xC0; }},
        {"stratum 0", [](Datagram& d) { d[1] = 0; }},
        {"stratum 16", [](Datagram& d) { d[1] = 16; }},
        {"no transmit time", [](Datagram& d) { std::fill(d.begin() + 40, d.end(), 0); }},
    };
    for (const Case& c : cases) {
        Datagram reply = good;
        c.spoil(reply);
        SntpTime time{123, 456};
        EXPECT_EQ(decodeSntpReply(reply.data(), reply.size(), &time), -3) << c.what;
        EXPECT_EQ(time.unixSeconds, 123u) << c.what;
    }

    // What a sound server may send is accepted: leap warnings, stratum 15,
    // a zero seconds field with a fraction, extension bytes after the packet.
    Datagram accepted = good;
    accepted[0] = 0x40 | (accepted[0] & 0x3F);
    accepted[1] = 15;
    SntpTime time;
    EXPECT_EQ(decodeSntpReply(accepted.data(), accepted.size(), &time), 0);
    EXPECT_EQ(decodeSntpReply(sntpServerReply(0, 1).data(), 48, &time), 0);
    accepted.resize(68, 0xAA);
    EXPECT_EQ(decodeSntpReply(accepted.data(), accepted.size(), &time), 0);
}

TEST(SntpServerSetting, ComesFromTheEnvironmentOrDefaultsToThePool) {
    qunsetenv("NETTLEBEAM_NTP_SERVER");
    EXPECT_EQ(sntpServerFromEnvironment().host, QStringLiteral("pool.ntp.org"));
    EXPECT_EQ(sntpServerFromEnvironment().service, QStringLiteral("ntp"));
    qputenv("NETTLEBEAM_NTP_SERVER", "127.0.0.1:12345");
    EXPECT_EQ(sntpServerFromEnvironment().host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(sntpServerFromEnvironment().service, QStringLiteral("12345"));
    qputenv("NETTLEBEAM_NTP_SERVER", " time.example.net ");
    EXPECT_EQ(sntpServerFromEnvironment().host, QStringLiteral("time.example.net"));
    EXPECT_EQ(sntpServerFromEnvironment().service, QStringLiteral("ntp"));
    qunsetenv("NETTLEBEAM_NTP_SERVER");
}

TEST(SntpQuery, SendsTheClientRequestAndReadsTheServersReply) {
    UdpResponder server([](int, const Datagram&) {
        return always(sntpServerReply(kNtpSecondsAt2024, fractionFor(300000000)));
    });
    SntpTime time;
    ASSERT_EQ(queryUntilAnswered(loopback(server.port()), &time), 0);
    EXPECT_EQ(time.unixSeconds, kUnixSecondsAt2024);
    EXPECT_EQ(time.nanoseconds, 300000000u);

    Datagram expected(48, 0);
    expected[0] = 0xDB;
    expected[2] = 0x0A;
    ASSERT_FALSE(server.received().empty());
    for (const Datagram& request : server.received()) EXPECT_EQ(request, expected);
}

TEST(SntpQuery, IgnoresDatagramsFromOtherSendersAndFailsOnSilenceOrBadNames) {
    UdpResponder spoofer([](int, const Datagram&) {
        return ScriptedReply{sntpServerReply(kNtpSecondsAt2024, 0x80000000u), true};
    });
    SntpTime time{7, 7};
    EXPECT_EQ(querySntpServer(loopback(spoofer.port()), &time), -1);
    EXPECT_EQ(time.unixSeconds, 7u);

    UdpResponder silent([](int, const Datagram&) { return std::optional<ScriptedReply>(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(querySntpServer(loopback(silent.port()), &time), -1);
    EXPECT_GE(clock.elapsed(), kSntpReplyWaitMs - 5);

    EXPECT_EQ(
        querySntpServer({QStringLiteral("no-such-host.invalid"), QStringLiteral("ntp")}, &time),
        -4);
    waitForRequests(silent, 1);
    EXPECT_EQ(silent.requestCount(), 1);
}

TEST(SntpResync, RetriesTenTimesWhenTheTimeIsAlwaysNearASecondBoundary) {
    ScriptedQuery server(
        [](int) { return sntpServerReply(kNtpSecondsAt2024, fractionFor(100000000)); });
    LogCapture debug;
    const auto seconds = obtainSntpSeconds(server.query());
    EXPECT_FALSE(seconds.has_value());
    EXPECT_EQ(server.calls(), kSntpAttempts);
    EXPECT_EQ(debug.count(QStringLiteral("SNTP : second boundary too close, retrying\n")), 10);
}

TEST(SntpResync, AcceptsTheWindowEdgesAndSkipsBadReplies) {
    for (uint64_t ns : {200000000ull, 700000000ull}) {
        ScriptedQuery server(
            [ns](int) { return sntpServerReply(kNtpSecondsAt2024, fractionFor(ns)); });
        const auto seconds = obtainSntpSeconds(server.query());
        ASSERT_TRUE(seconds.has_value()) << ns;
        EXPECT_EQ(*seconds, kUnixSecondsAt2024);
        EXPECT_EQ(server.calls(), 1);
    }

    // Just outside the window, an unsynchronised reply and silence each cost
    // one attempt; the fourth reply is used.
    ScriptedQuery server([](int n) -> std::optional<Datagram> {
        Datagram unsynchronised = sntpServerReply(kNtpSecondsAt2024, 0x80000000u);
        unsynchronised[0] |= 0xC0;
        switch (n) {
            case 0:
                return sntpServerReply(kNtpSecondsAt2024, fractionFor(700000001));
            case 1:
                return unsynchronised;
            case 2:
                return std::nullopt;
            default:
                return sntpServerReply(kNtpSecondsAt2024 + 5, 0x80000000u);
        }
    });
    LogCapture debug;
    const auto seconds = obtainSntpSeconds(server.query());
    ASSERT_TRUE(seconds.has_value());
    EXPECT_EQ(*seconds, kUnixSecondsAt2024 + 5);
    EXPECT_EQ(server.calls(), 4);
    EXPECT_EQ(debug.count(QStringLiteral("Failed to get time from SNTP, retrying\n")), 2);
    EXPECT_EQ(debug.count(QStringLiteral("SNTP : second boundary too close, retrying\n")), 1);
    EXPECT_EQ(debug.count(QStringLiteral("Successfuly received SNTP time\n")), 1);
}

namespace {

uint16_t freeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// chronyd serving its own clock on loopback, run as the current user with
// everything it writes in a temporary folder; the system's chrony is untouched.
class LocalChrony {
  public:
    bool start(QString* why) {
        binary_ = QStandardPaths::findExecutable(QStringLiteral("chronyd"));
        if (binary_.isEmpty())
            binary_ = QStandardPaths::findExecutable(
                QStringLiteral("chronyd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        if (binary_.isEmpty()) {
            *why = QStringLiteral("chronyd is not installed");
            return false;
        }
        port_ = freeUdpPort();
        const QString dir = folder_.path();
        QFile config(dir + QStringLiteral("/chrony.conf"));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("port %1\nbindaddress 127.0.0.1\nlocal stratum 1\n"
                                    "allow 127.0.0.1\ncmdport 0\npidfile %2/chronyd.pid\n"
                                    "driftfile %2/chrony.drift\n")
                         .arg(port_)
                         .arg(dir)
                         .toUtf8());
        config.close();
        QStringList arguments{QStringLiteral("-x"), QStringLiteral("-d"), QStringLiteral("-f"),
                              config.fileName()};
        if (::getuid() == 0) arguments << QStringLiteral("-u") << QStringLiteral("root");
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(binary_, arguments);
        return process_.waitForStarted(5000);
    }
    ~LocalChrony() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) process_.kill();
            process_.waitForFinished(2000);
        }
    }
    uint16_t port() const { return port_; }
    QString output() { return QString::fromLocal8Bit(process_.readAll()); }
    bool running() const { return process_.state() == QProcess::Running; }

  private:
    QTemporaryDir folder_;
    QString binary_;
    QProcess process_;
    uint16_t port_ = 0;
};

}  // namespace

TEST(SntpAgainstChrony, GivesTheHostTimeWithinASecond) {
    LocalChrony chrony;
    QString why;
    ASSERT_TRUE(chrony.start(&why)) << why.toStdString() << chrony.output().toStdString();
    ASSERT_TRUE(chrony.running()) << chrony.output().toStdString();

    // Wait until it serves.
    SntpTime probe;
    QElapsedTimer clock;
    clock.start();
    while (querySntpServer(loopback(chrony.port()), &probe) != 0 && clock.elapsed() < 10000)
        QThread::msleep(100);
    ASSERT_LT(clock.elapsed(), 10000)
        << "chronyd never answered: " << chrony.output().toStdString();

    const auto seconds = obtainSntpSeconds(
        [&](SntpTime* time) { return querySntpServer(loopback(chrony.port()), time); });
    const std::time_t host = std::time(nullptr);
    ASSERT_TRUE(seconds.has_value());
    EXPECT_LE(std::llabs(static_cast<long long>(*seconds) - static_cast<long long>(host)), 1);
}
