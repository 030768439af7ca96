// What an interface device serves of the module the kernel reads: the
// ethtool EEPROM image in each layout, cut short or longer than what was
// read, laid out in the transceiver reply and read back by the library's
// own decoder. The images are the simulated modules' pages, so the values
// the library should find are known.
#include <gtest/gtest.h>
#include <linux/ethtool.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codec/link_status.h"
#include "netif/module_eeprom.h"
#include "sim/transceiver_model.h"

namespace nettlebeam::driver::netif {
namespace {

// An SFF-8472 image as the kernel reads it: A0 at 0, A2 at 256, upper
// halves blank.
std::vector<uint8_t> eepromImage(const sim::TransceiverModule& module) {
    std::vector<uint8_t> image(512, 0);
    std::copy_n(module.serialIdPage().begin(), 128, image.begin());
    const auto a2 = module.diagnosticsPage(0);
    std::copy_n(a2.begin(), 128, image.begin() + 256);
    return image;
}

// The library's view of a reply serving `pages` in cage B (cage A empty).
NettlebeamApiSfpModule servedInCageB(const std::optional<sim::ModulePages>& pages) {
    const auto reply = sim::TransceiverModel::reply({std::nullopt, pages});
    NettlebeamApiLinkStatus status{};
    EXPECT_TRUE(codec::decodeTransceiverData(reply, status));
    EXPECT_EQ(status.sfp[0].present, 0) << "cage A stays empty";
    return status.sfp[1];
}

uint8_t sum(const std::array<uint8_t, 128>& page, size_t from, size_t to) {
    unsigned total = 0;
    for (size_t i = from; i <= to; ++i) total += page[i];
    return static_cast<uint8_t>(total);
}

TEST(ModuleEeprom, AnSff8472ImageServesBothPagesWithItsDiagnostics) {
    const sim::TransceiverModule module(TransceiverKind::ShortReach, 1);
    const auto image = eepromImage(module);
    const auto pages = modulePagesFrom(ETH_MODULE_SFF_8472, 512, image);
    ASSERT_TRUE(pages);
    EXPECT_EQ(pages->serialId, module.serialIdPage());
    ASSERT_TRUE(pages->diagnostics);
    EXPECT_EQ(*pages->diagnostics, module.diagnosticsPage(0));

    const NettlebeamApiSfpModule served = servedInCageB(pages);
    EXPECT_EQ(served.present, 1);
    EXPECT_STREQ(served.vendorName, "PHOTONFIELD     ");
    EXPECT_EQ(served.wavelength, 850u);
    EXPECT_EQ(served.diagnosticsType, 0) << "internally calibrated";
    const sim::Diagnostics expected = module.diagnosticsAt(0);
    EXPECT_NEAR(served.temperature, expected.temperature, 0.01);
    EXPECT_NEAR(served.rxPower, expected.rxPower, 0.001);
}

// Serial ID without a diagnostics page: an SFF-8079 module, or an SFF-8472
// answer that claims or holds too few bytes for A2. The module reads as
// one without diagnostics, its own checksum still right.
TEST(ModuleEeprom, WithoutAWholeA2PageTheModuleReadsAsOneWithoutDiagnostics) {
    const sim::TransceiverModule module(TransceiverKind::LongReachExternal, 0);
    const auto image = eepromImage(module);
    ASSERT_NE(module.serialIdPage()[92] & 0x40, 0) << "the image claims diagnostics";
    struct Case {
        const char* what;
        uint32_t type, length;
        size_t held;
    };
    const Case cases[] = {
        {"SFF-8079", ETH_MODULE_SFF_8079, 256, 256},
        {"SFF-8079 with more bytes than it claims", ETH_MODULE_SFF_8079, 256, 512},
        {"SFF-8472 claiming A0 only", ETH_MODULE_SFF_8472, 256, 512},
        {"SFF-8472 claiming part of A2", ETH_MODULE_SFF_8472, 300, 512},
        {"SFF-8472 claiming more than was read", ETH_MODULE_SFF_8472, 512, 300},
        {"SFF-8472 with exactly A0", ETH_MODULE_SFF_8472, 512, 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> held(image.begin(), image.begin() + c.held);
        const auto pages = modulePagesFrom(c.type, c.length, held);
        ASSERT_TRUE(pages);
        EXPECT_FALSE(pages->diagnostics);
        auto expected = module.serialIdPage();
        expected[92] &= 0xBF;
        expected[95] = sum(expected, 64, 94);
        EXPECT_EQ(pages->serialId, expected) << "A0 as it was, but without diagnostics";
        EXPECT_EQ(pages->serialId[95], sum(pages->serialId, 64, 94)) << "checksum";

        const NettlebeamApiSfpModule served = servedInCageB(pages);
        EXPECT_EQ(served.present, 1);
        EXPECT_STREQ(served.vendorName, "LUMENWAY        ");
        EXPECT_EQ(served.diagnosticsType, 4) << "no diagnostics";
        EXPECT_EQ(served.temperature, 0.0f);
    }
}

TEST(ModuleEeprom, NoModuleWithoutAWholeSerialIdPageOrForAnotherLayout) {
    const auto image = eepromImage(sim::TransceiverModule(TransceiverKind::ShortReach, 0));
    struct Case {
        const char* what;
        uint32_t type, length;
        size_t held;
    };
    const Case cases[] = {
        {"QSFP, SFF-8436", ETH_MODULE_SFF_8436, 256, 256},
        {"QSFP, SFF-8636", ETH_MODULE_SFF_8636, 256, 256},
        {"an unknown layout", 0x7F, 512, 512},
        {"no layout", 0, 512, 512},
        {"a claim shorter than A0", ETH_MODULE_SFF_8472, 127, 512},
        {"fewer bytes than A0", ETH_MODULE_SFF_8079, 256, 127},
        {"nothing read", ETH_MODULE_SFF_8472, 512, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<uint8_t> held(image.begin(), image.begin() + c.held);
        EXPECT_FALSE(modulePagesFrom(c.type, c.length, held));
    }
}

}  // namespace
}  // namespace nettlebeam::driver::netif
