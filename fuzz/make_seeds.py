#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/.

Seeds are well-formed replies and files plus a few edge cases (one byte
short, all bits set). Integers that a target takes from its input with
FuzzedDataProvider come from the end of the input, last byte first; the
helpers below append them in that order.
"""
import os
import re
import struct
import sys
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
REQUEST_CODES_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "APIs",
                                    "wire", "request_codes.h")


def load_protocol_constants(path):
    """The request codes and sizes as the library and the daemon see them."""
    constants = {}
    with open(path, encoding="utf-8") as f:
        for name, expression in re.findall(r"constexpr uint32_t (k\w+) = ([^;]+);", f.read()):
            # Literals, or products of names defined above them.
            expression = re.sub(r"\b(0x[0-9A-Fa-f]+|[0-9]+)u\b", r"\1", expression)
            constants[name] = eval(expression, {"__builtins__": {}}, constants)
    return constants


WIRE = load_protocol_constants(REQUEST_CODES_HEADER)


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


def tail(*values):
    """Integers consumed from the end: first listed is consumed first."""
    out = b""
    for size, value in values:
        out = value.to_bytes(size, "little", signed=value < 0) + out
    return out


def wire_frame():
    req = lambda code, length, cap: struct.pack("<4I", 0x5152424E, code, length, cap)
    rep = lambda result, length: struct.pack("<IiII", 0x5052424E, result, length, 0)
    write("wire_frame_fuzz", "timing_request", req(WIRE["kTimingStatus"], 4, 19))
    write("wire_frame_fuzz", "enumeration_request", req(WIRE["kEnumerate"], 0, WIRE["kEnumerationReplyBytes"]))
    write("wire_frame_fuzz", "input_too_long", req(WIRE["kFirmwareData1"], 64 * 1024 + 1, 0))
    write("wire_frame_fuzz", "reply_19", rep(19, 19) + struct.pack("<I", 19))
    write("wire_frame_fuzz", "reply_over_capacity", rep(20, 20) + struct.pack("<I", 19))
    write("wire_frame_fuzz", "reply_failed", rep(-2, 0) + struct.pack("<I", 8))
    write("wire_frame_fuzz", "reply_failed_with_length", rep(-2, 4) + struct.pack("<I", 8))


def sfp_a0(vendor, part, serial, byte92=0x68, byte93=0xF0):
    a0 = bytearray(128)
    a0[0] = 3  # SFP
    a0[3] = 0x10  # 10GBASE-SR
    a0[11] = 6
    a0[12] = 103
    a0[20:36] = vendor.ljust(16).encode()
    a0[37:40] = b"\x00\x90\x65"
    a0[40:56] = part.ljust(16).encode()
    a0[56:60] = b"A   "
    a0[68:84] = serial.ljust(16).encode()
    a0[84:92] = b"240131  "
    a0[92] = byte92
    a0[93] = byte93
    return a0


def sfp_a2(size, external=False):
    a2 = bytearray(size)
    for i, raw in enumerate([0x5000, 0x8CA0, 0x1770, 0x2710, 0x1388]):
        struct.pack_into(">H", a2, 96 + 2 * i, raw)
    for i in range(5):  # thresholds
        struct.pack_into(">HHHH", a2, 8 * i, 0x7000, 0x0100, 0x6000, 0x0200)
    if external:
        for slope in (76, 80, 84, 88):
            struct.pack_into(">H", a2, slope, 0x0100)
        struct.pack_into(">f", a2, 56, 1.0)
    return a2


def link_status():
    details = struct.pack("<10H", 0xC1E0, 0x6D, 0x3C00, 0x0F00, 0x0300,
                          0xC1E0, 0x6D, 0x3C00, 0x0F00, 0x0300)
    write("link_status_fuzz", "gigabit_details", details + tail((1, 0x00), (1, 0), (1, 0x10)))
    write("link_status_fuzz", "details_short", details[:19] + tail((1, 0x33), (1, 1), (1, 0)))
    cages = (bytes([1]) + sfp_a0("ACME OPTICS", "SR-10G", "SN0001") +
             bytes([1]) + sfp_a0("ACME OPTICS", "LR-10G", "SN0002", byte92=0x58) +
             bytes(1))
    transceivers = cages + sfp_a2(121) + sfp_a2(120, external=True)
    assert len(transceivers) == 500
    write("link_status_fuzz", "ten_gigabit_modules", transceivers + tail((1, 0xF0), (1, 0), (1, 0x10)))
    write("link_status_fuzz", "no_modules", bytes(500) + tail((1, 0x11), (1, 0), (1, 0x3)))
    write("link_status_fuzz", "all_ones", b"\xff" * 500 + tail((1, 0xFF), (1, 1), (1, 0xFF)))


def statistics():
    groups = b""
    for port in range(2):
        groups += struct.pack("<8Q", 1_000_000 + port, 10, 900, 3, 1, 0, 0, 2)
    fmt1 = groups + struct.pack("<4Q", 50_000 * 1000, 50_000 * 20, 123_456_789, 0x0D0C0B0A03020100)
    assert len(fmt1) == 160
    suffix = lambda selector, speed, version: tail((1, selector), (1, speed), (4, version))
    write("statistics_fuzz", "format1_scaled", fmt1 + suffix(1, 0x20, 1))
    write("statistics_fuzz", "format1_unscaled", fmt1 + suffix(0, 0, 1))
    write("statistics_fuzz", "format1_bad_signature", fmt1[:152] + bytes(8) + suffix(1, 0, 1))
    write("statistics_fuzz", "format1_short", fmt1[:159] + suffix(1, 0, 1))
    fmt2 = b"".join(struct.pack("<Q", 1000 * i) for i in range(16))
    write("statistics_fuzz", "format2", fmt2 + suffix(0, 0, 2))
    write("statistics_fuzz", "trailer", bytes(range(16)) + suffix(0, 0, 7))
    block = bytearray(30)
    block[1] = 0x07  # bytes mode on both ports
    struct.pack_into("<H", block, 2, 1500)
    block[4] = 0x80  # IPv4
    block[23] = 0x02  # IPv4 tested
    block[22] = 0x02  # size greater
    block[6:10] = bytes([1, 0, 168, 192])
    block[24] |= 0x3C  # four pattern bytes compared
    write("statistics_fuzz", "counter_block", bytes(block) + suffix(0, 0, 0))


def timing():
    status = bytes([2, 9, 11, 5, 0x07]) + struct.pack("<iH", -40, 25) + bytes([2, 13, 45, 7, 31, 12]) + struct.pack("<H", 2024)
    assert len(status) == 19
    write("timing_status_fuzz", "gps_fix_new_firmware", status + tail((4, 300)))
    write("timing_status_fuzz", "gps_fix_old_firmware", status + tail((4, 206)))
    write("timing_status_fuzz", "no_gps_module", bytes([0xFE]) + bytes(18) + tail((4, 300)))
    write("timing_status_fuzz", "short", status[:18] + tail((4, 300)))


def capture_status():
    words = struct.pack("<8Q", 1, 1, 4096, 10_000_000, 512, 0, 64 << 20, 3)
    write("capture_status_fuzz", "running", words + bytes(8256 - 64))
    write("capture_status_fuzz", "disk_full", struct.pack("<8Q", 0, 0, 0, 5, 0, 8, 0, 1))
    write("capture_status_fuzz", "unknown_error", struct.pack("<8Q", 1, 0, 0, 0, 0, 3, 0, 0))
    write("capture_status_fuzz", "short", words[:63])


def event_records():
    def record(handle, kind, body):
        data = struct.pack("<iII", handle, kind, 0) + body
        return data + bytes(WIRE["kEventRecordBytes"] - len(data))
    name = "/var/lib/captures/port_a_0001.pcapng".encode("utf-16-le")
    write("event_record_fuzz", "new_capture_file", record(3, 1, name + b"\0\0"))
    unterminated = struct.pack("<iII", 3, 1, 0) + "x".encode("utf-16-le") * 2048
    write("event_record_fuzz", "name_unterminated", unterminated)
    write("event_record_fuzz", "arrival", record(0, 2, struct.pack("<i", 5)))
    write("event_record_fuzz", "removal_short", struct.pack("<iII", 0, 3, 0))
    write("event_record_fuzz", "capture_state", record(4, 4, struct.pack("<IQ", 1, 16)))
    write("event_record_fuzz", "unknown_kind", record(4, 99, b""))


def filters():
    cares = tail((4, 0xF0000000), (4, 0xFFF00000))
    types = struct.pack("<Q", 0xFFFFFFFFFFFFFFFF & ~(1 << 3))
    write("filters_fuzz", "packets_type", types + cares)
    dpi = bytearray(224)
    dpi[0:4] = b"GET "
    struct.pack_into("<III", dpi, 32, 0xF, 0, 0)
    struct.pack_into("<II", dpi, 216, 1, 1)
    write("filters_fuzz", "dpi", bytes(dpi) + cares)
    pf = bytearray(248)
    struct.pack_into("<II", pf, 0, 1, 1)
    pf[8:14] = bytes.fromhex("ffffffffffff")
    pf[20:24] = bytes([192, 168, 1, 1])
    struct.pack_into("<HH", pf, 52, 443, 0)
    pf[56:62] = bytes([0x3F, 0, 0, 0, 0xF0, 0x0F])
    struct.pack_into("<HI", pf, 62, 1, 0x13)
    write("filters_fuzz", "packet_filter", bytes(pf) + cares)
    write("filters_fuzz", "packet_filter_short", bytes(pf[:247]) + tail((4, 0), (4, 0)))


def firmware_image():
    def image(tag, first, second):
        body = first + second
        header = struct.pack("<IIII", tag, zlib.crc32(body), len(first), len(second))
        return header + body
    tag = lambda text: int.from_bytes(text.encode(), "big")
    first, second = bytes(range(256)) * 3, b"\xA5" * 1016
    ten_gigabit = 11
    write("firmware_image_fuzz", "ten_gigabit", image(tag("KVTX"), first, second) + tail((1, ten_gigabit), (1, 40)))
    write("firmware_image_fuzz", "second_empty", image(tag("QFHD"), first, b"") + tail((1, 13), (1, 255)))
    bad = bytearray(image(tag("KVTX"), first, second))
    bad[20] ^= 1
    write("firmware_image_fuzz", "crc_mismatch", bytes(bad) + tail((1, ten_gigabit), (1, 98)))
    write("firmware_image_fuzz", "untagged_type", image(0, b"\x01", b"\x02") + tail((1, 2), (1, 99)))


def identity():
    result = lambda value: tail((1, value + 2))  # the range starts at -2
    write("identity_fuzz", "identifier", bytes([0x4F]) + result(1))
    write("identity_fuzz", "versions", bytes([1, 0, 0, 0, 0, 1, 3, 62]) + struct.pack("<I", 300) + result(12))
    write("identity_fuzz", "extra_info", bytes([1, 3]) + bytes(62) + result(64))
    config = struct.pack("<8I", 0x02000041, 0x00FF0FEF, 0x00C8_0003, 0, 0x0001_0040, 0, 0, 0)
    write("identity_fuzz", "config_block", config + result(32))
    write("identity_fuzz", "config_all_ones", b"\xff" * 32 + result(32))
    write("identity_fuzz", "failed", bytes(1) + result(-2))


def ethernet_frames():
    mac_dst, mac_src = bytes.fromhex("001122334455"), bytes.fromhex("02aabbccddee")
    ipv4_tcp = (mac_dst + mac_src + b"\x08\x00" +
                bytes.fromhex("450000280001000040060000c0a80001c0a80002") +
                struct.pack(">HHIIBBHHH", 40000, 80, 1, 0, 0x50, 0x02, 0, 0, 0))
    ipv6_udp = (b"\x33\x33\x00\x00\x00\xfb" + mac_src + b"\x86\xdd" +
                bytes.fromhex("6000000000101101") + bytes(15) + b"\x01" + bytes(15) + b"\x02" +
                struct.pack(">HHHH", 5353, 53, 16, 0) + b"\x00" * 8)
    arp = b"\xff" * 6 + mac_src + b"\x08\x06" + bytes.fromhex("0001080006040001") + bytes(20)
    vlan_udp = (mac_dst + mac_src + b"\x81\x00\x00\x05\x08\x00" +
                bytes.fromhex("4500001c0002000040110000c0a80001c0a80002") +
                struct.pack(">HHHH", 68, 67, 8, 0))
    return [ipv4_tcp, ipv6_udp, arp, vlan_udp]


def replay_files():
    frames = ethernet_frames()

    def pcap(magic, link=1, records=None):
        head = struct.pack("<IHHiIII", magic, 2, 4, 0, 0, 65535, link)
        body = b""
        for i, frame in enumerate(frames if records is None else records):
            body += struct.pack("<IIII", 1700000000 + i, 1000 * i, len(frame), len(frame)) + frame
        return head + body
    write("replay_reader_fuzz", "pcap_micro", pcap(0xA1B2C3D4))
    write("replay_reader_fuzz", "pcap_nano", pcap(0xA1B23C4D) + b"\x01")
    write("replay_reader_fuzz", "pcap_not_ethernet", pcap(0xA1B2C3D4, link=101))
    write("replay_reader_fuzz", "pcap_truncated", pcap(0xA1B2C3D4)[:-7])
    write("replay_reader_fuzz", "pcap_no_frames", pcap(0xA1B2C3D4, records=[]))

    def block(kind, body):
        body += bytes(-len(body) % 4)
        return struct.pack("<II", kind, len(body) + 12) + body + struct.pack("<I", len(body) + 12)
    shb = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
    idb = block(1, struct.pack("<HHI", 1, 0, 65535) + struct.pack("<HHB3x", 9, 1, 9) + bytes(4))
    epbs = b"".join(block(6, struct.pack("<IIIII", 0, 0, 1000 * i, len(f), len(f)) + f)
                    for i, f in enumerate(frames))
    write("replay_reader_fuzz", "pcapng", shb + idb + epbs)
    write("replay_reader_fuzz", "pcapng_fast", shb + idb + epbs + b"\x01")


def control_socket():
    def request(code, payload=b"", capacity=0, handle=None):
        data = (struct.pack("<i", handle) if handle is not None else b"") + payload
        return struct.pack("<4I", 0x5152424E, code, len(data), capacity) + data
    target = "control_socket_fuzz"
    # Handles 1 to 3: the server's ten-gigabit, gigabit and fast-Ethernet devices.
    write(target, "enumerate", request(WIRE["kEnumerate"], capacity=WIRE["kEnumerationReplyBytes"]))
    write(target, "timing_status", request(WIRE["kTimingStatus"], capacity=19, handle=1))
    write(target, "transceivers", request(WIRE["kTransceiverData"], capacity=500, handle=1))
    write(target, "link_details", request(WIRE["kLinkDetails"], capacity=20, handle=2))
    write(target, "statistics", request(WIRE["kStatisticsFormat1"], capacity=160, handle=3))
    write(target, "capture_status", request(WIRE["kCaptureStatus"], capacity=8256, handle=1))
    write(target, "counter_read", request(WIRE["kReadCounter"], struct.pack("<I", 3), 30, handle=2))
    write(target, "dpi_write", request(WIRE["kWriteDpiFilter"], bytes(220) + struct.pack("<I", 1), 0, handle=2))
    write(target, "firmware_data", request(WIRE["kFirmwareData1"], b"\xA5" * WIRE["kMaxFirmwareBlockBytes"], 0, handle=1))
    write(target, "memory_capture_data", request(WIRE["kMemoryCaptureData"], capacity=1 << 20, handle=1))
    write(target, "capture_file_name", request(WIRE["kCaptureFileName"], "/tmp/x.pcapng".encode("utf-16-le") + b"\0\0", 0, handle=1))
    write(target, "unknown_handle", request(WIRE["kTimingStatus"], capacity=19, handle=77))
    write(target, "no_handle", request(WIRE["kTimingStatus"], capacity=19))
    write(target, "capacity_too_small", request(WIRE["kTimingStatus"], capacity=18, handle=1))
    write(target, "input_missing", struct.pack("<4I", 0x5152424E, WIRE["kTimingStatus"], 8, 19) + b"\x01\0")
    write(target, "devices_listing", request(0x4E420003, capacity=4096))
    write(target, "event_post", request(0x4E420006, struct.pack("<iII", 1, 4, 0) + struct.pack("<IQ", 1, 8) + bytes(WIRE["kEventRecordBytes"] - 24)))
    write(target, "event_wait", request(WIRE["kEventWait"], capacity=WIRE["kEventRecordBytes"]))


def driver_options():
    target = "driver_options_fuzz"
    settings = bytes([0x4F, 1, 1]) + bytes.fromhex("024e424f0001") + struct.pack("<I", 300) + bytes([1, 0, 0, 0, 0, 1, 3, 62, 3])
    write(target, "attach_settings", settings)
    fault = struct.pack("<6I", 0, 1, WIRE["kTimingStatus"], 2, 0, 3) + bytes(19)
    write(target, "inject_replace", fault)
    write(target, "inject_any_handle", struct.pack("<6I", 1, 0, WIRE["kEventWait"], 0, 0, 1))
    write(target, "traffic", b"rate=50k,mix=64:60/1518:40,crc=0.5,ports=A")
    write(target, "traffic_line_rate", b"rate=80%,mix=jumbo,seed=7")
    write(target, "replay_speed", b"max")
    write(target, "replay_speed_number", b"2.5")


if __name__ == "__main__":
    for make in (wire_frame, link_status, statistics, timing, capture_status, event_records,
                 filters, firmware_image, identity, replay_files, control_socket,
                 driver_options):
        make()
    sys.exit(0)
