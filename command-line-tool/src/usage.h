// Usage texts: a heading followed by argtable2's syntax line and glossary.
#pragma once

#include <cstdio>

#include "arguments.h"

namespace beamctl {

constexpr int kFailure = -1;

// Prints `heading`, the syntax of `table` ending in a blank line, then its
// glossary; returns the usage exit status.
int printUsage(std::FILE* out, const char* heading, ArgTable& table);

// The one-line description that stands for the usage of `list`.
int printListUsage(std::FILE* out);

}  // namespace beamctl
