// Builds a firmware image file from image files, or from two generated images
// that announce the versions a simulated device runs once programmed.
//
//   nettlebeam-firmware-image --output FILE (--tag TEXT | --type N)
//       ([--first FILE] [--second FILE] | --sw-version A.B.C.D --hw-version N)
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "firmwareimage.h"

namespace {

using firmwareimage::Bytes;

constexpr std::size_t kGeneratedFirstSize = 3000;   // several upload blocks
constexpr std::size_t kGeneratedSecondSize = 1200;  // not a multiple of a block

const char kUsage[] =
    "usage: nettlebeam-firmware-image --output FILE (--tag TEXT | --type N)\n"
    "           ([--first FILE] [--second FILE] | --sw-version A.B.C.D --hw-version N)\n";

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

std::optional<std::array<uint8_t, 4>> parseDottedVersion(const std::string& text) {
    std::array<uint8_t, 4> version{};
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t dot = text.find('.', start);
        if ((i < 3) == (dot == std::string::npos)) return {};
        const auto part = parseUnsigned(text.substr(start, dot - start), 255);
        if (!part) return {};
        version[i] = uint8_t(*part);
        start = dot + 1;
    }
    return version;
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

struct Images {
    Bytes first;
    Bytes second;
};

Images imagesFromOptions(const std::map<std::string, std::string>& options) {
    const bool fromFiles = options.count("--first") || options.count("--second");
    const bool generated = options.count("--sw-version") || options.count("--hw-version");
    if (fromFiles && generated)
        throw Failure{"give image files or versions to generate images from, not both"};
    if (!generated) {
        Images images;
        if (options.count("--first")) images.first = readFile(options.at("--first"));
        if (options.count("--second")) images.second = readFile(options.at("--second"));
        return images;
    }
    if (!options.count("--sw-version") || !options.count("--hw-version"))
        throw Failure{"generated images need both --sw-version and --hw-version"};
    const auto software = parseDottedVersion(options.at("--sw-version"));
    if (!software) throw Failure{"--sw-version needs four numbers 0-255: A.B.C.D"};
    const auto hardware = parseUnsigned(options.at("--hw-version"), 0xFFFFFFFFu);
    if (!hardware) throw Failure{"--hw-version needs an unsigned number"};
    return {
        firmwareimage::makeVersionedImage(*software, uint32_t(*hardware), kGeneratedFirstSize),
        firmwareimage::makeVersionedImage(*software, uint32_t(*hardware), kGeneratedSecondSize)};
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const auto options = parseOptions(argc, argv);
        if (!options.count("--output")) throw Failure{"--output is required"};
        const uint32_t tag = tagFromOptions(options);
        const Images images = imagesFromOptions(options);
        if (uint64_t(images.first.size()) + images.second.size() + firmwareimage::kHeaderSize >
            0xFFFFFFFFu)
            throw Failure{"the images are too large for one file"};
        writeFile(options.at("--output"),
                  firmwareimage::buildImageFile(tag, images.first, images.second));
        return 0;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "nettlebeam-firmware-image: %s\n%s", failure.message.c_str(), kUsage);
        return 2;
    }
}
