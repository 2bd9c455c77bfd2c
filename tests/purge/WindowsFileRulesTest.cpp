// How the Windows file-tree layer reads listings, times, paths and failures,
// and how it opens and removes; plain arithmetic, so every build runs these.

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
    Kind expected;
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
        ListingCase{"Directory", kDir, 0, Kind::directory},
        ListingCase{"File", 0x20, 0, Kind::unknown},
        ListingCase{"SymbolicLinkToDirectory", kDir | kReparse, 0xA000000C, Kind::link},
        ListingCase{"Junction", kDir | kReparse, 0xA0000003, Kind::link},
        ListingCase{"TagNotReported", kDir | kReparse, 0, Kind::link},
        ListingCase{"FileSymbolicLink", kReparse, 0xA000000C, Kind::link},
        ListingCase{"CloudPlaceholderFolder", kDir | kReparse, 0x9000001A, Kind::directory},
        ListingCase{"DeduplicatedFile", kReparse, 0x80000013, Kind::unknown}),
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

// How each failure reads: gone for an entry, absent for a status query (which
// follows links), not found for the purge directory's path as the platform's
// library reads it, and whether a refused removal open is tried again without
// writing attributes.
struct FailureCase {
    const char* name;
    Failure failure;
    bool gone;
    bool statusAbsent;
    bool notFound;
    bool opensAgain;
};

class FailureReading : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureReading, OnlyTrueAbsenceIsGone) {
    const auto& c = GetParam();
    EXPECT_EQ(isGone(c.failure), c.gone);
    EXPECT_EQ(readsAbsent(c.failure), c.statusAbsent);
    EXPECT_EQ(isFileNotFound(c.failure.error), c.notFound);
    EXPECT_EQ(opensAgainWithoutWriting(c.failure), c.opensAgain);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FailureReading,
    ::testing::Values(
        FailureCase{"NameNotFound", {0xC0000034, 2}, true, true, true, false},
        FailureCase{"PathNotFound", {0xC000003A, 3}, true, true, true, false},
        FailureCase{"DeletePending", {kStatusDeletePending, 5}, true, true, false, false},
        FailureCase{"AccessDenied", {kStatusAccessDenied, 5}, false, false, false, true},
        FailureCase{"DeniedWithoutStatus", {0, 5}, false, false, false, false},
        FailureCase{"NotADirectory", {0xC0000103, 267}, false, true, true, false},
        FailureCase{"InvalidName", {0xC0000033, 123}, false, true, true, false},
        FailureCase{"BadNetPath", {0xC00000BE, 53}, false, true, true, false},
        FailureCase{"NetNameDeleted", {0xC00000C9, 64}, false, true, true, false},
        FailureCase{"BadNetName", {0xC00000CC, 67}, false, false, false, false},
        FailureCase{"InvalidDrive", {0, 15}, false, false, false, false},
        FailureCase{"SharingViolation", {0xC0000043, 32}, false, false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Listing, EndsOnlyWhereTheSystemSaysItEnds) {
    EXPECT_TRUE(endsListing(kErrorNoMoreFiles, false));
    EXPECT_TRUE(endsListing(kErrorNoMoreFiles, true));
    EXPECT_TRUE(endsListing(kErrorFileNotFound, true));  // a root without "." and ".."
    EXPECT_FALSE(endsListing(kErrorFileNotFound, false));
    for (const std::uint32_t error : {kErrorAccessDenied, 1117U /* I/O */, 59U /* network */}) {
        EXPECT_FALSE(endsListing(error, true)) << error;
    }
}

// After FileDispositionInfoEx is refused with `error`, on a file of
// `attributes`: whether the classic disposition is tried, and whether its
// refusal with the same code clears the read-only attribute for a retry.
struct RefusalCase {
    const char* name;
    std::uint32_t error;
    std::uint32_t attributes;
    bool writesAttributes;
    bool fallsBack;
    bool clearsReadOnly;
};

class RemovalRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RemovalRefusal, FallsBackOnlyWhereThePosixRemovalIsUnknown) {
    const auto& c = GetParam();
    EXPECT_EQ(fallsBackToClassicDisposition(c.error), c.fallsBack);
    EXPECT_EQ(clearsReadOnlyFirst(c.error, c.attributes, c.writesAttributes), c.clearsReadOnly);
}

constexpr std::uint32_t kReadOnly = kAttributeReadOnly;

INSTANTIATE_TEST_SUITE_P(
    Codes, RemovalRefusal,
    ::testing::Values(RefusalCase{"InvalidParameter", 87, 0x20, true, true, false},
                      RefusalCase{"InvalidFunction", 1, 0x20, true, true, false},
                      RefusalCase{"NotSupported", 50, 0x20, true, true, false},
                      RefusalCase{"ReadOnlyDenied", 5, kReadOnly | 0x20, true, false, true},
                      RefusalCase{"ReadOnlyNoWriteRight", 5, kReadOnly, false, false, false},
                      RefusalCase{"DeniedWritable", 5, 0x20, true, false, false},
                      RefusalCase{"DirectoryNotEmpty", 145, kDir, true, false, false},
                      RefusalCase{"SharingViolation", 32, kReadOnly, true, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Removal, KeepsOtherAttributesWhenClearingReadOnly) {
    EXPECT_EQ(withoutReadOnly(kReadOnly | 0x20 | 0x2), 0x22U);
    EXPECT_EQ(withoutReadOnly(kReadOnly), 0x80U);  // FILE_ATTRIBUTE_NORMAL: 0 would change nothing
}

// Each kind of open: what it must carry and what it must not.
struct OpenCase {
    Open kind;
    std::uint32_t access;     // rights it must hold
    std::uint32_t options;    // options it must carry
    std::uint32_t forbidden;  // options it must not carry
};

class OpenRules : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenRules, LinksAreFollowedOnlyWithIdentificationOnly) {
    const auto& c = GetParam();
    const OpenRule rule = openRule(c.kind);
    EXPECT_EQ(rule.access & c.access, c.access);
    EXPECT_EQ(rule.options & c.options, c.options);
    EXPECT_EQ(rule.options & c.forbidden, 0U);
    const bool follows = (rule.options & kOptionOpenReparsePoint) == 0;
    EXPECT_EQ(rule.identificationOnly, follows);
    if (rule.byPath) {
        EXPECT_EQ(createFileFlags(rule), kFlagBackupSemantics | kFlagIdentificationOnly);
    }
}

constexpr std::uint32_t kDirectoryOrNot = kOptionDirectoryFile | kOptionNonDirectoryFile;

INSTANTIATE_TEST_SUITE_P(
    Kinds, OpenRules,
    ::testing::Values(
        OpenCase{Open::directoryByPath, kAccessListDirectory, 0, kOptionOpenReparsePoint},
        OpenCase{Open::statusByPath, kAccessReadAttributes, 0, kOptionOpenReparsePoint},
        OpenCase{Open::status, kAccessReadAttributes, 0, kOptionOpenReparsePoint},
        OpenCase{Open::child, kAccessListDirectory | kAccessReadAttributes,
                 kOptionDirectoryFile | kOptionOpenReparsePoint, kOptionNonDirectoryFile},
        OpenCase{Open::removal, kAccessDelete | kAccessReadAttributes | kAccessWriteAttributes,
                 kOptionOpenReparsePoint, kDirectoryOrNot},
        OpenCase{Open::removalWithoutWrite, kAccessDelete | kAccessReadAttributes,
                 kOptionOpenReparsePoint, kDirectoryOrNot}));

}  // namespace
