#pragma once

#include <filesystem>

namespace logreap::test {

// Creates a new directory beneath the system's temporary directory whose name
// begins with `prefix`, and returns its path.
std::filesystem::path makeUniqueDirectory(const char* prefix);

}  // namespace logreap::test
