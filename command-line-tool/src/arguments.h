// Every argtable2 definition of beamctl and the tables that group them.
#pragma once

#include <argtable2.h>

#include <span>
#include <string>
#include <vector>

#include "command_table.h"

namespace beamctl {

using ArgTable = std::vector<void*>;

// Built once per run; owns every definition and frees them on destruction.
class Arguments {
  public:
    // `commands` gives the words the command argument accepts.
    explicit Arguments(std::span<const Command> commands = commandTable());
    ~Arguments();
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    // False when argtable2 could not allocate a definition.
    bool complete() const { return complete_; }

    arg_rex* command;
    arg_rex* captureAction;
    arg_rex* device;  // a position or a MAC address (device_choice.h)
    arg_lit* loop;
    arg_int* count;
    arg_int* size;
    arg_file* name;
    arg_int* maxcache;
    arg_int* fileduration;
    arg_lit* fullframes;
    arg_rex* filterAction;
    arg_rex* dpitxt;
    arg_rex* dpihex;
    arg_rex* dpimask;
    arg_rex* featuresAction;
    arg_lit* keepcrcerrors;
    arg_lit* keepcrc32;
    arg_lit* disablea;
    arg_lit* disableb;
    arg_int* slicing;
    arg_lit* inlineMode;
    arg_lit* loopback;
    arg_lit* timestamps;
    arg_lit* syncts;
    arg_lit* continuous;
    arg_int* delay;
    arg_lit* rates;
    arg_int* interval;
    arg_lit* json;
    arg_rex* portsAction;
    arg_rex* countersAction;
    arg_rex* timeAction;
    arg_rex* firmwareAction;
    arg_file* firmwareFile;
    arg_lit* force;
    arg_lit* gpsTime;
    arg_str* sntpServer;
    arg_int* counterNumber;
    arg_int* resetCounter;  // the optional --counter of `counters reset`
    arg_str* countMode;
    arg_str* countPorts;
    std::vector<arg_str*> countConditions;  // in the order of kCounterConditionOptions
    arg_str* countSize;
    arg_rex* port;
    arg_rex* autoneg;
    arg_str* modes;
    arg_str* pause;
    arg_str* role;
    arg_lit* save;
    arg_rex* filterKind;
    arg_rex* typesAction;
    arg_str* enableTypes;
    arg_str* disableTypes;
    arg_str* countAddress;
    arg_rex* headerAction;
    arg_str* headerEnabled;
    arg_str* ipVersion;
    arg_str* srcMac;
    arg_str* dstMac;
    arg_str* srcIp;
    arg_str* dstIp;
    arg_str* srcPort;
    arg_str* dstPort;
    arg_str* macMode;
    arg_str* ipMode;
    arg_str* portMode;
    struct arg_end* end;

    ArgTable mainTable;
    ArgTable captureTable;
    ArgTable captureStartTable;
    ArgTable deviceTable;  // every action whose only option is the device
    ArgTable dpiTable;
    ArgTable dpiEnableTable;
    ArgTable featuresTable;
    ArgTable featuresChangeTable;  // features set and features clear
    ArgTable statisticsTable;
    // Tables with the options added for scripts; a command parses against
    // them only when one of those options is given, so the usage texts of
    // the plain forms stay as they are.
    ArgTable statisticsScriptTable;
    ArgTable deviceJsonTable;  // every show with --json
    ArgTable portsTable;
    ArgTable countersTable;
    ArgTable countersSetTable;
    ArgTable countersResetTable;
    ArgTable timeTable;
    ArgTable timeSetTable;
    ArgTable firmwareTable;
    ArgTable firmwareUpdateTable;
    ArgTable portsSetTable;
    ArgTable filterTable;
    ArgTable typesTable;
    ArgTable typesSetTable;
    ArgTable headerTable;
    ArgTable headerSetTable;

  private:
    // argtable2 keeps pointers to a regular expression's pattern (compiled
    // again at every parse) and to a placeholder: they live as long as the
    // definitions.
    std::string commandPattern_;
    std::string commandPlaceholder_;
    bool complete_ = false;
    std::vector<void*> all_;
};

// Parses `argc` words (argv[0] stands for the program name) against `table`;
// true when argtable2 reported no error.
bool parses(ArgTable& table, int argc, char** argv);

// The value of an integer option: its given value, or the default stored in
// its slot when absent or given without a value.
inline int valueOf(const arg_int* option) {
    return option->ival[0];
}
inline bool present(const arg_lit* flag) {
    return flag->count > 0;
}
inline bool present(const arg_int* option) {
    return option->count > 0;
}
inline bool present(const arg_rex* option) {
    return option->count > 0;
}

}  // namespace beamctl
