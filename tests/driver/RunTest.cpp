// Whole runs of the built binary on scratch trees: what it deletes, what it
// prints, what it logs, and how it fails.

#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/RunFixture.hpp"

namespace fs = std::filesystem;
using logreap::test::chownTree;
using logreap::test::inDirectory;
using logreap::test::kOld;
using logreap::test::lines;
using logreap::test::runLogreap;
using logreap::test::todaysLogFileName;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

namespace {

const std::string kTimestamp =
    "\\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}[+-][0-9]{2}:[0-9]{2}\\]";

// Drops the time stamps of console lines: "[info] text".
std::vector<std::string> consoleMessages(const std::string& out) {
    std::vector<std::string> result;
    for (auto& line : lines(out)) {
        if (line.rfind("Total time: ", 0) == 0)
            continue;
        result.push_back(std::regex_replace(line, std::regex("^" + kTimestamp + " "), ""));
    }
    return result;
}

class Run : public logreap::test::RunFixture, public ::testing::Test {};

TEST_F(Run, PurgesBothDirectoriesAndReportsOnConsoleAndFile) {
    setLogging({{"level", "debug"}});
    tree.file("data/public/Logs/old.log", kOld);
    tree.file("data/public/Logs/new.log");
    tree.file("data/keep/old.log", kOld);  // outside the purged trees
    tree.file("suite/logs/agent/old.log", kOld);
    tree.dir("suite/logs/empty/chain");
    tree.file("suite/bin/old.exe", kOld);

    const auto result = run();

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::string u = userLogs().string();
    const std::string i = (tree / "suite/logs").string();
    // The debug messages go to the file only: the console shows info and above.
    EXPECT_THAT(consoleMessages(result.out),
                ElementsAre("[info] Starting log purge operation",
                            "[info] Purging logs older than 14 day(s) and 00:00:00 in the '" + u +
                                "' and '" + i + "' directories",
                            "[info] Log purge operation completed"));
    EXPECT_THAT(lines(result.out).back(),
                MatchesRegex(".*Total time: [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}"));
    EXPECT_NE(result.out.back(), '\n');
    EXPECT_THAT(tree.listing(),
                ElementsAre("config.toml", "data/", "data/keep/", "data/keep/old.log",
                            "data/public/", "data/public/Logs/",
                            "data/public/Logs/" + todaysLogFileName(), "data/public/Logs/new.log",
                            "suite/", "suite/bin/", "suite/bin/old.exe", "suite/logs/", "work/"));

    const auto logged = lines(logreap::test::readFile(logFile()));
    ASSERT_EQ(logged.size(), 11u);
    EXPECT_THAT(logged[0],
                MatchesRegex(kTimestamp +
                             " \\[info\\] \\[thread [0-9]+\\] \\[src/logreap/main\\.cpp:[0-9]+\\] "
                             "Starting log purge operation"));
    EXPECT_THAT(
        logged[2],
        MatchesRegex(kTimestamp +
                     " \\[debug\\] \\[thread [0-9]+\\] \\[src/logreap/Purge\\.cpp:[0-9]+\\] "
                     "Deleting log file: " +
                     u + "/old.log"));
    EXPECT_THAT(logged[10], HasSubstr("] Log purge operation completed"));
}

TEST_F(Run, SecondRunOfTheDayAppendsToTheSameFile) {
    setLogging({{"level", "info"}, {"consolelevel", "off"}});
    ASSERT_EQ(run().status, 0);
    const auto second = run();
    EXPECT_EQ(second.status, 0);
    EXPECT_THAT(second.out, MatchesRegex("Total time: [0-9:.]+"));
    EXPECT_EQ(lines(logreap::test::readFile(logFile())).size(), 6u);
}

TEST_F(Run, UnknownLevelSilencesEverythingButStillPurges) {
    setLogging({{"level", "verbose"}});
    tree.file("suite/logs/old.log", kOld);
    const auto result = run();
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, MatchesRegex("Total time: [0-9:.]+"));
    EXPECT_EQ(logreap::test::readFile(logFile()), "");
    EXPECT_FALSE(fs::exists(tree / "suite/logs/old.log"));
}

// The period as configured; none configured, the default of 14 days.
class RunPeriods : public Run, public ::testing::WithParamInterface<std::optional<int>> {};

TEST_P(RunPeriods, AreShownAndPassedUnchanged) {
    setLogging({{"level", "info"}});
    if (GetParam()) {
        config["logging"]["retentionperiod"] = *GetParam();
    }
    const auto result = run();
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out,
                HasSubstr("Purging logs older than " + std::to_string(GetParam().value_or(14)) +
                          " day(s) and 00:00:00"));
}

INSTANTIATE_TEST_SUITE_P(Retention, RunPeriods, ::testing::Values(std::nullopt, 0, -3, 49710));

TEST_F(Run, PeriodTooLongToFormatIsReportedAndStillUsed) {
    setLogging({{"level", "info"}, {"retentionperiod", -49711}});
    tree.file("suite/logs/new.log");
    const auto result = run();
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, Not(HasSubstr("Purging")));
    EXPECT_THAT(result.err,
                MatchesRegex("\\[\\*\\*\\* LOG ERROR #0001 \\*\\*\\*\\] .*cannot format "
                             "duration \\[.*main\\.cpp\\([0-9]+\\)\\]\n"));
    EXPECT_FALSE(fs::exists(tree / "suite/logs/new.log"));
}

TEST_F(Run, NonPositivePeriodKeepsTheRunsOwnLogFile) {
    setLogging({{"level", "debug"}, {"retentionperiod", -1}});
    ASSERT_EQ(run().status, 0);  // the day's file exists now and is older than the cut-off
    const auto result = run();
    EXPECT_EQ(result.status, 0);
    const std::string logged = logreap::test::readFile(logFile());
    EXPECT_THAT(logged, HasSubstr("Deleting log file: " + logFile().string()));
    EXPECT_THAT(lines(logged).back(), HasSubstr("Log purge operation completed"));
}

TEST_F(Run, NeitherDirectoryExisting) {
    setLogging({{"level", "info"}, {"consolelevel", "off"}});
    EXPECT_EQ(run().status, 0);
    EXPECT_TRUE(fs::is_directory(userLogs()));
    EXPECT_FALSE(fs::exists(tree / "suite"));
}

// A file that does not parse, or lacks [settings]; no text: the example
// without [settings].
struct BrokenConfig {
    std::optional<std::string> text;
    std::string error;
};

class RunBrokenConfig : public Run, public ::testing::WithParamInterface<BrokenConfig> {};

TEST_P(RunBrokenConfig, StopsBeforeTouchingAnything) {
    tree.file("suite/logs/old.log", kOld);
    config.as_table().erase("settings");
    logreap::test::writeFile(tree / "broken.toml",
                             GetParam().text.value_or(logreap::test::configText(config)));
    const auto result =
        runLogreap({"-c", (tree / "broken.toml").string()}, inDirectory(tree / "work"));
    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.out, MatchesRegex("Total time: [0-9:.]+"));
    EXPECT_THAT(result.err, MatchesRegex("logreap: error: (.|\n)*" + GetParam().error + "(.|\n)*"));
    EXPECT_TRUE(fs::exists(tree / "suite/logs/old.log"));
    EXPECT_FALSE(fs::exists(tree / "data"));
}

INSTANTIATE_TEST_SUITE_P(Errors, RunBrokenConfig,
                         ::testing::Values(BrokenConfig{"[settings\n", "broken\\.toml"},
                                           BrokenConfig{"x = 1.0.0\n", "broken\\.toml"},
                                           BrokenConfig{std::nullopt, "key \"settings\" not found"},
                                           BrokenConfig{"", "key \"settings\" not found"}));

// Root ignores permissions: these run the binary as an unprivileged user on a
// tree that user owns.
class RunUnprivileged : public Run {
  protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to switch to an unprivileged user";
    }
    logreap::test::ProcessResult runAsUser() { return run(logreap::test::unprivilegedUid()); }
};

TEST_F(RunUnprivileged, UnreadableSubdirectoryStopsTheRunBeforeAnyDirectoryIsRemoved) {
    tree.dir("data/public/Logs/empty");
    tree.file("data/public/Logs/locked/old.log", kOld);
    tree.file("suite/logs/old.log", kOld);
    chownTree(tree.root(), logreap::test::unprivilegedUid());
    fs::permissions(userLogs() / "locked", fs::perms::none);

    const auto result = runAsUser();

    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err,
              "logreap: error: filesystem error: cannot increment recursive directory iterator: "
              "Permission denied\n");
    EXPECT_TRUE(fs::exists(userLogs() / "empty"));
    EXPECT_TRUE(fs::exists(tree / "suite/logs/old.log"));  // second directory not reached
}

TEST_F(RunUnprivileged, LinkToAnUnexaminableTargetStopsTheDirectoryRemoval) {
    tree.file("secret/old.log", kOld);
    tree.dir("suite/logs/empty");
    tree.file("suite/logs/old.log", kOld);
    fs::create_symlink(tree / "secret/old.log", tree / "suite/logs/link");
    chownTree(tree.root(), logreap::test::unprivilegedUid());
    fs::permissions(tree / "secret", fs::perms::none);

    const auto result = runAsUser();

    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "logreap: error: filesystem error: status: Permission denied [" +
                              (tree / "suite/logs/link").string() + "]\n");
    EXPECT_FALSE(fs::exists(tree / "suite/logs/old.log"));  // the first walk ran
    EXPECT_TRUE(fs::exists(tree / "suite/logs/empty"));
    fs::permissions(tree / "secret", fs::perms::owner_all);
    EXPECT_TRUE(fs::exists(tree / "secret/old.log"));
}

TEST_F(RunUnprivileged, OldFileThatCannotBeRemovedIsAnnouncedAndStays) {
    tree.file("suite/logs/ro/old.log", kOld);
    chownTree(tree.root(), logreap::test::unprivilegedUid());
    fs::permissions(tree / "suite/logs/ro", fs::perms::owner_read | fs::perms::owner_exec);

    const auto result = runAsUser();

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(fs::exists(tree / "suite/logs/ro/old.log"));
    const std::string logged = logreap::test::readFile(logFile());
    EXPECT_THAT(logged,
                HasSubstr("Deleting log file: " + (tree / "suite/logs/ro/old.log").string()));
    EXPECT_THAT(logged,
                HasSubstr("Trying to remove directory '" + (tree / "suite/logs/ro").string()));
    EXPECT_THAT(logged, Not(HasSubstr("Successfully removed")));
}

TEST_F(RunUnprivileged, UnwritableLogDirectoryIsReported) {
    tree.dir("data");
    chownTree(tree.root(), logreap::test::unprivilegedUid());
    fs::permissions(tree / "data", fs::perms::owner_read | fs::perms::owner_exec);

    const auto result = runAsUser();

    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.err, MatchesRegex("logreap: error: .*logreap_[0-9-]+\\.log.*\n"));
}

}  // namespace
