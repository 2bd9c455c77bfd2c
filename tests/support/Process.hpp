#pragma once

// Runs the built logreap binary as a child process and captures what it wrote.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace logreap::test {

struct ProcessResult {
    int status = -1;  // exit status; -1 when the child did not exit normally
    int signal = 0;   // the terminating signal, if any
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::filesystem::path workingDirectory;  // empty: the test's own
    std::optional<unsigned> uid;             // run as this user (and group), dropping root
    bool errorsToOutput =
        false;  // standard error into standard output's file, as a terminal shows both
    // POSIX only: NAME=value entries set on top of the inherited environment,
    // and a descriptor limit (soft and hard) for the child.
    std::vector<std::string> environment;
    std::optional<std::uint64_t> fileLimit;
};

inline ProcessOptions inDirectory(const std::filesystem::path& directory,
                                  std::optional<unsigned> uid = std::nullopt) {
    ProcessOptions options;
    options.workingDirectory = directory;
    options.uid = uid;
    return options;
}

ProcessResult runProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});

// runProgram on the logreap binary under test.
ProcessResult runLogreap(const std::vector<std::string>& args, const ProcessOptions& options = {});

// Hands the tree, links included, to `uid` (POSIX only; throws on Windows).
void chownTree(const std::filesystem::path& root, unsigned uid);

// A user id for running without privileges (root ignores permissions).
unsigned unprivilegedUid();

}  // namespace logreap::test
