#pragma once

// A complete configuration document of the suite, with the parts that tests
// vary given as arguments.

#include <filesystem>
#include <string>

namespace logreap::test {

struct SampleConfig {
    std::string install = "/opt/suite";
    std::string userdata = "/var/suite";
    // The body of the [logging] table, one key per line.
    std::string logging = "level = \"info\"\n";
    // Appended after every table, e.g. to add or break one.
    std::string extra;
};

// A TOML basic string holding `text`.
std::string tomlString(const std::string& text);

std::string configText(const SampleConfig& config);

// Writes configText(config) to `path` and returns the path.
std::filesystem::path writeConfig(const std::filesystem::path& path, const SampleConfig& config);

}  // namespace logreap::test
