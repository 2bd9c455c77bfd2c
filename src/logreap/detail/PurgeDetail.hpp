#pragma once

// What the benchmarks measure of the purge's inside: its list of collected
// directories and the order of their removal.

#include <cstddef>
#include <filesystem>
#include <vector>

namespace norvane::abap::detail {

// A directory is kept as its path's text relative to the purge directory: that
// list is all the memory that a large tree costs the purge.
struct CollectedDirectory {
    std::size_t depth;  // names in the relative path
    std::filesystem::path::string_type relative;
};

// Deepest first, so that each parent comes after everything it contains. Among
// directories of one depth the path decides, which keeps siblings together and
// lets the removal pass reuse the way down to their parent.
void sortDeepestFirst(std::vector<CollectedDirectory>& directories);

}  // namespace norvane::abap::detail
