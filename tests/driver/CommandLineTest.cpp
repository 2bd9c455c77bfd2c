// The command line as a user meets it: the built binary, its streams and status.

#include <regex>
#include <string>
#include <system_error>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/ConfigDocument.hpp"
#include "support/Matchers.hpp"
#include "support/Process.hpp"
#include "support/TempTree.hpp"

using logreap::test::FullyMatches;
using logreap::test::inDirectory;
using logreap::test::runLogreap;
using logreap::test::TempTree;
using ::testing::ElementsAre;

namespace {

const std::string kUsage =
    "usage: logreap [-h] [--config PATH]\n"
    "  -h, --help         show this help message and exit\n"
    "  -c, --config PATH  path to the config file\n";
const std::string kTotalTime = "Total time: [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\\.[0-9][0-9][0-9]";
const toml::table kQuiet{{"level", "info"}, {"consolelevel", "off"}};  // nothing on the console

class CommandLine : public ::testing::Test {
  protected:
    TempTree tree;
    std::filesystem::path work = tree.dir("work");
};

TEST_F(CommandLine, HelpPrintsUsageAndTimeWithoutTouchingAnything) {
    for (const char* help : {"-h", "--help", "--he"}) {
        const auto result = runLogreap({help}, inDirectory(work));
        EXPECT_EQ(result.status, 0);
        ASSERT_EQ(result.out.substr(0, kUsage.size()), kUsage);
        // Well under a minute: the run's own time, not a clock reading.
        EXPECT_THAT(result.out.substr(kUsage.size()),
                    FullyMatches("Total time: 00:00:[0-9][0-9]\\.[0-9][0-9][0-9]"));
        EXPECT_EQ(result.err, "");
    }
    EXPECT_THAT(tree.listing(), ElementsAre("work/"));
}

// On one stream for both, as a terminal or a scheduler's log shows them, the
// time comes before the error whichever way the run fails.
TEST_F(CommandLine, TimeComesBeforeTheErrorOnOneStream) {
    auto options = inDirectory(work);
    options.errorsToOutput = true;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--bogus"}, std::vector<std::string>{"-c", "missing.toml"}}) {
        const auto result = runLogreap(args, options);
        EXPECT_THAT(result.out,
                    FullyMatches(kTotalTime + "(Command line error|logreap: error): [\\s\\S]*"));
    }
}

struct ErrorCase {
    std::vector<std::string> args;
    std::string message;
};

class CommandLineErrors : public CommandLine, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(CommandLineErrors, PrintTheTimeThenTheErrorAndTheHint) {
    const auto result = runLogreap(GetParam().args, inDirectory(work));
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.out, FullyMatches(kTotalTime));
    EXPECT_EQ(result.err, "Command line error: " + GetParam().message +
                              "\nRun logreap --help for usage information\n");
}

INSTANTIATE_TEST_SUITE_P(
    Library, CommandLineErrors,
    ::testing::Values(
        ErrorCase{{"--help", "--bogus"}, "unrecognised option '--bogus'"},
        ErrorCase{{"extra"}, "too many positional options have been specified on the command line"},
        ErrorCase{{"-c", "a.toml", "--config", "b.toml"},
                  "option '--config' cannot be specified more than once"},
        ErrorCase{{"--config"}, "the required argument for option '--config' is missing"},
        ErrorCase{{"-c", "\"unterminated"},
                  "the argument ('\"unterminated') for option '--config' is invalid"},
        ErrorCase{{"-c", "\"a\"b"}, "the argument ('\"a\"b') for option '--config' is invalid"},
        ErrorCase{{"-c", ""}, "the argument for option '--config' is invalid"}));

// Every spelling of the option selects the file; a value with blanks is the
// path whole, and a quoted one still reads as before.
class ConfigOption : public CommandLine,
                     public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(ConfigOption, SelectsTheFile) {
    const auto config = logreap::test::runConfig((tree / "install").string(),
                                                 (tree / "user data").string(), kQuiet);
    logreap::test::writeConfig(work / "x.toml", config);
    tree.dir("work/my files");
    logreap::test::writeConfig(work / "my files/config.toml", config);

    const auto result = runLogreap(GetParam(), inDirectory(work));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out, FullyMatches(kTotalTime));
    EXPECT_EQ(result.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, ConfigOption,
    ::testing::Values(
        std::vector<std::string>{"--config=x.toml"}, std::vector<std::string>{"--config", "x.toml"},
        std::vector<std::string>{"-c", "x.toml"}, std::vector<std::string>{"-cx.toml"},
        std::vector<std::string>{"--conf", "x.toml"}, std::vector<std::string>{"-c", "\"x.toml\""},
        std::vector<std::string>{"-c", "my files/config.toml"},
        std::vector<std::string>{"--config=my files/config.toml"},
        std::vector<std::string>{"-c", "\"my files/config.toml\""}));

TEST_F(CommandLine, DefaultConfigIsFoundFromTheWorkingDirectory) {
    tree.dir("config");
    logreap::test::writeConfig(
        tree / "config/config.toml",
        logreap::test::runConfig((tree / "install").string(), (tree / "data").string(), kQuiet));

    EXPECT_EQ(runLogreap({}, inDirectory(work)).status, 0);

    const auto elsewhere = runLogreap({}, inDirectory(tree.root()));
    EXPECT_EQ(elsewhere.status, 2);
    EXPECT_THAT(elsewhere.out, FullyMatches(kTotalTime));
#ifdef _WIN32
    const std::string reason = std::system_category().message(3);  // ERROR_PATH_NOT_FOUND
#else
    const std::string reason = "No such file or directory";
#endif
    EXPECT_EQ(elsewhere.err,
              "logreap: error: toml::parse: error opening file \"../config/config.toml\": " +
                  reason + "\n");
}

}  // namespace
