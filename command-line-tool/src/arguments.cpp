#include "arguments.h"

#include "counter_edit.h"

namespace beamctl {
namespace {

// Case-insensitive matching (bit 0); the second bit is carried as defined.
constexpr int kRexFlags = 3;
constexpr int kMaxErrors = 20;

// argtable2 accepts a regular-expression argument when the pattern matches
// anywhere in the word, so the alternatives are grouped between the anchors:
// "startx" must not pass as an action (commandPattern does the same for the
// command words).
constexpr const char* kCaptureActionPattern = "^(status|start|stop)$";
constexpr const char* kFilterActionPattern = "^(enable|disable|save|show)$";
constexpr const char* kFeaturesActionPattern = "^(set|clear|save|show)$";
// A position, or a MAC address with ':' or '-' between the byte pairs.
constexpr const char* kDevicePattern = "^([+-]?[0-9]+|([0-9a-f]{2}[:-]){5}[0-9a-f]{2})$";
constexpr const char* kDpiTextPattern = "^.{16}$";
constexpr const char* kDpiHexPattern = "^[0-9a-fA-F]{32}$";
// Anchored at the start only: trailing text is caught by the number conversion.
constexpr const char* kDpiMaskPattern = "^[0x]*[0-9a-fA-F]{8}";

// An integer whose value may only be attached (`--delay=500`); a bare option
// keeps the default stored in its slot.
arg_int* optionalValueInt(const char* longName, const char* placeholder, int defaultValue,
                          const char* glossary) {
    arg_int* option = arg_int0(nullptr, longName, placeholder, glossary);
    if (option != nullptr) {
        option->ival[0] = defaultValue;
        option->hdr.flag |= ARG_HASVALUE | ARG_HASOPTVALUE;
    }
    return option;
}

}  // namespace

Arguments::Arguments(std::span<const Command> commands)
    : commandPattern_(commandPattern(commands)), commandPlaceholder_(commandPlaceholder(commands)) {
    command =
        arg_rex1(nullptr, nullptr, commandPattern_.c_str(), commandPlaceholder_.c_str(), kRexFlags,
                 "Primary command to execute. For details run with 'help <command>'");
    captureAction = arg_rex1(nullptr, nullptr, kCaptureActionPattern, "<status|start|stop>",
                             kRexFlags, "Direct capture operations");
    device = arg_rex0("d", "device", kDevicePattern, "<n>", kRexFlags,
                      "Specify to which nettlebeam device the command applies. (defaults to the "
                      "first one)");
    loop = arg_lit0(nullptr, "loop", "Enable round-robin style capture.");
    count = optionalValueInt("count", "<count>", 1,
                             "Numbers of output files.0 means an infinite number of files. "
                             "(defaults to 1)");
    size = optionalValueInt("size", "<size>", 0,
                            "Size of each outpur file in MB. 0 means no size limit. (defaults to "
                            "0)");
    name = arg_file1("o", "name", "<out_file>",
                     "Base name of the output files. Timestamp will be automatically added to "
                     "this name.");
    maxcache =
        optionalValueInt("maxcache", "<size>", 100, "Maximum cache size in MB. (defaults to 100)");
    fileduration = optionalValueInt("fileduration", "<duration>", 0,
                                    "Maximum per file capture duration in seconds. 0 means no "
                                    "limit. (defaults to 0)");
    fullframes = arg_lit0(nullptr, "fullframes", "Capture full frames.");
    filterAction = arg_rex1(nullptr, nullptr, kFilterActionPattern, "<enable|disable|save|show>",
                            kRexFlags, "Enable or disable deep packet inspection");
    dpitxt = arg_rex0(nullptr, "dpitxt", kDpiTextPattern, "<string>", kRexFlags,
                      "16 characters string that will act as filter\n");
    dpihex = arg_rex0(nullptr, "dpihex", kDpiHexPattern, "<hex values>", kRexFlags,
                      "Hexadecimal values that will act as filter (ex : "
                      "054a1d8f90041235bed4054a1d8f9004)\n");
    dpimask = arg_rex0(nullptr, "dpimask", kDpiMaskPattern, "0xNNNNNNNN", kRexFlags,
                       "32 bits hexadecimal integer value that will act as a mask for the data "
                       "provided with --dpitxt or --dpihex. LSB corresponds to the first "
                       "character, MSB to the last.");
    featuresAction = arg_rex1(nullptr, nullptr, kFeaturesActionPattern, "<set|clear|save|show>",
                              kRexFlags, "Manage the device features");
    keepcrcerrors = arg_lit0(nullptr, "keepcrcerrors", "Keep packets with CRC errors");
    keepcrc32 = arg_lit0(nullptr, "keepcrc32", "Keep CRC32 filed in captured data");
    disablea = arg_lit0(nullptr, "disablea", "Disable port A");
    disableb = arg_lit0(nullptr, "disableb", "Disable port B");
    slicing = optionalValueInt("slicing", "<length>", 0,
                               "Length of sliced packed. 0 to disable slicing.");
    inlineMode = arg_lit0(nullptr, "inline",
                          "Enable inline mode. If cleared, the device operates in span mode.");
    loopback = arg_lit0(nullptr, "loopback", "Enable loopback");
    timestamps = arg_lit0(nullptr, "timestamps", "Enable precise timestamps in packets");
    syncts = arg_lit0(nullptr, "syncts", "Synchronize timestamps with host");
    continuous = arg_lit0(nullptr, "continuous", "Continuously refresh statistics.");
    delay = optionalValueInt("delay", "<delay>", 1000,
                             "Delay between two refreshes in ms (defaults to 1000).");
    rates = arg_lit0(nullptr, "rates",
                     "Print rates per port and interval: frames/s, Mbit/s, errors/s, drops/s, "
                     "link.");
    interval = optionalValueInt("interval", "<s>", 1,
                                "Seconds between two lines of --rates (defaults to 1).");
    json = arg_lit0(nullptr, "json", "Print one JSON object per report.");
    portsAction = arg_rex1(nullptr, nullptr, "^(show|set)$", "<show|set>", kRexFlags,
                           "Show or set the link advertisement of the ports");
    countersAction = arg_rex1(nullptr, nullptr, "^(show|set|reset)$", "<show|set|reset>", kRexFlags,
                              "Show, set or reset the programmable counter definitions");
    counterNumber = arg_int1(nullptr, "counter", "<1-16>", "The counter to change.");
    resetCounter = arg_int0(nullptr, "counter", "<1-16>",
                            "The counter to put back to its power-on definition (defaults to "
                            "all).");
    countMode = arg_str0(nullptr, "mode", "<packets|bytes>", "What the counter counts.");
    countPorts = arg_str0(nullptr, "ports", "<A|B|AB|none>", "The ports it counts on.");
    for (const char* condition : kCounterConditionOptions) {
        countConditions.push_back(arg_str0(nullptr, condition, "<yes|no|any>",
                                           "Whether packets must match, must not, or either."));
    }
    countSize = arg_str0(nullptr, "size", "<any|>N|<N|=N>", "Packet size in bytes (N <= 65535).");
    timeAction = arg_rex1(nullptr, nullptr, "^(show|set)$", "<show|set>", kRexFlags,
                          "Show the time source and the GPS reception, or set the clock");
    firmwareAction = arg_rex1(nullptr, nullptr, "^(update)$", "<update>", kRexFlags,
                              "Update the device's firmware from an image file");
    firmwareFile = arg_file1(nullptr, nullptr, "FILE", "The firmware image file.");
    force = arg_lit0(nullptr, "force",
                     "Send a file that is older than the device's firmware, or that announces "
                     "no version.");
    gpsTime = arg_lit0(nullptr, "gps", "Set the device clock from its GPS receiver.");
    sntpServer = arg_str0(nullptr, "sntp", "<server[:port]>",
                          "Set the device clock from an SNTP server (port 123 unless given).");
    port = arg_rex1(nullptr, "port", "^(a|b|ab)$", "<A|B|AB>", kRexFlags,
                    "The port or ports to change.");
    autoneg =
        arg_rex0(nullptr, "autoneg", "^(on|off)$", "<on|off>", kRexFlags, "Auto-negotiation.");
    modes = arg_str0(nullptr, "modes", "<list>",
                     "Speeds and duplex offered: 1000fd,100fd,100hd,10fd,10hd or a part.");
    pause = arg_str0(nullptr, "pause", "<list>", "Pause offered: sym,asym, a part, or none.");
    role = arg_str0(nullptr, "role", "<auto|master|slave>", "Master/slave resolution.");
    save = arg_lit0(nullptr, "save", "Keep the setting across restarts of the device.");
    filterKind = arg_rex1(nullptr, nullptr, "^(types|header)$", "<types|header>", kRexFlags,
                          "The hardware filter to show or set");
    typesAction = arg_rex1(nullptr, nullptr, "^(show|set)$", "<show|set>", kRexFlags,
                           "Show or set the packet types the filter selects");
    enableTypes = arg_str0(nullptr, "enable", "<name,...>", "Packet types to select.");
    disableTypes = arg_str0(nullptr, "disable", "<name,...>", "Packet types to leave out.");
    countAddress = arg_str0(nullptr, "address", "<address|any>",
                            "Address with * wildcards, of the one IP version required.");
    headerAction = arg_rex1(nullptr, nullptr, "^(show|set)$", "<show|set>", kRexFlags,
                            "Show or set the header packet filter");
    headerEnabled = arg_str0(nullptr, "enabled", "<yes|no>", "Whether the filter is on.");
    ipVersion = arg_str0(nullptr, "ip-version", "<4|6>", "The version of both IP addresses.");
    srcMac = arg_str0(nullptr, "src-mac", "<mac|off>", "Source MAC, ** for a wildcard byte.");
    dstMac = arg_str0(nullptr, "dst-mac", "<mac|off>", "Destination MAC.");
    srcIp = arg_str0(nullptr, "src-ip", "<address|off>", "Source IP address with * wildcards.");
    dstIp = arg_str0(nullptr, "dst-ip", "<address|off>", "Destination IP address.");
    srcPort = arg_str0(nullptr, "src-port", "<port|off>", "Source port, 0 to 65535.");
    dstPort = arg_str0(nullptr, "dst-port", "<port|off>", "Destination port.");
    macMode = arg_str0(nullptr, "mac-mode", "<pair|either>",
                       "Match source and destination, or the source address either way.");
    ipMode = arg_str0(nullptr, "ip-mode", "<pair|either>", "Likewise for the IP addresses.");
    portMode = arg_str0(nullptr, "port-mode", "<pair|either>", "Likewise for the ports.");
    end = arg_end(kMaxErrors);

    all_ = {
        command,        captureAction, device,         loop,         count,    size,    name,
        maxcache,       fileduration,  fullframes,     filterAction, dpitxt,   dpihex,  dpimask,
        featuresAction, keepcrcerrors, keepcrc32,      disablea,     disableb, slicing, inlineMode,
        loopback,       timestamps,    syncts,         continuous,   delay,    rates,   interval,
        json,           portsAction,   countersAction, timeAction,   port,     autoneg, modes,
        pause,          role,          save,           end};
    all_.pop_back();  // the end marker stays last
    all_.insert(all_.end(), {counterNumber, resetCounter, countMode, countPorts});
    all_.insert(all_.end(), countConditions.begin(), countConditions.end());
    all_.insert(all_.end(), {firmwareAction, firmwareFile, force, gpsTime, sntpServer});
    all_.insert(all_.end(), {countSize, filterKind, typesAction, enableTypes, disableTypes,
                             countAddress, headerAction, headerEnabled, ipVersion, srcMac, dstMac,
                             srcIp, dstIp, srcPort, dstPort, macMode, ipMode, portMode, end});
    complete_ = true;
    for (void* definition : all_) complete_ = complete_ && definition != nullptr;

    mainTable = {command, end};
    captureTable = {captureAction, end};
    captureStartTable = {device, loop, count, size, name, maxcache, fileduration, fullframes, end};
    deviceTable = {device, end};
    dpiTable = {filterAction, end};
    dpiEnableTable = {dpitxt, dpihex, dpimask, device, end};
    featuresTable = {featuresAction, end};
    featuresChangeTable = {device,     keepcrcerrors, keepcrc32,  disablea, disableb, slicing,
                           inlineMode, loopback,      timestamps, syncts,   end};
    statisticsTable = {device, continuous, delay, end};
    statisticsScriptTable = {device, continuous, delay, rates, interval, json, end};
    deviceJsonTable = {device, json, end};
    portsTable = {portsAction, end};
    countersTable = {countersAction, end};
    countersSetTable = {counterNumber, countMode, countPorts};
    countersSetTable.insert(countersSetTable.end(), countConditions.begin(), countConditions.end());
    countersSetTable.insert(countersSetTable.end(), {countSize, countAddress, device, end});
    countersResetTable = {resetCounter, device, end};
    timeTable = {timeAction, end};
    timeSetTable = {gpsTime, sntpServer, device, end};
    firmwareTable = {firmwareAction, end};
    firmwareUpdateTable = {firmwareFile, force, device, end};
    portsSetTable = {port, autoneg, modes, pause, role, save, device, end};
    filterTable = {filterKind, end};
    typesTable = {typesAction, end};
    typesSetTable = {enableTypes, disableTypes, save, device, end};
    headerTable = {headerAction, end};
    headerSetTable = {headerEnabled, srcMac,  dstMac, ipVersion, srcIp, dstIp,  srcPort,
                      dstPort,       macMode, ipMode, portMode,  save,  device, end};
}

Arguments::~Arguments() {
    arg_freetable(all_.data(), all_.size());
}

bool parses(ArgTable& table, int argc, char** argv) {
    return arg_parse(argc, argv, table.data()) == 0;
}

}  // namespace beamctl
