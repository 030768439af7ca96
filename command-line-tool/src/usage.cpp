#include "usage.h"

namespace beamctl {

int printUsage(std::FILE* out, const char* heading, ArgTable& table) {
    std::fputs(heading, out);
    arg_print_syntaxv(out, table.data(), "\n\n");
    arg_print_glossary_gnu(out, table.data());
    return kFailure;
}

int printListUsage(std::FILE* out) {
    std::fputs("beamctl list : Display available Nettlebeam devices\n", out);
    return kFailure;
}

}  // namespace beamctl
