// The purge on real trees in scratch folders, its messages read from the
// registered logger, and how those messages show names.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "Logger.hpp"
#include "Purge.hpp"
#include "detail/DirectoryChain.hpp"
#include "detail/DisplayText.hpp"
#include "support/TempTree.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;
using logreap::test::TempTree;
using norvane::abap::deleteLogFiles;
using norvane::abap::displayText;
using norvane::abap::pruneLogDirectory;
using norvane::abap::purgeCutoff;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr auto kOld = 24h * 30;
constexpr auto kRecent = 1h;

class Purge : public ::testing::Test {
  protected:
    void SetUp() override {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(messages_);
        sink->set_pattern("%v");
        auto logger = std::make_shared<spdlog::logger>("logreap", sink);
        logger->set_level(spdlog::level::trace);
        spdlog::register_logger(logger);
    }
    void TearDown() override { spdlog::drop_all(); }

    // The messages written so far, with the scratch root shown as "~".
    std::vector<std::string> messages() const {
        std::vector<std::string> lines;
        std::istringstream in(messages_.str());
        const std::string root = tree.root().string();
        for (std::string line; std::getline(in, line);) {
            for (auto at = line.find(root); at != std::string::npos; at = line.find(root)) {
                line.replace(at, root.size(), "~");
            }
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();  // the logger's line end on Windows
            }
            // Written with '/' so that one expectation serves every platform.
            std::replace(line.begin(), line.end(), static_cast<char>(fs::path::preferred_separator),
                         '/');
            lines.push_back(line);
        }
        return lines;
    }

    // Wine cannot create links; tests/windows runs its link cases on links
    // that the host made.
    bool linksCanBeMade() const {
        std::error_code ec;
        fs::create_directory_symlink(tree.root(), tree / "probe-link", ec);
        fs::remove(tree / "probe-link");
        return !ec;
    }

    TempTree tree;
    fs::path logs = tree.dir("logs");

  private:
    std::ostringstream messages_;
};

TEST_F(Purge, EmptyDirectoryNeedsNoWork) {
    pruneLogDirectory(logs, 14);
    EXPECT_THAT(messages(), IsEmpty());
    EXPECT_TRUE(fs::is_directory(logs));
}

TEST_F(Purge, PathThatIsNoDirectoryIsSkipped) {
    const auto file = tree.file("logs/old.log", kOld);
    pruneLogDirectory(tree / "missing", 14);
    pruneLogDirectory(file, 14);
    pruneLogDirectory(file / "below", 14);
    EXPECT_THAT(messages(), IsEmpty());
    EXPECT_TRUE(fs::exists(file));
}

TEST_F(Purge, DeletesOldFilesOfAnyNameAndKeepsRecentOnes) {
    tree.file("logs/agent.log", kOld);
    tree.file("logs/core.dump", kOld);
    tree.file("logs/today.log", kRecent);
    tree.file("logs/deep/a/b/old.txt", kOld);
    pruneLogDirectory(logs, 14);
    EXPECT_THAT(tree.listing(), ElementsAre("logs/", "logs/today.log"));
}

TEST_F(Purge, RemovesAChainOfEmptyDirectoriesDeepestFirst) {
    tree.dir("logs/a/b/c");
    pruneLogDirectory(logs, 14);
    EXPECT_THAT(messages(), ElementsAre("Trying to remove directory '~/logs/a/b/c' if empty.",
                                        "Successfully removed directory: '~/logs/a/b/c'",
                                        "Trying to remove directory '~/logs/a/b' if empty.",
                                        "Successfully removed directory: '~/logs/a/b'",
                                        "Trying to remove directory '~/logs/a' if empty.",
                                        "Successfully removed directory: '~/logs/a'"));
    EXPECT_THAT(tree.listing(), ElementsAre("logs/"));
}

// Deeper than the handles the walk keeps open: old files listed after a
// level's subdirectory are deleted once the walk comes back to that level, and
// the emptied chain is removed whole, deepest first.
TEST_F(Purge, PurgesATreeDeeperThanItsOpenHandles) {
    constexpr std::size_t kDepth = norvane::abap::filetree::DirectoryChain::kDefaultWindow + 6;
    fs::path level = "logs";
    for (std::size_t depth = 0; depth < kDepth; ++depth) {
        tree.file(level / "before", kOld);
        tree.dir(level / "d");
        tree.file(level / "after", kOld);
        level /= "d";
    }
    pruneLogDirectory(logs, 14);
    EXPECT_THAT(tree.listing(), ElementsAre("logs/"));
    const auto shown = messages();
    ASSERT_EQ(shown.size(), 4 * kDepth);
    EXPECT_EQ(shown.back(), "Successfully removed directory: '~/logs/d'");
}

// The directory given with a trailing separator: paths are joined as the
// path type joins them, without a doubled separator.
TEST_F(Purge, KeepsADirectoryThatStillHoldsARecentFile) {
    tree.file("logs/a/b/old.log", kOld);
    tree.file("logs/a/b/new.log", kRecent);
    pruneLogDirectory(logs / "", 14);
    EXPECT_THAT(messages(), ElementsAre("Deleting log file: ~/logs/a/b/old.log",
                                        "Trying to remove directory '~/logs/a/b' if empty.",
                                        "Trying to remove directory '~/logs/a' if empty."));
    EXPECT_THAT(tree.listing(), ElementsAre("logs/", "logs/a/", "logs/a/b/", "logs/a/b/new.log"));
}

TEST_F(Purge, FileWrittenExactlyAtTheCutoffStays) {
    const auto file = tree.file("logs/edge.log", kOld);
    const auto written = fs::file_time_type::clock::to_sys(fs::last_write_time(file));
    deleteLogFiles(logs, Clock::time_point(written));
    EXPECT_TRUE(fs::exists(file));
    deleteLogFiles(logs, Clock::time_point(written) + Clock::duration(1));
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(Purge, ZeroPeriodTakesEverythingWrittenBeforeTheCall) {
    tree.file("logs/written-a-second-ago.log");
    fs::last_write_time(tree / "logs/written-a-second-ago.log",
                        fs::file_time_type::clock::now() - 1s);
    tree.file("logs/future.log");
    fs::last_write_time(tree / "logs/future.log", fs::file_time_type::clock::now() + 1h);
    pruneLogDirectory(logs, 0);
    EXPECT_THAT(tree.listing(), ElementsAre("logs/", "logs/future.log"));
}

TEST_F(Purge, NegativePeriodTakesEveryRegularFile) {
    tree.file("logs/future.log");
    fs::last_write_time(tree / "logs/future.log", fs::file_time_type::clock::now() + 24h);
    pruneLogDirectory(logs, -3);
    EXPECT_THAT(tree.listing(), ElementsAre("logs/"));
}

TEST_F(Purge, LinksAreNeverFollowedOutOfTheTree) {
    if (!linksCanBeMade()) {
        GTEST_SKIP() << "symbolic links cannot be created here";
    }
    const auto outsideFile = tree.file("outside/old.log", kOld);
    const auto outsideDir = tree.dir("outside/dir");
    tree.file("outside/dir/old.log", kOld);
    tree.file("outside/recent.log", kRecent);
    fs::create_symlink(outsideFile, logs / "to-old-file");
    fs::create_symlink(tree / "outside/recent.log", logs / "to-recent-file");
    fs::create_symlink(outsideDir, logs / "to-dir");
    fs::create_symlink(tree / "nowhere", logs / "broken");
    fs::create_directory_symlink(tree / "logs", logs / "loop");

    pruneLogDirectory(logs, 14);

    // The links to the old file and to directories go; their targets stay whole.
    EXPECT_THAT(tree.listing(), ElementsAre("logs/", "logs/broken", "logs/to-recent-file",
                                            "outside/", "outside/dir/", "outside/dir/old.log",
                                            "outside/old.log", "outside/recent.log"));
}

TEST_F(Purge, DirectoryGivenAsALinkIsPurgedThroughIt) {
    if (!linksCanBeMade()) {
        GTEST_SKIP() << "symbolic links cannot be created here";
    }
    tree.file("logs/old.log", kOld);
    tree.dir("logs/empty");
    const auto link = tree / "link";
    fs::create_directory_symlink(logs, link);
    pruneLogDirectory(link, 14);
    EXPECT_THAT(messages(), ElementsAre("Deleting log file: ~/link/old.log",
                                        "Trying to remove directory '~/link/empty' if empty.",
                                        "Successfully removed directory: '~/link/empty'"));
    EXPECT_THAT(tree.listing(), ElementsAre("link", "logs/"));
}

TEST_F(Purge, LeavesTheFileItsOwnLoggerIsWriting) {
    spdlog::drop_all();
    auto logger = spdlog::daily_logger_mt("logreap", (logs / "logreap.log").string(), 0, 0);
    logger->set_level(spdlog::level::debug);
    logger->flush_on(spdlog::level::debug);
    const fs::path ownFile = norvane::abap::currentLogFile(*logger).value();
    tree.file("logs/other.log", kOld);

    pruneLogDirectory(logs, -1);
    SPDLOG_LOGGER_INFO(logger, "still writing");
    logger->flush();

    ASSERT_TRUE(fs::exists(ownFile));
    const std::string written = logreap::test::readFile(ownFile);
    EXPECT_NE(written.find("Deleting log file: " + ownFile.string()), std::string::npos);
    EXPECT_NE(written.find("still writing"), std::string::npos);
    EXPECT_FALSE(fs::exists(logs / "other.log"));
}

TEST_F(Purge, WorksWithoutARegisteredLogger) {
    spdlog::drop_all();
    tree.file("logs/a/old.log", kOld);
    EXPECT_NO_THROW(pruneLogDirectory(logs, 14));
    EXPECT_THAT(tree.listing(), ElementsAre("logs/"));
}

TEST(PurgeCutoff, SubtractsWholeDaysOfTwentyFourHours) {
    const Clock::time_point now{std::chrono::sys_days{std::chrono::March / 31 / 2024} + 2h};
    EXPECT_EQ(purgeCutoff(now, 14), now - 14 * 24h);
    EXPECT_EQ(purgeCutoff(now, 0), now);
    EXPECT_EQ(purgeCutoff(now, -3), now + 3 * 24h);
}

TEST(PurgeCutoff, SaturatesInsteadOfWrappingAround) {
    using Rep = Clock::rep;
    const Rep ticksPerDay = std::chrono::duration_cast<Clock::duration>(24h).count();
    const auto largestDays =
        static_cast<std::int64_t>(std::numeric_limits<Rep>::max() / ticksPerDay);
    const Clock::time_point now = Clock::now();
    EXPECT_EQ(purgeCutoff(now, std::numeric_limits<std::int32_t>::max()), Clock::time_point::min());
    EXPECT_EQ(purgeCutoff(now, std::numeric_limits<std::int32_t>::min()), Clock::time_point::max());
    if (largestDays < std::numeric_limits<std::int32_t>::max()) {
        const auto days = static_cast<std::int32_t>(largestDays);
        const auto period = Clock::duration(largestDays * ticksPerDay);
        const Clock::time_point epoch{};
        EXPECT_EQ(purgeCutoff(epoch, days), epoch - period);
        EXPECT_EQ(purgeCutoff(epoch, days + 1), Clock::time_point::min());
        EXPECT_EQ(purgeCutoff(epoch, -days - 1), Clock::time_point::max());
        // The period fits the clock, the difference does not.
        EXPECT_EQ(purgeCutoff(epoch - 1000 * 24h, days), Clock::time_point::min());
        EXPECT_EQ(purgeCutoff(epoch + 1000 * 24h, -days), Clock::time_point::max());
    }
}

TEST_F(Purge, OverlongPeriodDeletesNothing) {
    tree.file("logs/ancient.log", 24h * 365 * 50);
    pruneLogDirectory(logs, std::numeric_limits<std::int32_t>::max());
    EXPECT_TRUE(fs::exists(logs / "ancient.log"));
}

// How the purge's messages show file names and configured paths.
struct TextCase {
    std::string raw;
    std::string shown;
};

class DisplayText : public ::testing::TestWithParam<TextCase> {};

TEST_P(DisplayText, EscapesOnlyWhatWouldCorruptALogLine) {
    EXPECT_EQ(displayText(GetParam().raw), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DisplayText,
    ::testing::Values(
        TextCase{"C:\\Data\\public\\Logs\\agent 1.log", "C:\\Data\\public\\Logs\\agent 1.log"},
        TextCase{"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x81",
                 "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x81"},
        TextCase{std::string("a\nb\r\tc\0", 7), "a\\x0Ab\\x0D\\x09c\\x00"},
        TextCase{"\x1b[31mred\x7f csi\xc2\x9b", "\\x1B[31mred\\x7F csi\\xC2\\x9B"},
        TextCase{"latin1 \xfc.log", "latin1 \\xFC.log"},
        TextCase{"\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80",  // overlong, surrogate, too high
                 "\\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80"},
        TextCase{"\xe2\x82\xe2\x82\xac \xe2\x82", "\\xE2\\x82\xe2\x82\xac \\xE2\\x82"}));

}  // namespace
