// Whole purges, in this process, on trees where the system answers as real
// Windows volumes do and Wine does not (Interposer.hpp): FAT, ReFS, network
// shares and links to them, names that no UTF-8 can hold, POSIX deletion.
// Every open the layer makes is checked on the way.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/spdlog.h>

#include "Interposer.hpp"
#include "Logger.hpp"
#include "Purge.hpp"
#include "support/TempTree.hpp"

namespace fs = std::filesystem;
using logreap::test::SystemAnswers;

namespace {

struct RunCase {
    const char* name;
    SystemAnswers answers;
    DWORD raised;                   // the error the purge ends with, or 0
    std::vector<std::string> left;  // beneath logs/, its own log file aside
    const char* shown = "";         // in a message
};

void PrintTo(const RunCase& c, std::ostream* out) {
    *out << c.name;
}

class InterposedRun : public ::testing::TestWithParam<RunCase> {
  protected:
    void TearDown() override { spdlog::drop_all(); }
    logreap::test::TempTree tree;
};

// A retention of -1 day makes every file old. logs/sub/held.log is held open by
// another program that lets it be deleted: only a POSIX deletion takes its name
// away before that program closes it, so that sub/ can go in the same run.
TEST_P(InterposedRun, MeetsWhatWindowsAnswers) {
    const auto& c = GetParam();
    const fs::path logs = tree.dir("logs");
    for (const char* name : {"logs/old.log", "logs/remote.log", "logs/name~.log"}) {
        tree.file(name, std::chrono::hours(24 * 30));
    }
    const fs::path held = tree.file("logs/sub/held.log", std::chrono::hours(24 * 30));
    auto logger =
        spdlog::daily_logger_mt(norvane::abap::kLoggerName, (logs / "logreap.log").string());
    logger->set_level(spdlog::level::debug);
    const fs::path ownLog = norvane::abap::currentLogFile(*logger).value();
    const HANDLE holder = ::CreateFileW(held.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    SystemAnswers answers = c.answers;
    answers.trash = tree.dir("trash").native();

    std::error_code raised;
    logreap::test::arm(answers);
    try {
        norvane::abap::pruneLogDirectory(logs, -1);
    } catch (const std::system_error& error) {
        raised = error.code();
    }
    logreap::test::disarm();
    ::CloseHandle(holder);
    logger->flush();

    EXPECT_EQ(raised.value(), static_cast<int>(c.raised)) << raised.message();
    std::vector<std::string> left;
    for (const auto& entry : tree.listing()) {
        if (entry.starts_with("logs/") && entry != "logs/" &&
            entry != "logs/" + ownLog.filename().string()) {
            left.push_back(entry);
        }
    }
    EXPECT_EQ(left, c.left);
    EXPECT_TRUE(fs::exists(ownLog));
    EXPECT_THAT(logreap::test::readFile(ownLog), ::testing::HasSubstr(c.shown));
    for (const auto& open : logreap::test::recordedOpens()) {
        // A listing needs no right to traverse, which an account granted Read lacks.
        EXPECT_FALSE((open.access & FILE_LIST_DIRECTORY) != 0 &&
                     (open.access & FILE_TRAVERSE) != 0);
        // What is removed is never reached through a link; what a link leads to
        // may identify the tool's account, never act as it.
        EXPECT_TRUE((open.access & DELETE) == 0 || open.linkItself);
        EXPECT_TRUE(open.linkItself || open.identificationOnly);
    }
}

const std::vector<std::string> kEverything{"logs/name~.log", "logs/old.log", "logs/remote.log",
                                           "logs/sub/", "logs/sub/held.log"};

INSTANTIATE_TEST_SUITE_P(
    Volumes, InterposedRun,
    ::testing::Values(
        RunCase{"FatRefusesTheTagQuery", {.tagRefused = true}, 0, {"logs/sub/"}},
        RunCase{"ShareRemoved", {.pathError = ERROR_BAD_NET_NAME}, ERROR_BAD_NET_NAME, kEverything},
        RunCase{"LinkToAServerThatIsGone",
                {.unreachable = L"remote.log",
                 .unreachableStatus = static_cast<NTSTATUS>(0xC00000C9)},  // NETNAME_DELETED
                0,
                {"logs/remote.log", "logs/sub/"}},
        RunCase{"ReFsIndexNotUnique", {.fileIndex = 7}, 0, {"logs/sub/"}},
        RunCase{"NoFileIds", {.fileIdZero = true, .fileIndex = 0}, 0, {"logs/sub/"}},
        RunCase{"FileIdInfoRefused", {.fileIdRefused = true}, 0, {"logs/sub/"}},
        RunCase{"PosixDeletion", {.posixDeletion = true}, 0, {}},
        RunCase{"PosixDeletionWithoutReadOnlyFlag",
                {.posixDeletion = true, .readOnlyFlagUnknown = true},
                0,
                {}},
        RunCase{"UnpairedSurrogate",
                {.loneSurrogateFor = L'~'},
                0,
                {"logs/sub/"},
                "logs\\name\\u{D800}.log"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
