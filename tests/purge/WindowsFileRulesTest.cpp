// How the Windows file-tree layer reads listings, times and paths; plain
// arithmetic, so every build runs these.

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "detail/WindowsFileRules.hpp"

using namespace norvane::abap::filetree;
using namespace norvane::abap::filetree::windows;
using Clock = std::chrono::system_clock;

namespace {

struct ListingCase {
    const char* name;
    std::uint32_t attributes;
    std::uint32_t tag;
    Listed expected;
};

class ListingKind : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ListingKind, DescendsOnlyIntoRealDirectories) {
    EXPECT_EQ(listedKind(GetParam().attributes, GetParam().tag), GetParam().expected);
}

constexpr std::uint32_t kDir = kAttributeDirectory;
constexpr std::uint32_t kReparse = kAttributeReparsePoint;

INSTANTIATE_TEST_SUITE_P(
    Tags, ListingKind,
    ::testing::Values(
        ListingCase{"Directory", kDir, 0, Listed::directory},
        ListingCase{"File", 0x20, 0, Listed::other},
        ListingCase{"SymbolicLinkToDirectory", kDir | kReparse, 0xA000000C, Listed::link},
        ListingCase{"Junction", kDir | kReparse, 0xA0000003, Listed::link},
        ListingCase{"TagNotReported", kDir | kReparse, 0, Listed::link},
        ListingCase{"FileSymbolicLink", kReparse, 0xA000000C, Listed::link},
        ListingCase{"CloudPlaceholderFolder", kDir | kReparse, 0x9000001A, Listed::directory},
        ListingCase{"DeduplicatedFile", kReparse, 0x80000013, Listed::other}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FileTime, ConvertsExactlyAtTheCutoff) {
    constexpr std::int64_t kUnixEpoch = 116'444'736'000'000'000;
    EXPECT_EQ(fileTimeToSystemClock(kUnixEpoch), Clock::time_point{});
    // 2024-03-31 00:00:00 UTC plus 1234567 ticks: every 100 ns tick counts.
    const Clock::time_point day{std::chrono::sys_days{std::chrono::March / 31 / 2024}};
    const std::int64_t ticks = kUnixEpoch + 19'813LL * 864'000'000'000 + 1'234'567;
    const auto exact = day + std::chrono::nanoseconds(123'456'700);
    EXPECT_EQ(fileTimeToSystemClock(ticks), exact);
    EXPECT_LT(fileTimeToSystemClock(ticks - 1), exact);
    EXPECT_GT(fileTimeToSystemClock(ticks + 1), exact);
}

TEST(FileTime, SaturatesBeyondTheClocksRange) {
    EXPECT_EQ(fileTimeToSystemClock(std::numeric_limits<std::int64_t>::max()),
              Clock::time_point::max());
    EXPECT_EQ(fileTimeToSystemClock(std::numeric_limits<std::int64_t>::min()),
              Clock::time_point::min());
}

struct PrefixCase {
    const char* name;
    const wchar_t* full;
    const wchar_t* expected;
};

class ExtendedLength : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(ExtendedLength, PrefixesEveryFullPath) {
    EXPECT_EQ(withExtendedLengthPrefix(GetParam().full), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ExtendedLength,
    ::testing::Values(
        PrefixCase{"Drive", L"C:\\Norvane\\public\\Logs", L"\\\\?\\C:\\Norvane\\public\\Logs"},
        PrefixCase{"DriveWithSlashes", L"D:/data/public/Logs", L"\\\\?\\D:\\data\\public\\Logs"},
        PrefixCase{"Unc", L"\\\\server\\share\\logs", L"\\\\?\\UNC\\server\\share\\logs"},
        PrefixCase{"AlreadyExtended", L"\\\\?\\C:\\logs", L"\\\\?\\C:\\logs"},
        PrefixCase{"Device", L"\\\\.\\C:\\logs", L"\\\\.\\C:\\logs"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
