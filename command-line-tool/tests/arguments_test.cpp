// How the argument definitions behave under argtable2: the traps are the
// optional values, whole-word matching of the command patterns, and case.
#include "arguments.h"

#include <gtest/gtest.h>

#include <cctype>
#include <limits>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "device_choice.h"

namespace beamctl {
namespace {

// Parses `words` (the first stands for the program name) against a table.
// argtable2 keeps pointers into argv (file names, regular-expression words),
// so the words live as long as the test program.
bool parse(ArgTable& table, std::vector<std::string> words) {
    static std::list<std::vector<std::string>> kept;
    kept.push_back(std::move(words));
    std::vector<std::string>& stored = kept.back();
    std::vector<char*> argv;
    for (std::string& word : stored) argv.push_back(word.data());
    argv.push_back(nullptr);
    return parses(table, static_cast<int>(stored.size()), argv.data());
}

TEST(CommandWords, AcceptOnlyWholeWordsInAnyCase) {
    Arguments args;
    ASSERT_TRUE(args.complete());
    for (const char* word : {"list", "LIST", "Statistics", "directcapture", "dpi", "features",
                             "gps", "statistics", "ports", "PORTS", "counters", "Time"}) {
        EXPECT_TRUE(parse(args.mainTable, {"beamctl", word})) << word;
    }
    for (const char* word :
         {"lists", "xlist", "listx", "help", "dpis", "adpi", "gpss", "directcapturex",
          "statisticsstatistics", "portss", "times", "counter", ""}) {
        EXPECT_FALSE(parse(args.mainTable, {"beamctl", word})) << word;
    }
}

TEST(ActionWords, AcceptOnlyWholeWordsInAnyCase) {
    Arguments args;
    EXPECT_TRUE(parse(args.captureTable, {"directcapture", "START"}));
    EXPECT_TRUE(parse(args.captureTable, {"directcapture", "status"}));
    EXPECT_FALSE(parse(args.captureTable, {"directcapture", "startx"}));
    EXPECT_FALSE(parse(args.captureTable, {"directcapture", "xstop"}));
    EXPECT_TRUE(parse(args.dpiTable, {"dpi", "Disable"}));
    EXPECT_FALSE(parse(args.dpiTable, {"dpi", "enabled"}));
    EXPECT_FALSE(parse(args.dpiTable, {"dpi", "set"}));
    EXPECT_TRUE(parse(args.featuresTable, {"features", "CLEAR"}));
    EXPECT_FALSE(parse(args.featuresTable, {"features", "shows"}));
    EXPECT_FALSE(parse(args.featuresTable, {"features", "enable"}));
}

TEST(OptionalValues, TakeOnlyAnAttachedValueAndKeepTheirDefaults) {
    Arguments args;
    ASSERT_TRUE(parse(args.statisticsTable, {"statistics", "--delay=500"}));
    EXPECT_TRUE(present(args.delay));
    EXPECT_EQ(valueOf(args.delay), 500);

    Arguments fresh;
    ASSERT_TRUE(parse(fresh.statisticsTable, {"statistics", "--delay"}));
    EXPECT_TRUE(present(fresh.delay));
    EXPECT_EQ(valueOf(fresh.delay), 1000);

    Arguments detached;
    EXPECT_FALSE(parse(detached.statisticsTable, {"statistics", "--delay", "500"}));
    EXPECT_FALSE(parse(detached.statisticsTable, {"statistics", "--delay=soon"}));
}

TEST(OptionalValues, DefaultsOfTheCaptureAndSlicingOptions) {
    Arguments args;
    ASSERT_TRUE(parse(args.captureStartTable, {"start", "-o", "base", "--count", "--maxcache"}));
    EXPECT_EQ(valueOf(args.count), 1);
    EXPECT_EQ(valueOf(args.size), 0);
    EXPECT_EQ(valueOf(args.maxcache), 100);
    EXPECT_EQ(valueOf(args.fileduration), 0);
    EXPECT_FALSE(present(args.loop));
    EXPECT_STREQ(args.name->filename[0], "base");

    ASSERT_TRUE(parse(args.captureStartTable,
                      {"start", "--name=x", "--size=4096", "--maxcache=2048", "--loop"}));
    EXPECT_EQ(valueOf(args.size), 4096);
    EXPECT_EQ(valueOf(args.maxcache), 2048);
    EXPECT_TRUE(present(args.loop));
    EXPECT_FALSE(parse(args.captureStartTable, {"start", "--count", "3", "-o", "x"}));
    EXPECT_FALSE(parse(args.captureStartTable, {"start", "--loop"})) << "the name is required";

    ASSERT_TRUE(parse(args.featuresChangeTable, {"set", "--slicing=70000", "--loopback"}));
    EXPECT_EQ(valueOf(args.slicing), 70000);
    EXPECT_TRUE(present(args.loopback));
}

TEST(DeviceOption, TakesItsValueInEveryForm) {
    for (const std::vector<std::string>& words : {std::vector<std::string>{"gps", "-d", "3"},
                                                  {"gps", "-d3"},
                                                  {"gps", "--device=3"},
                                                  {"gps", "--device", "3"}}) {
        Arguments args;
        ASSERT_TRUE(parse(args.deviceTable, words)) << words.back();
        EXPECT_TRUE(present(args.device));
        EXPECT_EQ(deviceChoiceOf(args.device)->position, 3);
    }
    Arguments args;
    EXPECT_FALSE(parse(args.deviceTable, {"gps", "-d"}));
    EXPECT_FALSE(parse(args.deviceTable, {"gps", "-d", "first"}));
    EXPECT_FALSE(parse(args.deviceTable, {"gps", "0"})) << "no positional argument";
}

TEST(DeviceOption, NamesADeviceByMacInAnyCaseWithEitherSeparator) {
    const Mac expected = {0x00, 0x1b, 0xc5, 0x0a, 0x00, 0xff};
    for (const char* text : {"00:1b:c5:0a:00:ff", "00-1B-C5-0A-00-FF", "00:1b-c5:0A-00:Ff"}) {
        Arguments args;
        ASSERT_TRUE(parse(args.deviceTable, {"gps", "-d", text})) << text;
        const std::optional<DeviceChoice> choice = deviceChoiceOf(args.device);
        ASSERT_TRUE(choice) << text;
        EXPECT_FALSE(choice->position) << text;
        EXPECT_EQ(choice->mac, expected) << text;
        EXPECT_EQ(macText(*choice->mac), "00:1b:c5:0a:00:ff");
    }
    // A byte short, a pair too long, another separator, a digit out of range:
    // none is a MAC, and none a position either.
    for (const char* text : {"00:1b:c5:0a:00", "00:1b:c5:0a:00:fff", "00.1b.c5.0a.00.ff",
                             "00:1b:c5:0a:00:fg", "001bc50a00ff", "1.5", "--1"}) {
        Arguments args;
        EXPECT_FALSE(parse(args.deviceTable, {"gps", "-d", text})) << text;
        EXPECT_FALSE(deviceChoiceFrom(text)) << text;
    }
    // A position beyond any list stays a position (it selects nothing), not
    // a wrapped small number.
    EXPECT_EQ(deviceChoiceFrom("99999999999999999999")->position,
              std::numeric_limits<long long>::max());
    EXPECT_EQ(deviceChoiceFrom("-1")->position, -1);
}

TEST(DpiOptions, PatternsOfTextHexAndMask) {
    Arguments args;
    EXPECT_TRUE(parse(args.dpiEnableTable, {"enable", "--dpitxt=ABCDEFGHIJKLMNOP"}));
    EXPECT_FALSE(parse(args.dpiEnableTable, {"enable", "--dpitxt=ABCDEFGHIJKLMNO"}));
    EXPECT_FALSE(parse(args.dpiEnableTable, {"enable", "--dpitxt=ABCDEFGHIJKLMNOPQ"}));

    const std::string hex32 = "054a1d8f90041235bed4054a1d8f9004";
    EXPECT_TRUE(parse(args.dpiEnableTable, {"enable", "--dpihex=" + hex32}));
    EXPECT_TRUE(
        parse(args.dpiEnableTable, {"enable", "--dpihex", "054A1D8F90041235BED4054A1D8F9004"}));
    EXPECT_FALSE(parse(args.dpiEnableTable, {"enable", "--dpihex=" + hex32.substr(1)}));
    EXPECT_FALSE(parse(args.dpiEnableTable, {"enable", "--dpihex=" + hex32 + "0"}));
    EXPECT_FALSE(
        parse(args.dpiEnableTable, {"enable", "--dpihex=g54a1d8f90041235bed4054a1d8f9004"}));

    EXPECT_TRUE(parse(args.dpiEnableTable, {"enable", "--dpimask=0x0000ffff"}));
    EXPECT_TRUE(parse(args.dpiEnableTable, {"enable", "--dpimask=0000FFFF"}));
    EXPECT_FALSE(parse(args.dpiEnableTable, {"enable", "--dpimask=0xffff"}));
    EXPECT_FALSE(parse(args.dpiEnableTable, {"enable", "--dpimask=-0x0000ffff"}));
}

// The command argument is built from a table: a row is all a new command
// needs to be parsed and found, and only the rows marked for it reach the
// main usage.
TEST(CommandTable, TheParserAndTheUsageFollowTheRows) {
    const std::vector<Command> rows = {{"alpha", nullptr, true}, {"beta", nullptr, false}};
    Arguments args(rows);
    EXPECT_TRUE(parse(args.mainTable, {"beamctl", "alpha"}));
    EXPECT_TRUE(parse(args.mainTable, {"beamctl", "BETA"}));
    for (const char* word : {"list", "alphabeta", "alph", "xbeta", "alpha|beta"}) {
        EXPECT_FALSE(parse(args.mainTable, {"beamctl", word})) << word;
    }
    EXPECT_EQ(commandPlaceholder(rows), "<help|alpha>");
    EXPECT_EQ(commandPlaceholder(commandTable()),
              "<help|directcapture|list|dpi|features|gps|statistics>");
}

TEST(CommandTable, EveryRowIsFoundByItsWordInAnyCase) {
    for (const Command& row : commandTable()) {
        std::string upper = row.word;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(findCommand(commandTable(), upper.c_str()), &row) << row.word;
        EXPECT_NE(row.run, nullptr) << row.word;
    }
    EXPECT_EQ(findCommand(commandTable(), "lis"), nullptr);
    EXPECT_EQ(findCommand(commandTable(), "help"), nullptr) << "help is answered before dispatch";
}

}  // namespace
}  // namespace beamctl
