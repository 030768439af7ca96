// `filter header`: the record a set leaves for the device (what the window's
// panel would fill), the refusals, and the text and JSON of a record.
#include "header_filter.h"

#include <gtest/gtest.h>

#include <cstring>

#include "packet_filter_fields.h"

namespace beamctl {
namespace {

namespace records = nettlebeam::records;
using records::FilterField;

// Source MAC aa:**:..:01 with a stale byte under the wildcard, IPv4 source
// 10.1.*.* matched in either direction (a stale destination beside it), and
// destination port 443.
NettlebeamApiPacketFilter deviceRecord() {
    NettlebeamApiPacketFilter filter{};
    filter.enabled = 1;
    filter.fieldFlags = NETTLEBEAM_FILTER_SRC_MAC | NETTLEBEAM_FILTER_SRC_IP |
                        NETTLEBEAM_FILTER_DST_IP | NETTLEBEAM_FILTER_DST_PORT;
    filter.eitherDirection = NETTLEBEAM_FILTER_EITHER_IP;
    EXPECT_TRUE(records::storeMacText(filter, FilterField::SrcMac, "aa:**:00:00:00:01"));
    filter.srcMac[4] = 0x77;  // under the wildcard
    EXPECT_TRUE(records::storeAddressText(filter, FilterField::SrcIp, "10.1.*.*"));
    EXPECT_TRUE(records::storeAddressText(filter, FilterField::DstIp, "192.168.0.1"));
    records::storePort(filter, FilterField::DstPort, 443);
    return filter;
}

TEST(HeaderFilter, ShowsThePanelsRowsAndOnlyTheFieldsInUse) {
    const NettlebeamApiPacketFilter filter = deviceRecord();
    EXPECT_EQ(headerFilterReport(filter),
              "Packet Filter    : enabled\n"
              "MAC mode         : Specify source and destination\n"
              "Source MAC       : aa:**:00:00:00:01\n"
              "Destination MAC  : off\n"
              "IP version       : IPv4\n"
              "IP mode          : Specify source or destination\n"
              "IP               : 10.1.*.*\n"
              "Port mode        : Specify source and destination\n"
              "Source Port      : off\n"
              "Destination Port : 443\n");
    EXPECT_EQ(headerFilterJson(filter),
              "{\"enabled\":true,\"ipVersion\":4,\"macMode\":\"pair\",\"ipMode\":\"either\","
              "\"portMode\":\"pair\",\"srcMac\":\"aa:**:00:00:00:01\",\"dstMac\":null,"
              "\"srcIp\":\"10.1.*.*\",\"dstIp\":null,\"srcPort\":null,\"dstPort\":443}");
}

TEST(HeaderFilter, ASetLeavesWhatThePanelWouldFill) {
    NettlebeamApiPacketFilter filter = deviceRecord();
    // Nothing given: the record as the panel fills it back unedited.
    ASSERT_EQ(applyHeaderFilterChange(filter, {}), std::nullopt);
    EXPECT_EQ(filter.srcMac[4], 0);  // the wildcard byte reads back as zero
    EXPECT_EQ(filter.dstIp[3], 0);   // the destination IP is not used
    EXPECT_EQ(filter.fieldFlags, deviceRecord().fieldFlags);
    EXPECT_EQ(headerFilterReport(filter), headerFilterReport(deviceRecord()));

    HeaderFilterChange change;
    change.enabled = "No";
    change.ipMode = "pair";
    change.dstIp = "10.2.*.3";
    change.srcIp = "*.*.*.9";  // replaces 10.1.*.*, care bits and all
    change.srcMac = "OFF";
    change.portMode = "either";
    change.srcPort = "+053";
    ASSERT_EQ(applyHeaderFilterChange(filter, change), std::nullopt);
    EXPECT_EQ(filter.enabled, 0);
    EXPECT_EQ(filter.eitherDirection, NETTLEBEAM_FILTER_EITHER_PORT);
    EXPECT_EQ(filter.fieldFlags, NETTLEBEAM_FILTER_SRC_IP | NETTLEBEAM_FILTER_DST_IP |
                                     NETTLEBEAM_FILTER_DST_PORT | NETTLEBEAM_FILTER_SRC_PORT);
    EXPECT_EQ(filter.srcMac[5], 0);
    EXPECT_EQ(filter.srcIp[3], 0);
    EXPECT_EQ(filter.srcIp[0], 9);
    EXPECT_EQ(filter.dstIp[3], 10);
    EXPECT_EQ(filter.srcPort, 53);
    EXPECT_EQ(filter.dstPort, 0);  // port layer in either direction: source only
    // Destination IP bytes 22..25 (care bits 12..15, third byte a wildcard),
    // source IP only its last byte (bit 28), the source port (bits 46, 47).
    EXPECT_EQ(records::careMask(filter), (0b1101ull << 12) | (1ull << 28) | (0x3ull << 46));

    // IPv6 needs the IP fields in use given again.
    HeaderFilterChange version;
    version.ipVersion = "6";
    version.srcIp = "fe80::*";
    EXPECT_EQ(applyHeaderFilterChange(filter, version),
              "--ip-version: --dst-ip is in use; give it for IPv6 or turn it off");
    version.dstIp = "off";
    ASSERT_EQ(applyHeaderFilterChange(filter, version), std::nullopt);
    EXPECT_EQ(filter.fieldFlags & (NETTLEBEAM_FILTER_IPV6 | NETTLEBEAM_FILTER_DST_IP),
              NETTLEBEAM_FILTER_IPV6);
    EXPECT_EQ(records::filterAddressText(filter, FilterField::SrcIp),
              "fe80:0000:0000:0000:0000:0000:0000:00**");
}

TEST(HeaderFilter, RefusalsNameTheOptionAndLeaveTheRecord) {
    const NettlebeamApiPacketFilter before = deviceRecord();
    const auto refusal = [&](HeaderFilterChange change) {
        NettlebeamApiPacketFilter filter = before;
        const auto refused = applyHeaderFilterChange(filter, change);
        EXPECT_EQ(std::memcmp(&filter, &before, sizeof filter), 0) << refused.value_or("none");
        return refused.value_or("accepted");
    };
    HeaderFilterChange change;
    change.srcMac = "aa:bb:cc:dd:ee";
    EXPECT_EQ(refusal(change),
              "--src-mac: 'aa:bb:cc:dd:ee' is not a MAC address of six two-digit groups or ** "
              "joined by ':', or off");
    change = {};
    change.srcIp = "10.1.2.256";
    EXPECT_EQ(refusal(change),
              "--src-ip: '10.1.2.256' is not an IPv4 address of four parts, each 0 to 255 or *, "
              "or off");
    change.srcIp = "fe80::1";  // the filter is IPv4
    EXPECT_EQ(refusal(change),
              "--src-ip: 'fe80::1' is not an IPv4 address of four parts, each 0 to 255 or *, or "
              "off");
    change = {};
    change.ipVersion = "6";
    change.srcIp = "1::2::3";
    EXPECT_EQ(refusal(change),
              "--src-ip: '1::2::3' is not an IPv6 address of up to eight groups of four "
              "hexadecimal digits or *, or off");
    change = {};
    change.dstPort = "65536";
    EXPECT_EQ(refusal(change), "--dst-port: '65536' is not a port from 0 to 65535, or off");
    change = {};
    change.dstIp = "10.0.0.1";
    EXPECT_EQ(refusal(change), "--dst-ip: with --ip-mode=either only --src-ip is used");
    change = {};
    change.ipVersion = "ipv6";
    EXPECT_EQ(refusal(change), "--ip-version: 'ipv6' is not 4 or 6");
    change = {};
    change.macMode = "both";
    EXPECT_EQ(refusal(change), "--mac-mode: 'both' is not pair or either");
    change = {};
    change.enabled = "on";
    EXPECT_EQ(refusal(change), "--enabled: 'on' is not yes or no");
}

}  // namespace
}  // namespace beamctl
