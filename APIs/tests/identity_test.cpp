// Device identity, capabilities and versions against a running nettlebeamd.
#include <gtest/gtest.h>

#include <cstring>

#include "library_fixture.h"

namespace nettlebeam::apitest {
namespace {

constexpr uint32_t kReadHardwareIdentifier = 0xCB202020;
constexpr uint32_t kReadVersions = 0xCB20201C;
constexpr uint32_t kReadMac = 0xCB202028;
constexpr uint32_t kReadTimingStatus = 0xCB202030;
constexpr uint32_t kReadExtraInfo = 0xCB202088;

using IdentityTest = LibraryTest;

NettlebeamApiDeviceType typeOf(int32_t handle) {
    NettlebeamApiDeviceType type = 0xFFFF;
    EXPECT_EQ(NettlebeamAPIGetDeviceType(handle, &type), 0);
    return type;
}

TEST_F(IdentityTest, TypeFollowsTheHardwareIdentifier) {
    int32_t badFirmware = daemon().attach({"--hwid", "0x4A"});
    int32_t unknown = daemon().attach({"--hwid", "0x77"});
    int32_t gen2Poe = daemon().attach({"--hwid", "0x11"});
    int32_t gen4 = daemon().attach({"--type", "14"});
    int32_t noIdentifier = daemon().attach({"--type", "5"});
    inject(noIdentifier, kReadHardwareIdentifier, {"--fail"});
    int32_t last = attachListed({"--type", "13"});
    ASSERT_TRUE(eventually([&] { return listedHandles().size() == 6; }));

    EXPECT_EQ(typeOf(badFirmware), DeviceTypeBadFirmware);
    EXPECT_EQ(typeOf(unknown), DeviceTypeUnknown);
    EXPECT_EQ(typeOf(gen2Poe), DeviceTypeGigabitGen2Poe);
    EXPECT_EQ(typeOf(gen4), DeviceTypeGigabitGen4);
    EXPECT_EQ(typeOf(last), DeviceTypeFastEthernet);
    // A device that does not say what it is stays listed, without capabilities.
    EXPECT_EQ(typeOf(noIdentifier), DeviceTypeNone);
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilitiesEx(noIdentifier), 0u);
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilitiesEx(badFirmware), 0x10u);
}

TEST_F(IdentityTest, TenGigabitModelIsToldApartByItsTimingStatus) {
    int32_t withoutGps = daemon().attach({"--hwid", "0x4F", "--gps", "no"});
    int32_t withGps = daemon().attach({"--hwid", "0x4F", "--gps", "yes"});
    int32_t timingFails = daemon().attach({"--hwid", "0x4F", "--gps", "yes"});
    inject(timingFails, kReadTimingStatus, {"--fail"});
    int32_t timingEmpty = daemon().attach({"--hwid", "0x4F", "--gps", "no"});
    inject(timingEmpty, kReadTimingStatus, {"--reply-bytes", "0"});
    int32_t timingShort = daemon().attach({"--hwid", "0x4F", "--gps", "yes"});
    inject(timingShort, kReadTimingStatus, {"--reply-bytes", "5"});
    ASSERT_EQ(NettlebeamAPIInitialize(), 0);
    ASSERT_TRUE(eventually([&] { return listedHandles().size() == 5; }));

    EXPECT_EQ(typeOf(withoutGps), DeviceTypeTenGigabit);
    EXPECT_EQ(typeOf(withGps), DeviceTypeTenGigabitGps);
    EXPECT_EQ(typeOf(timingFails), DeviceTypeTenGigabit);
    EXPECT_EQ(typeOf(timingEmpty), DeviceTypeTenGigabitGps);
    EXPECT_EQ(typeOf(timingShort), DeviceTypeTenGigabit);
}

TEST_F(IdentityTest, VersionsAreStoredAtArrivalInDottedOrder) {
    int32_t handle = attachListed(
        {"--type", "5", "--sw-fw", "1.2.3.4", "--driver-version", "5.6.7.8", "--hw-fw", "301"});
    NettlebeamApiVersions versions{};
    ASSERT_EQ(NettlebeamAPIGetVersions(handle, &versions), 0);
    EXPECT_EQ(std::vector<int>(versions.swFirmwareVersion, versions.swFirmwareVersion + 4),
              (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(std::vector<int>(versions.driverVersion, versions.driverVersion + 4),
              (std::vector<int>{5, 6, 7, 8}));
    EXPECT_EQ(versions.hwFirmwareVersion, 301u);
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilitiesEx(handle), 0x0008C517u);
}

TEST_F(IdentityTest, UnreadableVersionsAreZeroAndUnlockNothing) {
    int32_t handle = daemon().attach({"--type", "11", "--hw-fw", "305"});
    inject(handle, kReadVersions, {"--reply-bytes", "11"});
    attachListed({"--type", "3"});
    ASSERT_TRUE(eventually([&] { return isListed(handle); }));
    NettlebeamApiVersions versions;
    std::memset(&versions, 0xAB, sizeof(versions));
    ASSERT_EQ(NettlebeamAPIGetVersions(handle, &versions), 0);
    EXPECT_EQ(versions.hwFirmwareVersion, 0u);
    EXPECT_EQ(versions.swFirmwareVersion[0], 0);
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilitiesEx(handle), 0x00058AD7u);
}

TEST_F(IdentityTest, FirmwareVersionUnlocksCapabilities) {
    int32_t v219 = daemon().attach({"--type", "11", "--hw-fw", "219"});
    int32_t v220 = daemon().attach({"--type", "11", "--hw-fw", "220"});
    int32_t v300 = attachListed({"--type", "11", "--hw-fw", "300"});
    ASSERT_TRUE(eventually([&] { return listedHandles().size() == 3; }));
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilitiesEx(v219), 0x00058AD7u);
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilitiesEx(v220), 0x00258AD7u);
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilitiesEx(v300), 0x002D8AD7u);
}

TEST_F(IdentityTest, MacAddressAndItsTransportFailures) {
    int32_t handle = attachListed({"--type", "5", "--mac", "02:11:22:33:44:55"});
    uint8_t mac[6] = {};
    ASSERT_EQ(NettlebeamAPIGetDeviceMAC(handle, mac), 0);
    EXPECT_EQ(std::vector<int>(mac, mac + 6),
              (std::vector<int>{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));

    inject(handle, kReadMac, {"--fail"});
    EXPECT_EQ(NettlebeamAPIGetDeviceMAC(handle, mac), -2);
    inject(handle, kReadMac, {"--reply-bytes", "3"});
    EXPECT_EQ(NettlebeamAPIGetDeviceMAC(handle, mac), 3);
    // No bytes at all counts as success, and leaves no stale address behind.
    inject(handle, kReadMac, {"--reply-bytes", "0"});
    EXPECT_EQ(NettlebeamAPIGetDeviceMAC(handle, mac), 0);
    EXPECT_EQ(std::vector<int>(mac, mac + 6), std::vector<int>(6, 0));
}

TEST_F(IdentityTest, ExtraInformationNeedsItsPresenceByte) {
    int32_t handle = attachListed({"--type", "5", "--usb", "3"});
    uint8_t speed = 0;
    ASSERT_EQ(NettlebeamAPIGetDeviceExtraInfo(handle, &speed), 0);
    EXPECT_EQ(speed, 3);

    speed = 0x5A;
    inject(handle, kReadExtraInfo, {"--reply-hex", "0002" + std::string(124, '0')});
    EXPECT_EQ(NettlebeamAPIGetDeviceExtraInfo(handle, &speed), -1);
    EXPECT_EQ(speed, 0x5A);
    inject(handle, kReadExtraInfo, {"--reply-bytes", "2"});
    EXPECT_EQ(NettlebeamAPIGetDeviceExtraInfo(handle, &speed), 2);
}

TEST_F(IdentityTest, FirmwareImageNames) {
    int32_t fastEthernet = daemon().attach({"--type", "13"});
    int32_t tenGigabit = attachListed({"--type", "12"});
    ASSERT_TRUE(eventually([&] { return listedHandles().size() == 2; }));

    NettlebeamApiHwFirmwaresDesc desc;
    std::memset(&desc, 0xEE, sizeof(desc));
    ASSERT_EQ(NettlebeamAPIGetHwFirmwaresDesc(fastEthernet, &desc), 0);
    EXPECT_EQ(desc.count, 1);
    EXPECT_STREQ(desc.names[0], "Default firmware");
    for (int slot = 1; slot < 4; ++slot)
        EXPECT_EQ(std::string(desc.names[slot], 32), std::string(32, '\0'));

    ASSERT_EQ(NettlebeamAPIGetHwFirmwaresDesc(tenGigabit, &desc), 0);
    EXPECT_EQ(desc.count, 2);
    EXPECT_STREQ(desc.names[0], "10Gbps firmware");
    EXPECT_STREQ(desc.names[1], "1Gbps firmware");
}

TEST(IdentityWithoutDevice, CapabilityTableNeedsNoDevice) {
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilities(DeviceTypeGigabitGen1), 0x00008113u);
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilities(DeviceTypeTenGigabitGps), 0x00058ADFu);
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilities(15), 0u);
    EXPECT_EQ(NettlebeamAPIGetDeviceCapabilitiesEx(77), 0u);
}

}  // namespace
}  // namespace nettlebeam::apitest
