#pragma once

// Shared by the hardening tests: a deadline for code that might never return,
// the removal of trees too deep for path-based calls, and checks of the log
// file. Whole runs of the binary use the support library's RunFixture.

#include <filesystem>
#include <optional>
#include <string>

#include "support/RunFixture.hpp"

namespace logreap::hardening {

// Ends the whole test process with SIGALRM when the scope is not left within
// `seconds`: a hang fails the test instead of stalling CI.
class Deadline {
  public:
    explicit Deadline(unsigned seconds);
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
};

// Removes a tree of any depth, also one whose paths exceed PATH_MAX.
void removeTree(const std::filesystem::path& root);

// Every line of a log file is a whole message: it starts with a time stamp
// and holds no control character and no byte that is not UTF-8. Returns the
// first offending line, if any.
std::optional<std::string> malformedLogLine(const std::string& logText);

}  // namespace logreap::hardening
