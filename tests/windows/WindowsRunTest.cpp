// Whole runs of logreap.exe on a scratch tree: Windows paths in every message.

#include <filesystem>
#include <string>
#include <system_error>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/Process.hpp"
#include "support/SampleConfig.hpp"
#include "support/TempTree.hpp"

namespace fs = std::filesystem;
using namespace logreap::test;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr std::chrono::hours kOld{24 * 20};

class WindowsRun : public ::testing::Test {
  protected:
    TempTree tree;
    // The root with forward slashes, as a configuration written by hand may have it.
    std::string generic = tree.root().generic_string();
    std::string native = tree.root().string();

    ProcessResult run() {
        SampleConfig config;
        config.userdata = generic + "/data/";
        config.install = native + "\\suite\\bin\\..\\";
        config.logging = "level = \"debug\"\nconsolelevel = \"debug\"\n";
        writeConfig(tree / "config.toml", config);
        tree.dir("work");
        return runLogreap({"-c", (tree / "config.toml").string()}, inDirectory(tree / "work"));
    }
};

TEST_F(WindowsRun, PurgesBothTreesWithBackslashesInEveryMessage) {
    tree.file("data/public/Logs/old.log", kOld);
    tree.file("data/public/Logs/new.log");
    tree.file("suite/logs/a/b/old.txt", kOld);

    const auto result = run();
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string userLogs = native + "\\data\\public\\Logs";
    const std::string installLogs = native + "\\suite\\logs";
    EXPECT_THAT(result.out, HasSubstr("Purging logs older than 14 day(s) and 00:00:00 in the '" +
                                      userLogs + "' and '" + installLogs + "' directories"));
    EXPECT_THAT(result.out, HasSubstr("Deleting log file: " + userLogs + "\\old.log"));
    EXPECT_THAT(result.out, HasSubstr("Deleting log file: " + installLogs + "\\a\\b\\old.txt"));
    EXPECT_THAT(result.out,
                HasSubstr("Successfully removed directory: '" + installLogs + "\\a\\b'"));
    EXPECT_THAT(result.out, HasSubstr("Successfully removed directory: '" + installLogs + "\\a'"));
    EXPECT_THAT(result.out, Not(HasSubstr("/")));
    EXPECT_THAT(result.out, HasSubstr("Total time: "));

    EXPECT_FALSE(fs::exists(tree / "data/public/Logs/old.log"));
    EXPECT_TRUE(fs::exists(tree / "data/public/Logs/new.log"));
    EXPECT_FALSE(fs::exists(tree / "suite/logs/a"));
    EXPECT_TRUE(fs::is_directory(tree / "suite/logs"));
}

TEST_F(WindowsRun, WritesTheDailyLogFileWithTheSameMessages) {
    const auto result = run();
    ASSERT_EQ(result.status, 0) << result.err;
    std::string logText;
    for (const auto& entry : fs::directory_iterator(tree / "data/public/Logs")) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.rfind("logreap_", 0), 0U) << name;
        EXPECT_EQ(entry.path().extension(), ".log");
        logText += readFile(entry.path());
    }
    EXPECT_THAT(logText, HasSubstr("[info] [thread "));
    EXPECT_THAT(logText, HasSubstr("Log purge operation completed"));
    EXPECT_THAT(logText, HasSubstr("in the '" + native + "\\data\\public\\Logs' and"));
}

// A link to a directory is removed itself, never walked into.
TEST_F(WindowsRun, DirectoryLinkIsRemovedNotFollowed) {
    tree.file("elsewhere/keep.log", kOld);
    std::error_code ec;
    fs::create_directory_symlink(tree / "elsewhere", tree / "data/public/Logs/link", ec);
    if (ec) {
        // Creating one needs a privilege that not every system grants.
        GTEST_SKIP() << "directory symbolic links cannot be created here: " << ec.message();
    }
    const auto result = run();
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out, Not(HasSubstr("keep.log")));
    EXPECT_THAT(result.out, HasSubstr("Successfully removed directory: '" + native +
                                      "\\data\\public\\Logs\\link'"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree / "data/public/Logs/link")));
    EXPECT_TRUE(fs::exists(tree / "elsewhere/keep.log"));
}

TEST(WindowsCommandLine, HelpAndErrors) {
    const auto help = runLogreap({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("usage: logreap [-h] [--config PATH]\n"));
    EXPECT_THAT(help.out, HasSubstr("Total time: 00:00:"));

    const auto bogus = runLogreap({"--help", "--bogus"});
    EXPECT_EQ(bogus.status, 1);
    EXPECT_EQ(bogus.err,
              "Command line error: unrecognised option '--bogus'\n"
              "Run logreap --help for usage information\n");
}

}  // namespace
