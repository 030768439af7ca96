// The pure parts of the daemon: request shapes, argument parsers, fleet
// files, event records, event queues and faults.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "admin_protocol.h"
#include "device_backends.h"
#include "device_options.h"
#include "event_queues.h"
#include "event_record.h"
#include "fault_injection.h"
#include "fleet.h"
#include "process_identity.h"
#include "request_table.h"
#include "text_parse.h"
#include "traffic/utf16_text.h"

namespace nettlebeam::driver {
namespace {

TEST(RequestTable, PayloadRulesRejectWrongLengths) {
    auto config = *requestShape(0xCB202008);
    EXPECT_TRUE(payloadFits(config, nullptr, 32));
    EXPECT_FALSE(payloadFits(config, nullptr, 31));
    EXPECT_FALSE(payloadFits(config, nullptr, 33));

    auto block = *requestShape(0xCB202414);
    EXPECT_FALSE(payloadFits(block, nullptr, 0));
    EXPECT_TRUE(payloadFits(block, nullptr, 1));
    EXPECT_TRUE(payloadFits(block, nullptr, 508));
    EXPECT_FALSE(payloadFits(block, nullptr, 509));

    auto name = *requestShape(0xCB202808);
    const uint8_t good[] = {'a', 0, 0, 0};
    const uint8_t unterminated[] = {'a', 0, 'b', 0};
    const uint8_t odd[] = {'a', 0, 0};
    EXPECT_TRUE(payloadFits(name, good, 4));
    EXPECT_FALSE(payloadFits(name, unterminated, 4));
    EXPECT_FALSE(payloadFits(name, odd, 3));
    EXPECT_FALSE(payloadFits(name, good, 0));
}

TEST(RequestTable, CapacityMustHoldFixedReplies) {
    EXPECT_FALSE(capacityFits(*requestShape(0xCB202820), 8255));
    EXPECT_TRUE(capacityFits(*requestShape(0xCB202820), 8256));
    EXPECT_TRUE(capacityFits(*requestShape(0xCB202004), 0));  // command without reply
    EXPECT_TRUE(capacityFits(*requestShape(0xCB203000), 1));  // caller's buffer
    EXPECT_FALSE(capacityFits(*requestShape(0xCB203400), 4107));
    EXPECT_FALSE(requestShape(0xCB202018).has_value());
    EXPECT_FALSE(requestShape(0).has_value());
    EXPECT_FALSE(requestShape(0xCB20205C)->reply == ReplyRule::None);
}

TEST(TextParse, NumbersVersionsMacsAndHex) {
    EXPECT_EQ(parseUnsigned("0x4F", 255), 0x4Fu);
    EXPECT_EQ(parseUnsigned("256", 255), std::nullopt);
    EXPECT_EQ(parseUnsigned("12a", 1000), std::nullopt);
    EXPECT_EQ(parseUnsigned("", 1000), std::nullopt);
    EXPECT_EQ(parseUnsigned("18446744073709551616", UINT64_MAX), std::nullopt);
    EXPECT_EQ(parseSigned("-2147483648", INT32_MIN, INT32_MAX), INT32_MIN);
    EXPECT_EQ(parseSigned("-2147483649", INT32_MIN, INT32_MAX), std::nullopt);
    EXPECT_EQ(parseSigned("-1", 0, 10), std::nullopt);
    EXPECT_EQ(parseSigned("-9223372036854775808", INT64_MIN, INT64_MAX), INT64_MIN);

    EXPECT_EQ(parseDottedVersion("0.1.3.62"), (std::array<uint8_t, 4>{0, 1, 3, 62}));
    EXPECT_EQ(parseDottedVersion("1.2.3"), std::nullopt);
    EXPECT_EQ(parseDottedVersion("1.2.3.256"), std::nullopt);
    EXPECT_EQ(parseDottedVersion("1.2.3.4.5"), std::nullopt);
    EXPECT_EQ(parseDottedVersion("1..3.4"), std::nullopt);

    EXPECT_EQ(parseMac("00:1B:c5:0a:00:ff"),
              (std::array<uint8_t, 6>{0, 0x1b, 0xc5, 0x0a, 0, 0xff}));
    EXPECT_EQ(parseMac("00:1b:c5:0a:00"), std::nullopt);
    EXPECT_EQ(parseMac("00:1b:c5:0a:00:fg"), std::nullopt);
    EXPECT_EQ(formatMac({0, 0x1b, 0xc5, 0x0a, 0, 0xff}), "00:1b:c5:0a:00:ff");

    EXPECT_EQ(parseHexBytes("4f 00:A1"), (std::vector<uint8_t>{0x4f, 0x00, 0xa1}));
    EXPECT_EQ(parseHexBytes("4f0"), std::nullopt);
    EXPECT_EQ(parseHexBytes("4 f"), std::nullopt);
    EXPECT_EQ(parseHexBytes("zz"), std::nullopt);
}

TEST(DeviceOptions, TypesMapToTheirIdentifiers) {
    auto gen2Gps = std::get<SimulatedDeviceSettings>(parseDeviceOptions({"--type", "9"}));
    EXPECT_EQ(gen2Gps.hardwareId, 0x10);
    auto tenGig = std::get<SimulatedDeviceSettings>(parseDeviceOptions({"--type", "11"}));
    EXPECT_EQ(tenGig.hardwareId, 0x4F);
    EXPECT_FALSE(tenGig.gps);
    auto tenGigGps = std::get<SimulatedDeviceSettings>(parseDeviceOptions({"--type", "12"}));
    EXPECT_TRUE(tenGigGps.gps);
    auto unknown = std::get<SimulatedDeviceSettings>(parseDeviceOptions({"--type", "2"}));
    for (unsigned type = 3; type <= 14; ++type)
        EXPECT_NE(*hardwareIdForType(type), unknown.hardwareId) << type;
    EXPECT_FALSE(hardwareIdForType(0));
    EXPECT_FALSE(hardwareIdForType(15));
}

TEST(DeviceOptions, EveryOptionIsParsedAndEncodedBothWays) {
    auto parsed = parseDeviceOptions({"--hwid", "0x4f", "--gps", "no", "--mac", "02:00:00:00:00:07",
                                      "--hw-fw", "219", "--sw-fw", "2.4.1.0", "--driver-version",
                                      "0.1.3.61", "--usb", "2"});
    auto settings = std::get<SimulatedDeviceSettings>(parsed);
    auto decoded = decodeDeviceSettings(encodeDeviceSettings(settings));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->hardwareId, 0x4F);
    EXPECT_FALSE(decoded->gps);
    EXPECT_EQ(decoded->mac, (std::array<uint8_t, 6>{2, 0, 0, 0, 0, 7}));
    EXPECT_EQ(decoded->hwFirmwareVersion, 219u);
    EXPECT_EQ(decoded->swFirmwareVersion, (std::array<uint8_t, 4>{2, 4, 1, 0}));
    EXPECT_EQ(decoded->driverVersion, (std::array<uint8_t, 4>{0, 1, 3, 61}));
    EXPECT_EQ(decoded->usbSpeed, 2);

    auto cages = std::get<SimulatedDeviceSettings>(
        parseDeviceOptions({"--type", "12", "--cage-a", "empty", "--cage-b", "lr"}));
    auto cagesBack = decodeDeviceSettings(encodeDeviceSettings(cages));
    ASSERT_TRUE(cagesBack);
    EXPECT_EQ(cagesBack->cages[0], TransceiverKind::Empty);
    EXPECT_EQ(cagesBack->cages[1], TransceiverKind::LongReachExternal);
    EXPECT_TRUE(cagesBack->traffic.empty());
    EXPECT_EQ(cagesBack->replaySpeed, "1");
    auto badCage = encodeDeviceSettings(cages);
    badCage.back() = 9;
    EXPECT_FALSE(decodeDeviceSettings(badCage));

    // The replay's loop flag and ports share a byte.
    SimulatedDeviceSettings replay;
    replay.replayFile = "/captures/link.pcap";
    for (auto ports : {traffic::ReplayPorts::B, traffic::ReplayPorts::Split}) {
        for (bool loop : {false, true}) {
            replay.replayPorts = ports;
            replay.replayLoop = loop;
            auto back = decodeDeviceSettings(encodeDeviceSettings(replay));
            ASSERT_TRUE(back);
            EXPECT_EQ(back->replayPorts, ports);
            EXPECT_EQ(back->replayLoop, loop);
            EXPECT_EQ(back->replayFile, replay.replayFile);
        }
    }
    auto badPorts = encodeDeviceSettings(replay);
    badPorts[22] = 6;  // ports 3 do not exist
    EXPECT_FALSE(decodeDeviceSettings(badPorts));

    auto noMac = decodeDeviceSettings(encodeDeviceSettings(SimulatedDeviceSettings{}));
    ASSERT_TRUE(noMac);
    EXPECT_FALSE(noMac->mac);
    EXPECT_FALSE(decodeDeviceSettings({1, 2, 3}));
}

TEST(DeviceOptions, MistakesGiveOneLineErrors) {
    auto error = [](std::vector<std::string> args) {
        auto result = parseDeviceOptions(args);
        return std::holds_alternative<std::string>(result) ? std::get<std::string>(result) : "";
    };
    EXPECT_NE(error({}), "");
    EXPECT_NE(error({"--type", "3", "--hwid", "0x4B"}), "");
    EXPECT_NE(error({"--type", "0"}), "");
    EXPECT_NE(error({"--type", "15"}), "");
    EXPECT_NE(error({"--type", "11", "--gps", "yes"}), "");
    EXPECT_NE(error({"--hwid", "0x100"}), "");
    EXPECT_NE(error({"--type", "3", "--usb", "4"}), "");
    EXPECT_NE(error({"--type", "3", "--usb", "0"}), "");
    EXPECT_NE(error({"--type", "3", "--gps", "maybe"}), "");
    EXPECT_NE(error({"--type", "3", "--colour", "red"}), "");
    EXPECT_NE(error({"--type"}), "");
    EXPECT_NE(error({"--type", "12", "--cage-a", "copper"}), "");
    EXPECT_NE(error({"--type", "3", "--replay-ports", "split"}), "") << "needs --replay";
    EXPECT_EQ(error({"--type", "3", "--usb", "1"}), "");
    for (auto args : {std::vector<std::string>{"--type", "3", "--mac", "00:11"}})
        EXPECT_EQ(error(args).find('\n'), std::string::npos);
}

// An attach line goes to the simulated device unless it carries another
// backend's selector option; that backend alone parses it, and the daemon
// finds each backend again by its attach request code.
TEST(DeviceBackends, AttachLineChoosesItsBackend) {
    // The default backend and two made up here (the real interface backend
    // looks its interfaces up, which this parsing test must not depend on).
    std::vector<DeviceBackend> backends{deviceBackends().front()};
    DeviceBackend interfaces;
    interfaces.name = "interfaces";
    interfaces.attachCode = 0x4E4200F0;
    interfaces.selector = "--interfaces";
    interfaces.parse = [](const std::vector<std::string>& args) -> BackendOptionsResult {
        if (args.size() != 2) return std::string("--interfaces wants IF_A[,IF_B]");
        return std::vector<uint8_t>(args[1].begin(), args[1].end());
    };
    backends.push_back(interfaces);
    DeviceBackend other = interfaces;
    other.selector = "--other";
    backends.push_back(other);

    auto simulated = parseDeviceSpec({"--type", "13", "--usb", "1"}, backends);
    ASSERT_TRUE(std::holds_alternative<DeviceSpec>(simulated)) << std::get<std::string>(simulated);
    EXPECT_EQ(std::get<DeviceSpec>(simulated).backend, &backends[0]);
    auto settings = decodeDeviceSettings(std::get<DeviceSpec>(simulated).settings);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->hardwareId, 0x50);
    EXPECT_EQ(settings->usbSpeed, 1);

    auto chosen = parseDeviceSpec({"--interfaces", "eth0,eth1"}, backends);
    ASSERT_TRUE(std::holds_alternative<DeviceSpec>(chosen));
    EXPECT_EQ(std::get<DeviceSpec>(chosen).backend, &backends[1]);
    EXPECT_EQ(std::get<DeviceSpec>(chosen).settings,
              std::vector<uint8_t>({'e', 't', 'h', '0', ',', 'e', 't', 'h', '1'}));
    // Its own errors, not the simulated device's complaint about a missing --type.
    auto refused = parseDeviceSpec({"--interfaces", "eth0", "--type", "5"}, backends);
    ASSERT_TRUE(std::holds_alternative<std::string>(refused));
    EXPECT_EQ(std::get<std::string>(refused), "--interfaces wants IF_A[,IF_B]");
    auto both = parseDeviceSpec({"--interfaces", "eth0", "--other", "eth1"}, backends);
    ASSERT_TRUE(std::holds_alternative<std::string>(both));
    EXPECT_NE(std::get<std::string>(both).find("exclude each other"), std::string::npos);

    // The daemon's side: the attach code leads back to the backend, whose
    // decoder accepts what its parser made and nothing malformed.
    const DeviceBackend* byCode = backendForAttachCode(admin::kAttach);
    ASSERT_NE(byCode, nullptr);
    EXPECT_TRUE(byCode->decode(std::get<DeviceSpec>(simulated).settings));
    EXPECT_FALSE(byCode->decode({1, 2, 3}));
    EXPECT_EQ(backendForAttachCode(admin::kDevices), nullptr);
}

// A fleet line's device as the simulated backend decodes it.
SimulatedDeviceSettings simulated(const DeviceSpec& spec) {
    return decodeDeviceSettings(spec.settings).value();
}

TEST(Fleet, DemoAndFileFormat) {
    auto demo = std::get<Fleet>(loadFleet("demo"));
    ASSERT_GE(demo.size(), 3u);
    bool tenGigGps = false, gen2Gps = false, fastEthernet = false;
    for (const auto& spec : demo) {
        const SimulatedDeviceSettings device = simulated(spec);
        tenGigGps |= device.hardwareId == 0x4F && device.gps;
        gen2Gps |= device.hardwareId == 0x10;
        fastEthernet |= device.hardwareId == 0x50;
    }
    EXPECT_TRUE(tenGigGps && gen2Gps && fastEthernet);
    EXPECT_TRUE(std::get<Fleet>(loadFleet("empty")).empty());

    auto fleet =
        parseFleetText("# two devices\n\n--type 13   # fast\n  --hwid 0x4A --usb 1\n", "f");
    ASSERT_TRUE(std::holds_alternative<Fleet>(fleet));
    ASSERT_EQ(std::get<Fleet>(fleet).size(), 2u);
    EXPECT_EQ(simulated(std::get<Fleet>(fleet)[1]).usbSpeed, 1);

    auto bad = parseFleetText("--type 13\n--type 13 --usb 9\n", "fleet.txt");
    ASSERT_TRUE(std::holds_alternative<std::string>(bad));
    EXPECT_EQ(std::get<std::string>(bad).rfind("fleet.txt:2: ", 0), 0u);
    EXPECT_TRUE(std::holds_alternative<std::string>(loadFleet("/nonexistent/fleet")));
}

uint32_t u32At(const std::vector<uint8_t>& bytes, size_t offset) {
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

TEST(EventRecord, LayoutOfEachKind) {
    auto arrival = makeDeviceEvent(EventKind::DeviceArrival, 7);
    ASSERT_EQ(arrival.size(), 4108u);
    EXPECT_EQ(u32At(arrival, 0), 7u);
    EXPECT_EQ(u32At(arrival, 4), 2u);
    EXPECT_EQ(u32At(arrival, 12), 7u);

    EventFields state;
    state.kind = 4;
    state.handle = 3;
    state.word = 1;
    state.wordGiven = true;
    state.error = -2;
    auto record = makeEventRecord(state);
    EXPECT_EQ(u32At(record, 12), 1u);
    EXPECT_EQ(u32At(record, 16), 0xFFFFFFFEu);
    EXPECT_EQ(u32At(record, 20), 0xFFFFFFFFu);

    EventFields file;
    file.kind = 1;
    file.handle = 3;
    file.fileName = *utf8ToUtf16("/tmp/é😀");
    auto named = makeEventRecord(file);
    EXPECT_EQ(named[12], '/');
    EXPECT_EQ(named[12 + 2 * 5], 0xE9);          // é
    EXPECT_EQ(named[12 + 2 * 6 + 1], 0xD8);      // high surrogate
    EXPECT_EQ(named[12 + 2 * 8], 0);             // terminator
    file.fileName = std::u16string(5000, u'x');  // never runs past the record
    auto longName = makeEventRecord(file);
    EXPECT_EQ(longName.size(), 4108u);
    EXPECT_EQ(longName[4106], 0);
    EXPECT_EQ(longName[4107], 0);
    EXPECT_FALSE(utf8ToUtf16("\xC3"));
    EXPECT_FALSE(utf8ToUtf16("\xFF"));
}

// This process as the daemon would see it on the other end of a socket.
ProcessKey peerlessSelf() {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    const auto key = peerProcess(fds[0]);
    close(fds[0]);
    close(fds[1]);
    EXPECT_TRUE(key.has_value());
    return key.value_or(ProcessKey{});
}

TEST(EventQueues, EachProcessSeesEveryEventInOrderAfterItsFirstRequest) {
    using namespace std::chrono_literals;
    EventQueues queues(4, 30s);
    auto now = EventQueues::Clock::now();
    ProcessKey a{10, 1}, b{10, 2};  // same pid, different start: different processes
    queues.post({1});               // nobody listens yet: lost by design
    queues.touch(a, now);
    queues.post({2});
    queues.touch(b, now);
    queues.post({3});
    std::vector<uint8_t> event;
    ASSERT_EQ(queues.take(a, now, event), EventQueues::Take::Event);
    EXPECT_EQ(event, std::vector<uint8_t>{2});
    ASSERT_EQ(queues.take(a, now, event), EventQueues::Take::Event);
    EXPECT_EQ(event, std::vector<uint8_t>{3});
    EXPECT_EQ(queues.take(a, now, event), EventQueues::Take::Empty);
    ASSERT_EQ(queues.take(b, now, event), EventQueues::Take::Event);
    EXPECT_EQ(event, std::vector<uint8_t>{3});
}

TEST(EventQueues, OverflowFailsOneWaitThenCollectsAgain) {
    using namespace std::chrono_literals;
    EventQueues queues(2, 30s);
    auto now = EventQueues::Clock::now();
    ProcessKey a{1, 1};
    queues.touch(a, now);
    for (uint8_t i = 0; i < 3; ++i) queues.post({i});
    queues.post({9});  // dropped with the rest: the process must re-enumerate
    std::vector<uint8_t> event;
    EXPECT_EQ(queues.take(a, now, event), EventQueues::Take::Overflowed);
    EXPECT_EQ(queues.take(a, now, event), EventQueues::Take::Empty);
    queues.post({5});
    ASSERT_EQ(queues.take(a, now, event), EventQueues::Take::Event);
    EXPECT_EQ(event, std::vector<uint8_t>{5});
}

TEST(EventQueues, SilentProcessesAreForgottenButParkedOnesStay) {
    using namespace std::chrono_literals;
    EventQueues queues(8, 30s);
    auto start = EventQueues::Clock::now();
    ProcessKey silent{1, 1}, waiting{2, 1};
    queues.touch(silent, start);
    queues.touch(waiting, start);
    queues.park(waiting);
    EXPECT_EQ(queues.expire(start + 29s), 0u);
    EXPECT_EQ(queues.expire(start + 31s), 1u);
    EXPECT_FALSE(queues.knows(silent));
    EXPECT_TRUE(queues.knows(waiting));
    queues.unpark(waiting, start + 40s);
    EXPECT_EQ(queues.expire(start + 60s), 0u);
    EXPECT_EQ(queues.expire(start + 71s), 1u);
}

TEST(EventQueues, ExitedProcessesAreForgottenAtOnceUnlessTheyWait) {
    using namespace std::chrono_literals;
    EventQueues queues(8, 30s);
    const auto start = EventQueues::Clock::now();
    const ProcessKey gone{100, 1}, alive{101, 1}, parked{102, 1};
    for (const ProcessKey& p : {gone, alive, parked}) queues.touch(p, start);
    queues.park(parked);
    auto running = [&](const ProcessKey& p) { return p == alive; };
    EXPECT_EQ(queues.expire(start + 1s, running), 1u);
    EXPECT_FALSE(queues.knows(gone));
    EXPECT_TRUE(queues.knows(alive));
    EXPECT_TRUE(queues.knows(parked));
    // This very process runs; a key with another start time is not it.
    const auto self = peerlessSelf();
    EXPECT_TRUE(processRunning(self));
    EXPECT_FALSE(processRunning({self.pid, self.startTime + 1}));
}

TEST(FaultInjector, MatchesHandleAndCodeAndCountsDown) {
    FaultInjector faults;
    Fault fault;
    fault.handle = 3;
    fault.code = 0xCB202020;
    fault.times = 2;
    faults.arm(fault);
    Fault any;
    any.anyHandle = true;
    any.code = 0xCB202000;
    faults.arm(any);
    EXPECT_FALSE(faults.take(0xCB202020, 4));
    EXPECT_FALSE(faults.take(0xCB202024, 3));
    EXPECT_FALSE(faults.take(0xCB202020, std::nullopt));
    EXPECT_TRUE(faults.take(0xCB202020, 3));
    EXPECT_TRUE(faults.take(0xCB202020, 3));
    EXPECT_FALSE(faults.take(0xCB202020, 3));
    EXPECT_FALSE(faults.take(0xCB202000, 0));
    EXPECT_TRUE(faults.take(0xCB202000, std::nullopt));

    faults.arm(fault);
    faults.forgetDevice(3);
    EXPECT_FALSE(faults.take(0xCB202020, 3));
}

TEST(FaultInjector, EncodingRoundTripsAndRejectsJunk) {
    Fault fault;
    fault.handle = -5;
    fault.code = 0xCB202030;
    fault.action = Fault::Action::Replace;
    fault.bytes = {0xFE, 1, 2};
    fault.times = 3;
    auto decoded = decodeFault(encodeFault(fault));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->handle, -5);
    EXPECT_EQ(decoded->bytes, fault.bytes);
    EXPECT_EQ(decoded->times, 3u);
    auto junk = encodeFault(fault);
    junk[12] = 7;  // no such action
    EXPECT_FALSE(decodeFault(junk));
    EXPECT_FALSE(decodeFault({1, 2, 3}));
}

TEST(ProcessIdentity, StartTimeSurvivesOddCommandNames) {
    std::string line = "1234 (a) b (c) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 98765 20 21";
    EXPECT_EQ(startTimeFromStat(line), 98765u);
    EXPECT_FALSE(startTimeFromStat("1234 (x) S 1 2"));
    EXPECT_FALSE(startTimeFromStat("no parenthesis"));
}

}  // namespace
}  // namespace nettlebeam::driver

TEST(Utf16Text, NamesConvertWhateverBytesTheyHold) {
    using nettlebeam::traffic::toUtf16;
    using nettlebeam::traffic::toUtf8;
    // "/tmp/é€😀" survives the round trip, the emoji as a surrogate pair.
    const std::string name = "/tmp/\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const std::u16string wide = toUtf16(name);
    EXPECT_EQ(wide, u"/tmp/\u00E9\u20AC\U0001F600");
    EXPECT_EQ(toUtf8(wide), name);
    // Bad continuation, overlong form, encoded surrogate and a cut sequence
    // each become U+FFFD without swallowing the next character.
    EXPECT_EQ(toUtf16("a\xC3"
                      "b"),
              u"a\uFFFDb");
    EXPECT_EQ(toUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(toUtf16("\xED\xA0\x80x"), u"\uFFFD\uFFFD\uFFFDx");
    EXPECT_EQ(toUtf16("z\xF0\x9F\x98"), u"z\uFFFD\uFFFD\uFFFD");
    // A lone surrogate from the host becomes U+FFFD in the file name.
    EXPECT_EQ(toUtf8(std::u16string(1, char16_t{0xD800}) + u"q"), "\xEF\xBF\xBDq");
}

TEST(Utf16Text, StoredNamesKeepRoomForTheirTerminator) {
    std::vector<uint8_t> out(10, 0);
    nettlebeam::traffic::putUtf16Le(out, 2, u"abcdef");
    // Eight bytes from offset 2 hold three units and the zero.
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 'a', 0, 'b', 0, 'c', 0, 0, 0}));
    std::vector<uint8_t> tiny(3, 7);
    nettlebeam::traffic::putUtf16Le(tiny, 2, u"x");
    EXPECT_EQ(tiny, (std::vector<uint8_t>{7, 7, 7}));
}
