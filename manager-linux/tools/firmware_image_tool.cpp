// Builds a firmware image file from two image files, or from generated
// versioned images for simulated devices.
//
//   nettlebeam-firmware-image --output FILE (--tag TEXT | --type N)
//       [--first FILE | --hw-version N] [--second FILE | --sw-version A.B.C.D]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "firmwareimage.h"

namespace {

using firmwareimage::Bytes;

constexpr std::size_t kGeneratedFirstSize = 3000;   // several upload blocks
constexpr std::size_t kGeneratedSecondSize = 1200;  // not a multiple of a block

const char kUsage[] =
    "usage: nettlebeam-firmware-image --output FILE (--tag TEXT | --type N)\n"
    "           [--first FILE | --hw-version N] [--second FILE | --sw-version A.B.C.D]\n";

struct Failure {
    std::string message;
};

std::optional<unsigned long> parseUnsigned(const std::string& text, unsigned long max) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (errno != 0 || value > max) return {};
    return value;
}

bool isDottedVersion(const std::string& text) {
    std::stringstream parts(text);
    std::string part;
    int count = 0;
    while (std::getline(parts, part, '.')) {
        if (!parseUnsigned(part, 255)) return false;
        ++count;
    }
    return count == 4 && text.back() != '.';
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure{"cannot open " + path};
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Failure{"cannot read " + path};
    if (bytes.size() > 0xFFFFFFFFu) throw Failure{path + " is too large for an image"};
    return bytes;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) throw Failure{"cannot write " + path};
}

std::map<std::string, std::string> parseOptions(int argc, char** argv) {
    static const char* const kKnown[] = {"--output",     "--tag",    "--type",      "--first",
                                         "--hw-version", "--second", "--sw-version"};
    std::map<std::string, std::string> options;
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        bool known = false;
        for (const char* candidate : kKnown) known = known || name == candidate;
        if (!known) throw Failure{"unknown option " + name};
        if (i + 1 >= argc) throw Failure{name + " needs a value"};
        if (!options.emplace(name, argv[i + 1]).second) throw Failure{name + " given twice"};
    }
    return options;
}

uint32_t tagFromOptions(const std::map<std::string, std::string>& options) {
    const bool byTag = options.count("--tag") != 0;
    if (byTag == (options.count("--type") != 0)) throw Failure{"give either --tag or --type"};
    if (byTag) {
        const auto tag = firmwareimage::tagFromText(options.at("--tag"));
        if (!tag) throw Failure{"--tag needs four printable characters"};
        return *tag;
    }
    const auto type = parseUnsigned(options.at("--type"), 0xFFFFFFFFu);
    if (!type) throw Failure{"--type needs an unsigned number"};
    const auto tag = firmwareimage::tagForDeviceType(uint32_t(*type));
    if (!tag) throw Failure{"device type " + options.at("--type") + " has no image tag"};
    return *tag;
}

Bytes firstImage(const std::map<std::string, std::string>& options) {
    if (options.count("--first") && options.count("--hw-version"))
        throw Failure{"give --first or --hw-version, not both"};
    if (options.count("--first")) return readFile(options.at("--first"));
    if (!options.count("--hw-version")) return {};
    const auto version = parseUnsigned(options.at("--hw-version"), 0xFFFFFFFFu);
    if (!version) throw Failure{"--hw-version needs an unsigned number"};
    return firmwareimage::makeVersionedImage("NETTLEBEAM-FPGA hw=" + std::to_string(*version),
                                             kGeneratedFirstSize);
}

Bytes secondImage(const std::map<std::string, std::string>& options) {
    if (options.count("--second") && options.count("--sw-version"))
        throw Failure{"give --second or --sw-version, not both"};
    if (options.count("--second")) return readFile(options.at("--second"));
    if (!options.count("--sw-version")) return {};
    const std::string& version = options.at("--sw-version");
    if (!isDottedVersion(version)) throw Failure{"--sw-version needs four numbers 0-255: A.B.C.D"};
    return firmwareimage::makeVersionedImage("NETTLEBEAM-SOFTWARE sw=" + version,
                                             kGeneratedSecondSize);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const auto options = parseOptions(argc, argv);
        if (!options.count("--output")) throw Failure{"--output is required"};
        const uint32_t tag = tagFromOptions(options);
        const Bytes first = firstImage(options);
        const Bytes second = secondImage(options);
        if (uint64_t(first.size()) + second.size() + firmwareimage::kHeaderSize > 0xFFFFFFFFu)
            throw Failure{"the images are too large for one file"};
        writeFile(options.at("--output"), firmwareimage::buildImageFile(tag, first, second));
        return 0;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "nettlebeam-firmware-image: %s\n%s", failure.message.c_str(), kUsage);
        return 2;
    }
}
