#pragma once

#include <filesystem>

namespace norvane::abap {

// A configured directory in its lexically normal form, with preferred separators.
std::filesystem::path normalisedDirectory(const std::filesystem::path& directory);

// The public/Logs directory under a base directory (normalised first).
std::filesystem::path publicLogsPath(const std::filesystem::path& base);

}  // namespace norvane::abap
