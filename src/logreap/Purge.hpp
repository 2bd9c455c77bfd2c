#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>

namespace norvane::abap {

// Deletes every regular file beneath `directory` last written more than
// `retentionDays` days ago, then removes the subdirectories left empty, deepest
// first. The directory itself stays. A path that is not a directory is skipped.
// File-system errors leave as std::filesystem::filesystem_error.
void pruneLogDirectory(const std::filesystem::path& directory, std::int32_t retentionDays);

// The work of pruneLogDirectory for an existing directory and a fixed cut-off:
// files last written strictly before `cutoff` go.
void deleteLogFiles(const std::filesystem::path& directory,
                    std::chrono::system_clock::time_point cutoff);

// `now` minus the retention period, saturated at the clock's range: a period
// too long for the clock gives the earliest time, one too negative the latest.
std::chrono::system_clock::time_point purgeCutoff(std::chrono::system_clock::time_point now,
                                                  std::int32_t retentionDays);

}  // namespace norvane::abap
