#pragma once

// Whole runs of the logreap binary on a scratch tree.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "support/ConfigDocument.hpp"
#include "support/Process.hpp"
#include "support/TempTree.hpp"

namespace logreap::test {

// Well beyond the example's retention of 14 days.
inline constexpr auto kOld = std::chrono::hours{24 * 30};

// A tree with the two purge directories of `config`: data (user data, purged
// in data/public/Logs) and suite (installation, purged in suite/logs), the
// configuration file config.toml and an empty working directory work. The
// configuration logs at debug level to the file only. A test class derives
// from this and from ::testing::Test.
class RunFixture {
  public:
    RunFixture();

    // Writes `config` to config.toml and runs the binary on it from work; as
    // `uid`, the tree handed to that user first, where one is given.
    ProcessResult run(std::optional<unsigned> uid = std::nullopt, ProcessOptions options = {});

    void setLogging(toml::table logging) { config["logging"] = std::move(logging); }

    std::filesystem::path userLogs() const { return tree / "data/public/Logs"; }
    std::filesystem::path installLogs() const { return tree / "suite/logs"; }
    std::filesystem::path logFile() const { return userLogs() / todaysLogFileName(); }
    std::string logText() const { return readFile(logFile()); }

    TempTree tree;
    toml::value config;
};

}  // namespace logreap::test
