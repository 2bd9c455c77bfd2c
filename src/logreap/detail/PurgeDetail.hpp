#pragma once

// What the benchmarks measure of the purge's inside: its list of collected
// directories and the order of their removal.

#include <cstddef>
#include <filesystem>
#include <vector>

namespace norvane::abap::detail {

// A directory met by the second walk, kept as its own name and the index of
// the directory that holds it, so that the list costs memory in proportion to
// its names, however deep the tree. The walk adds each directory before the
// ones beneath it.
struct CollectedDirectory {
    static constexpr std::size_t kNoParent = static_cast<std::size_t>(-1);  // the purge directory

    std::size_t parent = kNoParent;
    std::size_t depth = 1;  // names beneath the purge directory
    std::filesystem::path::string_type name;
    bool removable = true;  // false for one walked into but no directory by its status
};

// The indices of the removable directories, deepest first, so that each parent
// comes after everything it contains. Among directories of one depth the
// walk's order decides, which keeps siblings together and lets the removal
// pass reuse the way down to their parent.
std::vector<std::size_t> removalOrder(const std::vector<CollectedDirectory>& directories);

// The path of directories[index] relative to the purge directory.
std::filesystem::path::string_type relativePath(const std::vector<CollectedDirectory>& directories,
                                                std::size_t index);

}  // namespace norvane::abap::detail
