#include <filesystem>

#include <gtest/gtest.h>

#include "LogPaths.hpp"

namespace fs = std::filesystem;
using norvane::abap::normalisedDirectory;
using norvane::abap::publicLogsPath;

namespace {

// Every '/' becomes '\', after the lexical normalisation.
TEST(WindowsSeparators, ForwardSlashesBecomeBackslashes) {
    EXPECT_EQ(normalisedDirectory(L"C:/data/").native(), L"C:\\data\\");
    EXPECT_EQ(publicLogsPath(L"C:/data/").native(), L"C:\\data\\public\\Logs");
    EXPECT_EQ(normalisedDirectory(L"C:/data/a/./b//c").native(), L"C:\\data\\a\\b\\c");
}

TEST(WindowsSeparators, DotDotElementsAreResolvedLexically) {
    EXPECT_EQ((normalisedDirectory(L"D:\\suite\\bin\\..\\") / "logs").native(), L"D:\\suite\\logs");
    EXPECT_EQ(normalisedDirectory(L"D:/suite/bin/../").native(), L"D:\\suite\\");
    EXPECT_EQ(normalisedDirectory(L"..\\data\\..\\other").native(), L"..\\other");
    EXPECT_EQ(publicLogsPath(L"C:\\data\\x\\..").native(), L"C:\\data\\public\\Logs");
}

TEST(WindowsSeparators, EmptyAndRelativeDirectories) {
    EXPECT_EQ(publicLogsPath(L"").native(), L"public\\Logs");
    EXPECT_EQ((normalisedDirectory(L"") / "logs").native(), L"logs");
    EXPECT_EQ(publicLogsPath(L"a/b").native(), L"a\\b\\public\\Logs");
}

// A network share keeps its "\\server" root; only the rest is normalised.
TEST(WindowsSeparators, UncPathsKeepTheirDoubleSeparator) {
    EXPECT_EQ(normalisedDirectory(L"//server/share/logs/").native(), L"\\\\server\\share\\logs\\");
    EXPECT_EQ((normalisedDirectory(L"\\\\server\\share\\bin\\..") / "logs").native(),
              L"\\\\server\\share\\logs");
    EXPECT_EQ(publicLogsPath(L"\\\\nas\\data").native(), L"\\\\nas\\data\\public\\Logs");
}

// The narrow text of a path, as the messages show it, is UTF-8.
TEST(WindowsSeparators, NarrowTextIsUtf8) {
    const fs::path path = normalisedDirectory(L"C:/Daten/\u00c4rger/\u65e5\u672c");
    EXPECT_EQ(path.string(), "C:\\Daten\\\xc3\x84rger\\\xe6\x97\xa5\xe6\x9c\xac");
}

}  // namespace
