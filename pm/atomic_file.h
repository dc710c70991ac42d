#pragma once

// Output files that appear whole or not at all: the bytes go to a temporary file beside the
// target, which is renamed over the target only when everything was written.

#include <string>
#include <string_view>

// Writes `bytes` to `path` through a temporary file in the same directory and renames it into
// place. Returns false (printing nothing; no temporary file is left) when the file cannot be
// created, written completely or renamed.
bool writeFileAtomically(const std::string& path, std::string_view bytes);
