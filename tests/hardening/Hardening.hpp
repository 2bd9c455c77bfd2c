#pragma once

// Shared by the hardening tests: whole runs of the binary on a scratch tree,
// a deadline for code that might never return, and checks of the log file.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/Process.hpp"
#include "support/SampleConfig.hpp"
#include "support/TempTree.hpp"

namespace logreap::hardening {

inline constexpr auto kOld = std::chrono::hours{24 * 30};

// Ends the whole test process with SIGALRM when the scope is not left within
// `seconds`: a hang fails the test instead of stalling CI.
class Deadline {
  public:
    explicit Deadline(unsigned seconds);
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
};

using test::chownTree;
using test::lines;
using test::todaysLogFileName;

// Removes a tree of any depth, also one whose paths exceed PATH_MAX.
void removeTree(const std::filesystem::path& root);

// Every line of a log file is a whole message: it starts with a time stamp
// and holds no control character and no byte that is not UTF-8. Returns the
// first offending line, if any.
std::optional<std::string> malformedLogLine(const std::string& logText);

// A tree with the two purge directories of a sample configuration: data
// (user data, purged in data/public/Logs) and suite (installation, purged in
// suite/logs), the configuration file config.toml and an empty working
// directory work.
class RunFixture {
  public:
    RunFixture();

    test::ProcessResult run(std::optional<unsigned> uid = std::nullopt);

    std::filesystem::path userLogs() const { return tree / "data/public/Logs"; }
    std::filesystem::path installLogs() const { return tree / "suite/logs"; }
    std::filesystem::path logFile() const { return userLogs() / todaysLogFileName(); }
    std::string logText() const { return test::readFile(logFile()); }

    test::TempTree tree;
    test::SampleConfig sample;
};

}  // namespace logreap::hardening
