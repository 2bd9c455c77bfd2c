// The fuzz target's seed corpus and the inputs it found, replayed through the
// same loading code on every test run; and the tool itself on a document that
// once made the TOML parser loop forever.
// support/ConfigDocument.cpp parses too, so a toml11 correction lost in either file fails here.

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Hardening.hpp"
#include "LoadDocument.hpp"

namespace fs = std::filesystem;
using logreap::fuzz::DocumentOutcome;
using logreap::fuzz::loadConfigDocument;
using logreap::hardening::Deadline;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

namespace logreap::fuzz {
void PrintTo(DocumentOutcome outcome, std::ostream* out) {
    constexpr const char* kNames[] = {"Loaded", "SyntaxError", "MissingKey", "WrongType"};
    *out << kNames[static_cast<int>(outcome)];
}
}  // namespace logreap::fuzz

namespace {

const fs::path kFuzzDirectory = fs::path(LOGREAP_SOURCE_DIR) / "fuzz";

std::vector<fs::path> filesIn(const fs::path& directory) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(directory)) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Seeds are named for what the loader makes of them.
DocumentOutcome expectedOutcome(const std::string& name) {
    if (name.rfind("valid-", 0) == 0) {
        return DocumentOutcome::Loaded;
    }
    if (name.rfind("missing-", 0) == 0) {
        return DocumentOutcome::MissingKey;
    }
    if (name.rfind("wrongtype-", 0) == 0) {
        return DocumentOutcome::WrongType;
    }
    return DocumentOutcome::SyntaxError;
}

TEST(ConfigCorpus, EverySeedHasTheOutcomeItsNameSays) {
    const auto seeds = filesIn(kFuzzDirectory / "corpus");
    ASSERT_GE(seeds.size(), 20u);
    for (const auto& seed : seeds) {
        const Deadline deadline(20);
        EXPECT_EQ(loadConfigDocument(logreap::test::readFile(seed)),
                  expectedOutcome(seed.filename().string()))
            << seed.filename();
    }
}

// Each of these once hung or crashed the parser; all are syntax errors.
TEST(ConfigCorpus, EveryRegressionInputEndsWithItsSyntaxError) {
    const auto inputs = filesIn(kFuzzDirectory / "regressions");
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) {
        const Deadline deadline(20);
        EXPECT_EQ(loadConfigDocument(logreap::test::readFile(input)), DocumentOutcome::SyntaxError)
            << input.filename();
    }
}

// A header comment saved in a Windows code page rather than UTF-8, followed by
// more comments: the tool reports the syntax error instead of hanging.
TEST(ConfigCorpus, ToolReportsTheSyntaxErrorOfAMalformedHeaderComment) {
    const logreap::test::TempTree tree;
    tree.file("suite/logs/old.log", logreap::test::kOld);
    logreap::test::writeFile(tree / "config.toml",
                             "# Suite configuration \xa9 Norvane\n# edited by hand\n\n" +
                                 logreap::test::configText(logreap::test::exampleConfig()));
    const Deadline deadline(30);
    const auto result = logreap::test::runLogreap({"-c", (tree / "config.toml").string()},
                                                  logreap::test::inDirectory(tree.root()));
    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.err,
                StartsWith("logreap: error: " + (tree / "config.toml").string() +
                           ": line 2, column 1: newline (LF / CRLF) or EOF is expected"));
    EXPECT_THAT(result.out, MatchesRegex("Total time: [0-9:.]+"));
    EXPECT_TRUE(fs::exists(tree / "suite/logs/old.log"));
}

}  // namespace
