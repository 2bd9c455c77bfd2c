// The run driver's parts in process: directory normalisation and the logger.

#include <chrono>
#include <filesystem>
#include <string>

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <spdlog/details/os.h>
#include <spdlog/sinks/sink.h>
#include <spdlog/spdlog.h>

#include "LogPaths.hpp"
#include "Logger.hpp"
#include "support/TempTree.hpp"

namespace fs = std::filesystem;
using logreap::test::readFile;
using logreap::test::todaysLogFileName;
using norvane::abap::createLogger;
using norvane::abap::normalisedDirectory;
using norvane::abap::publicLogsPath;

namespace {

struct PathCase {
    std::string configured;
    std::string publicLogs;
};

class PublicLogsPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(PublicLogsPath, IsTheNormalisedBaseWithPublicLogs) {
#ifdef _WIN32
    GTEST_SKIP() << "these cases take '\\' for an ordinary character of a name, as outside "
                    "Windows; tests/windows checks the Windows rule";
#endif
    EXPECT_EQ(publicLogsPath(GetParam().configured).string(), GetParam().publicLogs);
}

INSTANTIATE_TEST_SUITE_P(
    Normalisation, PublicLogsPath,
    ::testing::Values(PathCase{"/data/", "/data/public/Logs"},
                      PathCase{"/data", "/data/public/Logs"},
                      PathCase{"C:/data/", "C:/data/public/Logs"},
                      PathCase{"/suite/bin/../", "/suite/public/Logs"},
                      PathCase{"/suite//./x/../y", "/suite/y/public/Logs"},
                      PathCase{"", "public/Logs"}, PathCase{"../up", "../up/public/Logs"},
                      // On this platform '\' is part of a name, not a separator.
                      PathCase{"D:\\suite\\bin\\..\\", "D:\\suite\\bin\\..\\/public/Logs"}));

TEST(NormalisedDirectory, IsIdempotent) {
    for (const char* configured : {"/a/./b/../c/", "rel//x", "", "/"}) {
        const auto once = normalisedDirectory(configured);
        EXPECT_EQ(normalisedDirectory(once), once) << configured;
    }
}

class CreateLogger : public ::testing::Test {
  protected:
    void TearDown() override { spdlog::drop_all(); }

    norvane::abap::config::G_Config configWith(std::optional<std::string> console,
                                               std::string level = "info",
                                               std::optional<std::string> flush = std::nullopt) {
        norvane::abap::config::G_Config config;
        config.settings.userdata = tree.root().string() + "/./data/";
        config.logging.level = std::move(level);
        config.logging.consolelevel = std::move(console);
        config.logging.flushlevel = std::move(flush);
        return config;
    }

    logreap::test::TempTree tree;
};

TEST_F(CreateLogger, WritesTheDailyFileAndRegistersItselfAsDefault) {
    const auto logger = createLogger(configWith(std::nullopt));
    EXPECT_EQ(logger->name(), "logreap");
    EXPECT_EQ(spdlog::get("logreap"), logger);
    EXPECT_EQ(spdlog::default_logger(), logger);
    ASSERT_EQ(logger->sinks().size(), 2u);
    EXPECT_EQ(logger->sinks()[1]->level(), spdlog::level::info);
    EXPECT_EQ(logger->flush_level(), spdlog::level::info);
    EXPECT_TRUE(fs::exists(tree / "data/public/Logs" / todaysLogFileName()));
}

// The log file's stream holds lines below the flush level back in a buffer
// of its own; a line at the flush level still writes all before it, whole
// and in order, well beyond what the buffer holds.
TEST_F(CreateLogger, FlushLevelWritesEveryLineHeldBack) {
    constexpr const char* kEol = spdlog::details::os::default_eol;
    const auto logger = createLogger(configWith("off", "debug"));
    const std::string filler(200, 'x');
    for (int line = 0; line < 1000; ++line) {
        logger->debug("line {} {}", line, filler);
    }
    logger->info("flushed");
    const std::string text = readFile(tree / "data/public/Logs" / todaysLogFileName());
    std::size_t at = 0;
    for (int line = 0; line < 1000; ++line) {
        at = text.find(fmt::format("] line {} {}{}", line, filler, kEol), at);
        ASSERT_NE(at, std::string::npos) << "line " << line;
    }
    EXPECT_TRUE(text.ends_with(fmt::format("] flushed{}", kEol)));
}

TEST_F(CreateLogger, ConsoleOffLeavesTheFileAlone) {
    const auto logger = createLogger(configWith("off"));
    EXPECT_EQ(logger->sinks().size(), 1u);
}

TEST_F(CreateLogger, LevelNamesFollowTheLoggingLibrary) {
    const auto logger = createLogger(configWith("warn", "verbose", "err"));
    EXPECT_EQ(logger->level(), spdlog::level::off);
    EXPECT_EQ(logger->flush_level(), spdlog::level::err);
    ASSERT_EQ(logger->sinks().size(), 2u);
    EXPECT_EQ(logger->sinks()[1]->level(), spdlog::level::warn);
}

TEST_F(CreateLogger, ConsoleLevelInAnotherCaseIsNotOffButPassesNothing) {
    const auto logger = createLogger(configWith("OFF"));
    ASSERT_EQ(logger->sinks().size(), 2u);
    EXPECT_EQ(logger->sinks()[1]->level(), spdlog::level::off);
}

}  // namespace
