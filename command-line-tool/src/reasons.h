// The one-line reasons beamctl adds on standard error when a request fails,
// so that standard output keeps the messages scripts already match.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace beamctl {

// What a library status code means, as the library's header documents it.
const char* statusMeaning(std::int32_t status);

// "the device refused: status -5 (...)"
std::string refusalReason(std::int32_t status);

// The reason no daemon could be reached on `controlPath`, with how to start one.
std::string noDaemonReason(const std::string& controlPath);

// When `words` give an option that only takes an attached value a detached
// one (`--interval 5`), the hint "use --interval=5"; nothing otherwise.
// `options` are the long names concerned, without the dashes.
std::optional<std::string> detachedValueHint(const std::vector<std::string>& words,
                                             const std::vector<std::string>& options);

// Why a capture whose files start with `baseName` cannot be written: its
// folder is missing, is not a folder, or is not writable. Nothing when the
// folder looks usable. Relative names are left to the daemon, whose working
// folder may differ from ours.
std::optional<std::string> captureFolderProblem(const std::string& baseName);

}  // namespace beamctl
