// How the Windows file-tree layer reads listings, times, paths and failures,
// and how it opens and removes; plain arithmetic on the values of the API.

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "detail/WindowsFileRules.hpp"

using namespace norvane::abap::filetree;
using Clock = std::chrono::system_clock;

namespace {

struct ListingCase {
    const char* name;
    std::uint32_t attributes;
    std::uint32_t tag;
    bool link;
};

class ListingKind : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ListingKind, NeverDescendsThroughANameSurrogate) {
    EXPECT_EQ(isNameSurrogate(GetParam().attributes, GetParam().tag), GetParam().link);
}

constexpr std::uint32_t kDir = FILE_ATTRIBUTE_DIRECTORY;
constexpr std::uint32_t kReparse = FILE_ATTRIBUTE_REPARSE_POINT;

INSTANTIATE_TEST_SUITE_P(
    Tags, ListingKind,
    ::testing::Values(ListingCase{"Directory", kDir, 0, false}, ListingCase{"File", 0x20, 0, false},
                      ListingCase{"SymbolicLinkToDirectory", kDir | kReparse, 0xA000000C, true},
                      ListingCase{"Junction", kDir | kReparse, 0xA0000003, true},
                      ListingCase{"TagNotReported", kDir | kReparse, 0, true},
                      ListingCase{"FileSymbolicLink", kReparse, 0xA000000C, true},
                      ListingCase{"CloudPlaceholderFolder", kDir | kReparse, 0x9000001A, false},
                      ListingCase{"DeduplicatedFile", kReparse, 0x80000013, false}),
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
// follows links), not found for the purge directory's path (whose open reports
// only the Win32 code) as the platform's library reads it, and whether a
// refused removal open is tried again without writing attributes.
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
    EXPECT_EQ(isGone(c.failure, Open::removal), c.gone);
    EXPECT_EQ(isGone(c.failure, Open::status), c.statusAbsent);
    EXPECT_EQ(isGone({0, c.failure.error}, Open::statusByPath), c.notFound);
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
    EXPECT_TRUE(endsListing(ERROR_NO_MORE_FILES, false));
    EXPECT_TRUE(endsListing(ERROR_NO_MORE_FILES, true));
    EXPECT_TRUE(endsListing(ERROR_FILE_NOT_FOUND, true));  // a root without "." and ".."
    EXPECT_FALSE(endsListing(ERROR_FILE_NOT_FOUND, false));
    for (const DWORD error :
         {DWORD{ERROR_ACCESS_DENIED}, DWORD{1117} /* I/O */, DWORD{59} /* network */}) {
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

constexpr std::uint32_t kReadOnly = FILE_ATTRIBUTE_READONLY;

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
    const bool follows = (rule.options & FILE_OPEN_REPARSE_POINT) == 0;
    EXPECT_EQ(rule.identificationOnly, follows);
    if (c.kind == Open::directoryByPath || c.kind == Open::statusByPath) {
        EXPECT_EQ(createFileFlags(rule), FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT |
                                             SECURITY_IDENTIFICATION | SECURITY_EFFECTIVE_ONLY);
    }
}

constexpr std::uint32_t kDirectoryOrNot = FILE_DIRECTORY_FILE | FILE_NON_DIRECTORY_FILE;

INSTANTIATE_TEST_SUITE_P(
    Kinds, OpenRules,
    ::testing::Values(
        OpenCase{Open::directoryByPath, FILE_LIST_DIRECTORY, 0, FILE_OPEN_REPARSE_POINT},
        OpenCase{Open::statusByPath, FILE_READ_ATTRIBUTES, 0, FILE_OPEN_REPARSE_POINT},
        OpenCase{Open::status, FILE_READ_ATTRIBUTES, 0, FILE_OPEN_REPARSE_POINT},
        OpenCase{Open::child, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                 FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, FILE_NON_DIRECTORY_FILE},
        OpenCase{Open::removal, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                 FILE_OPEN_REPARSE_POINT, kDirectoryOrNot},
        OpenCase{Open::removalWithoutWrite, DELETE | FILE_READ_ATTRIBUTES, FILE_OPEN_REPARSE_POINT,
                 kDirectoryOrNot}));

}  // namespace
