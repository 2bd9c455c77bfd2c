// A configuration file that is broken where it holds a secret, or cannot be
// opened, on whole runs: the run stops with status 2 and an error that names
// the file, the place and the reason, and no secret of the file is on either
// stream, in a log file or in the text of the event a failed run leaves.

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include "FailureReport.hpp"
#endif

#include "support/Matchers.hpp"
#include "support/RunFixture.hpp"

namespace fs = std::filesystem;
using logreap::test::FullyMatches;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

enum class Opening { Possible, Missing, Refused, Directory };

struct ConfigError {
    std::string name;
    // The line `key = value` beneath `header` is rewritten with `value`, which
    // holds `secret`; the error lies `lineOffset` lines below it, at `column`.
    std::string header;
    std::string key;
    std::string value;
    std::string secret;
    int lineOffset = 0;
    int column = 0;
    // After the place, or after the file for one that cannot be opened.
    std::string reason;
    Opening opening = Opening::Possible;
};
void PrintTo(const ConfigError& c, std::ostream* os) {
    *os << c.name;
}

#ifdef _WIN32
// The system's words for the error the open meets (Wine's differ from Windows').
const std::string kNotFound = std::system_category().message(ERROR_FILE_NOT_FOUND);
const std::string kRefused = std::system_category().message(ERROR_SHARING_VIOLATION);
const std::string kDirectory = std::system_category().message(ERROR_ACCESS_DENIED);
#else
const std::string kNotFound = "No such file or directory";
const std::string kRefused = "Permission denied";
const std::string kDirectory = "Is a directory";
#endif

// The secrets of the example configuration, which every run holds.
const std::vector<std::string> kExampleSecrets{"0123456789abcdef0123456789abcdef",
                                               "abcdef9876543210", "change-me",
                                               "replace-with-the-agent-token", "proxy-password"};

// `text` with the line `key = ...` that follows `header` set to `key = value`;
// `line` is set to that line's number.
std::string rewritten(std::string text, const ConfigError& c, int& line) {
    const auto header = text.find("\n" + c.header + "\n");
    const auto start = text.find("\n" + c.key + " = ", header) + 1;
    if (header == std::string::npos || start == 0) {
        throw std::logic_error("no " + c.key + " beneath " + c.header);
    }
    line = static_cast<int>(std::count(text.begin(), text.begin() + start, '\n')) + 1;
    text.replace(start, text.find('\n', start) - start, c.key + " = " + c.value);
    return text;
}

class ConfigErrorRun : public logreap::test::RunFixture,
                       public ::testing::TestWithParam<ConfigError> {};

TEST_P(ConfigErrorRun, NamesThePlaceAndTheReasonButNoSecret) {
    const ConfigError& c = GetParam();
    fs::path file = tree / "config.toml";
    int line = 0;
    logreap::test::writeFile(file, rewritten(logreap::test::configText(config), c, line));
    logreap::test::ProcessOptions options = logreap::test::inDirectory(tree / "work");
    std::string expected = "logreap: error: " + file.string() + ": line " +
                           std::to_string(line + c.lineOffset) + ", column " +
                           std::to_string(c.column) + ": " + c.reason + "\n";
#ifdef _WIN32
    HANDLE held = INVALID_HANDLE_VALUE;  // open without sharing: the tool's open is refused
#endif
    if (c.opening == Opening::Missing) {
        file = tree / "absent.toml";
    } else if (c.opening == Opening::Directory) {
        file = tree.dir("config.toml.d");
    } else if (c.opening == Opening::Refused) {
#ifdef _WIN32
        held = ::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
#else
        fs::permissions(file, fs::perms::none);
        options.uid = logreap::test::unprivilegedUid();  // root would read it all the same
        logreap::test::chownTree(tree.root(), *options.uid);
#endif
    }
    if (c.opening != Opening::Possible) {
        expected = "logreap: error: toml::parse: error opening file \"" + file.string() +
                   "\": " + c.reason + "\n";
    }

    const auto result = logreap::test::runLogreap({"-c", file.string()}, options);
#ifdef _WIN32
    ::CloseHandle(held);
#endif

    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.out, FullyMatches("Total time: [0-9:.]+"));
    EXPECT_THAT(result.err, StartsWith(expected));  // further syntax errors may follow
    EXPECT_FALSE(fs::exists(logFile()));            // the configuration comes before the log file
    std::vector<std::string> secrets = kExampleSecrets;
    if (!c.secret.empty()) {
        secrets.push_back(c.secret);
    }
    for (const auto& secret : secrets) {
        EXPECT_THAT(result.out + result.err, Not(HasSubstr(secret)));
    }
#ifdef _WIN32
    // failRun hands the event report what it writes to standard error, less
    // the line end; this is the insertion string the event receives.
    const std::wstring event =
        norvane::abap::eventLogText(std::string_view(result.err).substr(0, result.err.size() - 1));
    EXPECT_NE(event.find(file.native()), std::wstring::npos);
    for (const auto& secret : secrets) {  // ASCII all
        EXPECT_EQ(event.find(std::wstring(secret.begin(), secret.end())), std::wstring::npos)
            << secret;
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Secrets, ConfigErrorRun,
    ::testing::Values(
        // Syntax errors: the library would quote the line, or several.
        ConfigError{"KeyBadEscape", "[settings]", "key", R"("S3cr3t\q-key")", "S3cr3t", 0, 14,
                    R"(invalid string format: expected ")"},
        ConfigError{"IvUnterminated", "[settings]", "iv", R"("S3cr3t-iv)", "S3cr3t-iv", 0, 16,
                    R"(invalid string format: expected ")"},
        ConfigError{"RfcPasswordUnquoted", "[[rfc]]", "password", "S3cr3t-rfc", "S3cr3t-rfc", 0, 12,
                    "bad format: unknown value appeared: here"},
        ConfigError{"TokenMultiLineBadEscape", "[norvane]", "token",
                    "\"\"\"first line\nS3cr3t\\q-token\"\"\"", "S3cr3t", 1, 7,
                    R"(invalid string format: expected """)"},
        ConfigError{"ProxyPasswordInlineTableTrailingComma", "[proxy]", "password",
                    R"({ value = "S3cr3t-proxy", })", "S3cr3t-proxy", 0, 38,
                    "trailing comma is not allowed in TOML-v1.0.0): here"},
        // Values of another type: the library would quote the value, all its lines.
        ConfigError{"KeyInteger", "[settings]", "key", "0xDEADBEEF", "DEADBEEF", 0, 7,
                    R"(key "key": expected string, found integer)"},
        ConfigError{"IvMultiLineArray", "[settings]", "iv",
                    "[\n    \"S3cr3t-iv-1\",\n    \"S3cr3t-iv-2\",\n]", "S3cr3t-iv", 0, 6,
                    R"(key "iv": expected string, found array)"},
        ConfigError{"RfcPasswordInlineTable", "[[rfc]]", "password", R"({ value = "S3cr3t-rfc" })",
                    "S3cr3t-rfc", 0, 12, R"(key "password": expected string, found table)"},
        ConfigError{"TokenArrayOfMultiLineString", "[norvane]", "token",
                    "[\"\"\"S3cr3t-token\nsecond line\"\"\"]", "S3cr3t-token", 0, 9,
                    R"(key "token": expected string, found array)"},
        ConfigError{"ProxyPasswordFloat", "[proxy]", "password", "1234.5678", "1234.5678", 0, 12,
                    R"(key "password": expected string, found floating)"},
        // Files that cannot be opened.
        ConfigError{"Missing", "[settings]", "key", R"("unused")", "", 0, 0, kNotFound,
                    Opening::Missing},
        ConfigError{"Refused", "[settings]", "key", R"("unused")", "", 0, 0, kRefused,
                    Opening::Refused},
        ConfigError{"Directory", "[settings]", "key", R"("unused")", "", 0, 0, kDirectory,
                    Opening::Directory}),
    [](const auto& info) { return info.param.name; });

}  // namespace
