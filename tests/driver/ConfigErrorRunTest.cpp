// A configuration file broken where it holds a secret, or one that cannot be
// opened, on whole runs: status 2, an error that names the file, the place and
// the reason, and no secret on either stream, in a log file or in the event.

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
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
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

enum class Opening { Possible, Missing, Refused, Directory };

// A line of the example replaced by `broken`, which holds `secret`; the error
// lies `lineOffset` lines below that line, at `column`.
struct ConfigError {
    std::string name, line, broken, secret;
    int lineOffset, column;
    std::string reason;
    Opening opening = Opening::Possible;
};
void PrintTo(const ConfigError& c, std::ostream* os) {
    *os << c.name;
}

const std::string kKey = R"(key = "0123456789abcdef0123456789abcdef")";
const std::string kIv = R"(iv = "abcdef9876543210")";
const std::string kRfcPassword = R"(password = "change-me")";  // the first [[rfc]]'s
const std::string kToken = R"(token = "replace-with-the-agent-token")";
const std::string kProxyPassword = R"(password = "proxy-password")";
const std::vector<std::string> kSecrets{"0123456789abcdef0123456789abcdef", "abcdef9876543210",
                                        "change-me", "replace-with-the-agent-token",
                                        "proxy-password"};  // all the example holds
#ifdef _WIN32  // the system's words for the error each open meets (Wine's are its own)
const std::string kNotFound = std::system_category().message(ERROR_FILE_NOT_FOUND);
const std::string kRefused = std::system_category().message(ERROR_SHARING_VIOLATION);
const std::string kDirectory = std::system_category().message(ERROR_ACCESS_DENIED);
#else
const std::string kNotFound = "No such file or directory";
const std::string kRefused = "Permission denied";
const std::string kDirectory = "Is a directory";
#endif

class ConfigErrorRun : public logreap::test::RunFixture,
                       public ::testing::TestWithParam<ConfigError> {};

TEST_P(ConfigErrorRun, NamesThePlaceAndTheReasonButNoSecret) {
    const ConfigError& c = GetParam();
    std::string text = logreap::test::configText(config);
    const auto at = text.find(c.line);  // 0 for the files that cannot be opened
    ASSERT_NE(at, std::string::npos);
    text.replace(at, c.line.size(), c.broken);
    logreap::test::writeFile(tree / "config.toml", text);
    const fs::path file = c.opening == Opening::Missing     ? tree / "absent.toml"
                          : c.opening == Opening::Directory ? tree.dir("config.toml.d")
                                                            : tree / "config.toml";
    const auto line = std::count(text.begin(), text.begin() + at, '\n') + 1 + c.lineOffset;
    const std::string expected =
        c.opening == Opening::Possible
            ? file.string() + ": line " + std::to_string(line) + ", column " +
                  std::to_string(c.column) + ": " + c.reason
            : "toml::parse: error opening file \"" + file.string() + "\": " + c.reason;
    auto options = logreap::test::inDirectory(tree / "work");
#ifdef _WIN32
    // Held open without sharing for the run, the file is refused to the tool.
    const HANDLE held =
        c.opening == Opening::Refused
            ? ::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
            : nullptr;
#else
    if (c.opening == Opening::Refused) {  // root reads it all the same
        fs::permissions(file, fs::perms::none);
        options.uid = logreap::test::unprivilegedUid();
        logreap::test::chownTree(tree.root(), *options.uid);
    }
#endif

    const auto result = logreap::test::runLogreap({"-c", file.string()}, options);

    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.out, logreap::test::FullyMatches("Total time: [0-9:.]+"));
    EXPECT_THAT(result.err, StartsWith("logreap: error: " + expected + "\n"));  // more may follow
    EXPECT_FALSE(fs::exists(logFile()));  // nothing is logged before the configuration is loaded
    std::string seen = result.out + result.err;
#ifdef _WIN32
    if (held != nullptr) {
        ::CloseHandle(held);
    }
    // failRun hands the event report its standard error text, less the line end.
    const std::wstring event =
        norvane::abap::eventLogText(result.err.substr(0, result.err.size() - 1));
    const std::string narrowed(event.begin(), event.end());  // what is sought is ASCII
    EXPECT_THAT(narrowed, HasSubstr(expected));
    seen += narrowed;
#endif
    for (const auto& secret : kSecrets) {
        EXPECT_THAT(seen, Not(HasSubstr(secret)));
    }
    if (!c.secret.empty()) {
        EXPECT_THAT(seen, Not(HasSubstr(c.secret)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Secrets, ConfigErrorRun,
    ::testing::Values(
        // Syntax errors, which the library shows with the line or lines.
        ConfigError{"KeyBadEscape", kKey, R"(key = "S3cr3t\q")", "S3cr3t", 0, 14,
                    R"(invalid string format: expected ")"},
        ConfigError{"IvUnterminated", kIv, R"(iv = "S3cr3t-iv)", "S3cr3t", 0, 16,
                    R"(invalid string format: expected ")"},
        ConfigError{"RfcPasswordUnquoted", kRfcPassword, "password = S3cr3t", "S3cr3t", 0, 12,
                    "bad format: unknown value appeared: here"},
        ConfigError{"TokenMultiLineBadEscape", kToken, "token = \"\"\"first\nS3cr3t\\q\"\"\"",
                    "S3cr3t", 1, 7, R"(invalid string format: expected """)"},
        ConfigError{"ProxyPasswordInlineTableTrailingComma", kProxyPassword,
                    R"(password = { value = "S3cr3t", })", "S3cr3t", 0, 32,
                    "trailing comma is not allowed in TOML-v1.0.0): here"},
        // Values of another type, which the library shows whole, on every line.
        ConfigError{"KeyInteger", kKey, "key = 0xDEADBEEF", "DEADBEEF", 0, 7,
                    R"(key "key": expected string, found integer)"},
        ConfigError{"IvMultiLineArray", kIv, "iv = [\n  \"S3cr3t-1\",\n  \"S3cr3t-2\",\n]",
                    "S3cr3t", 0, 6, R"(key "iv": expected string, found array)"},
        ConfigError{"RfcPasswordInlineTable", kRfcPassword, R"(password = { value = "S3cr3t" })",
                    "S3cr3t", 0, 12, R"(key "password": expected string, found table)"},
        ConfigError{"TokenArrayOfMultiLineString", kToken, "token = [\"\"\"S3cr3t\nmore\"\"\"]",
                    "S3cr3t", 0, 9, R"(key "token": expected string, found array)"},
        ConfigError{"ProxyPasswordFloat", kProxyPassword, "password = 1234.5678", "1234.5678", 0,
                    12, R"(key "password": expected string, found floating)"},
        // Files that cannot be opened.
        ConfigError{"Missing", "", "", "", 0, 0, kNotFound, Opening::Missing},
        ConfigError{"Refused", "", "", "", 0, 0, kRefused, Opening::Refused},
        ConfigError{"Directory", "", "", "", 0, 0, kDirectory, Opening::Directory}),
    [](const auto& info) { return info.param.name; });

}  // namespace
