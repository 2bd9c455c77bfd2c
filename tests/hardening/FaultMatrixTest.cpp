// Faults that an unprivileged user meets, on whole runs of the binary: each
// case fixes the exit status, the one error line and exactly what is left of
// the tree. (The unreadable subdirectory, the link to an unexaminable target,
// the read-only directory and the log directory that cannot be created are in
// tests/driver/RunTest.cpp.)

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "Hardening.hpp"

namespace fs = std::filesystem;
using logreap::test::kOld;
using logreap::test::RunFixture;
using ::testing::MatchesRegex;

namespace {

struct FaultCase {
    std::string name;
    // Takes the permission away (the tree already belongs to the user) ...
    std::function<void(const RunFixture&)> inflict;
    // ... and gives it back, so that the outcome can be read.
    std::function<void(const RunFixture&)> repair;
    std::function<std::string(const RunFixture&)> error;
    std::vector<std::string> removed;  // entries gone afterwards, relative to the tree
    bool logFileWritten;
    std::string config = "config.toml";  // relative to the tree
};

void setMode(const fs::path& path, fs::perms mode) {
    fs::permissions(path, mode, fs::perm_options::replace);
}

constexpr auto kDirectoryMode = fs::perms::owner_all;
constexpr auto kFileMode = fs::perms::owner_read | fs::perms::owner_write;

const std::vector<std::string> kFirstDirectoryPurged{"data/public/Logs/old.log",
                                                     "data/public/Logs/empty/"};

std::string cannotOpen(const fs::path& directory) {
    return "logreap: error: filesystem error: recursive directory iterator cannot open "
           "directory: Permission denied [" +
           directory.string() + "]\n";
}

std::string cannotOpenLogFile(const RunFixture& f) {
    return "logreap: error: Failed opening file " + f.logFile().string() +
           " for writing: Permission denied\n";
}

std::string cannotOpenConfig(const fs::path& config) {
    return "logreap: error: toml::parse: error opening file \"" + config.string() +
           "\": Permission denied\n";
}

class FaultMatrix : public RunFixture, public ::testing::TestWithParam<FaultCase> {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root to switch to an unprivileged user";
        }
        for (const char* logs : {"data/public/Logs", "suite/logs"}) {
            tree.file(fs::path(logs) / "old.log", kOld);
            tree.file(fs::path(logs) / "new.log");
            tree.dir(fs::path(logs) / "empty");
        }
        tree.dir("conf");
        logreap::test::writeConfig(tree / "config.toml", config);
        logreap::test::writeConfig(tree / "conf/config.toml", config);
    }
};

TEST_P(FaultMatrix, StopsWithOneErrorLineAndLeavesTheTreeAsFixed) {
    const FaultCase& fault = GetParam();
    const auto before = tree.listing();
    const unsigned user = logreap::test::unprivilegedUid();
    logreap::test::chownTree(tree.root(), user);
    fault.inflict(*this);

    const auto result = logreap::test::runLogreap({"-c", (tree / fault.config).string()},
                                                  logreap::test::inDirectory(tree / "work", user));
    fault.repair(*this);

    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, fault.error(*this));
    EXPECT_THAT(result.out, MatchesRegex("Total time: [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}"));

    std::vector<std::string> expected;
    std::copy_if(before.begin(), before.end(), std::back_inserter(expected),
                 [&](const std::string& entry) {
                     return std::find(fault.removed.begin(), fault.removed.end(), entry) ==
                            fault.removed.end();
                 });
    const std::string logEntry = "data/public/Logs/" + logreap::test::todaysLogFileName();
    if (fault.logFileWritten && !std::count(expected.begin(), expected.end(), logEntry)) {
        expected.push_back(logEntry);
        std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(tree.listing(), expected);
    if (fault.logFileWritten) {
        EXPECT_EQ(logreap::hardening::malformedLogLine(logText()), std::nullopt);
    }
}

std::vector<FaultCase> faultCases() {
    return {
        {"UnreadableFirstPurgeDirectory",
         [](const RunFixture& f) {
             setMode(f.userLogs(), fs::perms::owner_write | fs::perms::owner_exec);
         },
         [](const RunFixture& f) { setMode(f.userLogs(), kDirectoryMode); },
         [](const RunFixture& f) { return cannotOpen(f.userLogs()); },
         {},  // nothing deleted, and the second directory is not reached
         true},
        {"UnreadableSecondPurgeDirectory",
         [](const RunFixture& f) { setMode(f.installLogs(), fs::perms::none); },
         [](const RunFixture& f) { setMode(f.installLogs(), kDirectoryMode); },
         [](const RunFixture& f) { return cannotOpen(f.installLogs()); }, kFirstDirectoryPurged,
         true},
        {"PurgeDirectoryWhoseStatusCannotBeRead",
         [](const RunFixture& f) { setMode(f.tree / "suite", fs::perms::none); },
         [](const RunFixture& f) { setMode(f.tree / "suite", kDirectoryMode); },
         [](const RunFixture& f) {
             return "logreap: error: filesystem error: status: Permission denied [" +
                    f.installLogs().string() + "]\n";
         },
         kFirstDirectoryPurged, true},
        {"UnreadableConfigurationFile",
         [](const RunFixture& f) { setMode(f.tree / "config.toml", fs::perms::none); },
         [](const RunFixture& f) { setMode(f.tree / "config.toml", kFileMode); },
         [](const RunFixture& f) { return cannotOpenConfig(f.tree / "config.toml"); },
         {},
         false},
        {"ConfigurationFileInAnUnsearchableDirectory",
         [](const RunFixture& f) {
             setMode(f.tree / "conf", fs::perms::owner_read | fs::perms::owner_write);
         },
         [](const RunFixture& f) { setMode(f.tree / "conf", kDirectoryMode); },
         [](const RunFixture& f) { return cannotOpenConfig(f.tree / "conf/config.toml"); },
         {},
         false,
         "conf/config.toml"},
        {"ReadOnlyLogDirectory",
         [](const RunFixture& f) {
             setMode(f.userLogs(), fs::perms::owner_read | fs::perms::owner_exec);
         },
         [](const RunFixture& f) { setMode(f.userLogs(), kDirectoryMode); },
         cannotOpenLogFile,
         {},
         false},
        {"ReadOnlyLogFileOfTheDay",
         [](const RunFixture& f) {
             logreap::test::writeFile(f.logFile(), "");
             ASSERT_EQ(::chown(f.logFile().c_str(), logreap::test::unprivilegedUid(),
                               logreap::test::unprivilegedUid()),
                       0);
             setMode(f.logFile(), fs::perms::owner_read);
         },
         [](const RunFixture& f) {
             setMode(f.logFile(), kFileMode);
             EXPECT_EQ(f.logText(), "");
             fs::remove(f.logFile());
         },
         cannotOpenLogFile,
         {},
         false},
    };
}

INSTANTIATE_TEST_SUITE_P(Unprivileged, FaultMatrix, ::testing::ValuesIn(faultCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
