#pragma once

// The rules by which the Windows file-tree layer opens, removes and reads what
// the file system tells it: plain arithmetic on the values of the Win32 API,
// apart from the calls, so that the Windows tests can go through every case.

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include <windows.h>

namespace norvane::abap::filetree {

// <ntstatus.h> clashes with <windows.h> unless every translation unit
// includes the two in one order: the two NTSTATUS values the rules read.
inline constexpr std::uint32_t kStatusAccessDenied = 0xC0000022;   // STATUS_ACCESS_DENIED
inline constexpr std::uint32_t kStatusDeletePending = 0xC0000056;  // STATUS_DELETE_PENDING

// What a failed open said: its NTSTATUS where it was a native call (0 where
// only the Win32 code is known), and its Win32 code.
struct Failure {
    std::uint32_t status = 0;
    std::uint32_t error = 0;
};

// The kinds of open the layer makes.
enum class Open {
    directoryByPath,      // the purge directory, for its listing
    statusByPath,         // the purge directory's status
    status,               // an entry's status, through a link to its target
    child,                // a subdirectory, for its listing
    removal,              // an entry to remove, itself
    removalWithoutWrite,  // the same where writing attributes is refused
};

struct OpenRule {
    ACCESS_MASK access = 0;
    ULONG options = 0;  // NtCreateFile's create options
    // A security quality of service of identification level, effective only:
    // a server reached through a link may identify the caller, never act as it.
    bool identificationOnly = false;
};

// Which access and options each kind of open uses. Removals open the entry
// itself, whatever its directory bit, so that a link of either kind is removed
// as a link; only status queries and the purge directory follow links, and
// those let whatever they reach only identify the tool's account (a link to a
// named pipe would otherwise let its server act as that account).
constexpr OpenRule openRule(Open kind) {
    // A listing asks for FILE_LIST_DIRECTORY (SYNCHRONIZE comes with every
    // open) as the library's listing does, never FILE_TRAVERSE: an account
    // granted Read lacks it, and names opened relative to a handle need none.
    // FILE_READ_ATTRIBUTES, which Read grants, reads the directory's identity
    // and kind on the same handle.
    constexpr ACCESS_MASK kListing = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
    constexpr ACCESS_MASK kRemoval = DELETE | FILE_READ_ATTRIBUTES;
    switch (kind) {
        case Open::directoryByPath:
            return {kListing, 0, true};
        case Open::statusByPath:
        case Open::status:
            return {FILE_READ_ATTRIBUTES, 0, true};
        case Open::child:
            return {kListing, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, false};
        case Open::removal:
            return {kRemoval | FILE_WRITE_ATTRIBUTES, FILE_OPEN_REPARSE_POINT, false};
        case Open::removalWithoutWrite:
            return {kRemoval, FILE_OPEN_REPARSE_POINT, false};
    }
    return {};
}

constexpr bool followsLinks(const OpenRule& rule) {
    return (rule.options & FILE_OPEN_REPARSE_POINT) == 0;
}

// CreateFileW's flags for an open by path.
constexpr DWORD createFileFlags(const OpenRule& rule) {
    return FILE_FLAG_BACKUP_SEMANTICS | (followsLinks(rule) ? 0 : FILE_FLAG_OPEN_REPARSE_POINT) |
           (rule.identificationOnly
                ? SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION | SECURITY_EFFECTIVE_ONLY
                : 0);
}

// Whether an open of `kind` that failed so found nothing there.
//
// What the open names itself is gone when it is absent or its deletion is
// pending. A pending deletion reads as ERROR_ACCESS_DENIED once mapped to
// Win32, like a real denial, so the NTSTATUS decides. Names are single
// components opened relative to their directory, so "path not found" only
// comes from a link whose target is missing on its way: that link leads
// nowhere. An invalid name, a network failure or a denial is an error.
//
// An open that follows links finds nothing also where the target is not found
// as the platform's library reads it (__std_is_file_not_found): a target that
// runs through a file (ERROR_DIRECTORY on Windows 11 24H2), an invalid name,
// a server that does not exist or cannot be reached. Such a link is passed
// over. A share that is gone (ERROR_BAD_NET_NAME) or a drive that is not
// there is an error.
constexpr bool isGone(Failure failure, Open kind) {
    if (failure.status == kStatusDeletePending || failure.error == ERROR_FILE_NOT_FOUND ||
        failure.error == ERROR_PATH_NOT_FOUND) {
        return true;
    }
    switch (failure.error) {
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_DIRECTORY:
        case ERROR_NETNAME_DELETED:
            return followsLinks(openRule(kind));
        default:
            return false;
    }
}

// Whether an open for removal that was refused is tried again without the
// right to write attributes (the read-only attribute then stays as it is).
// Only a real denial: a pending deletion, which reads the same in Win32, is gone.
constexpr bool opensAgainWithoutWriting(Failure failure) {
    return failure.status == kStatusAccessDenied;
}

// Whether a refusal of FileIdInfo says that the file system or the system has
// no such class, so that the 64-bit file index serves instead. The library
// reads ERROR_INVALID_PARAMETER and ERROR_NOT_SUPPORTED so; ERROR_INVALID_FUNCTION
// (STATUS_NOT_IMPLEMENTED) too here, since every status query reads the
// identity, which the library's does not.
constexpr bool fallsBackToFileIndex(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_FUNCTION;
}

// Whether a failed directory query ends the listing rather than failing it.
// The first query of a listing that holds not even "." and ".." (volume
// roots, some network file systems) answers ERROR_FILE_NOT_FOUND.
constexpr bool endsListing(DWORD error, bool firstQuery) {
    return error == ERROR_NO_MORE_FILES || (firstQuery && error == ERROR_FILE_NOT_FOUND);
}

// The removal. FileDispositionInfoEx with these flags takes the name away at
// once, even while another program holds the file open with FILE_SHARE_DELETE,
// and removes a read-only file as it is.
inline constexpr DWORD kRemovalDisposition = FILE_DISPOSITION_FLAG_DELETE |
                                             FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                             FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE;

// Whether a refusal of FileDispositionInfoEx says that the system knows no such
// class or flags (Windows before 10 1809, FAT volumes, Wine 8 answering
// ERROR_INVALID_PARAMETER), so that the older form is tried next: POSIX
// deletion without the read-only flag, then the classic disposition. Any
// other refusal is the answer.
constexpr bool fallsBackToClassicDisposition(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_NOT_SUPPORTED;
}

// Whether a refusal of the classic disposition is the read-only attribute's,
// which the handle can clear (it was opened to write attributes) before the
// removal is tried again.
constexpr bool clearsReadOnlyFirst(DWORD error, DWORD attributes, bool writesAttributes) {
    return error == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           writesAttributes;
}

// The attributes that clear the read-only one and keep the rest; 0 would
// leave them unchanged, so FILE_ATTRIBUTE_NORMAL stands for none.
constexpr DWORD withoutReadOnly(DWORD attributes) {
    const DWORD rest = attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
    return rest != 0 ? rest : FILE_ATTRIBUTE_NORMAL;
}

// Whether a reparse point stands for another name: a symbolic link, a junction
// or mount point, or any other name surrogate. A tag the file system does not
// report (0) is taken for one, since such an entry cannot be told from a link.
// Other reparse points (cloud placeholders, deduplicated files) are data.
constexpr bool isNameSurrogate(DWORD attributes, DWORD tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (tag == 0 || IsReparseTagNameSurrogate(tag) != 0);
}

// A FILETIME (100-nanosecond ticks since 1601-01-01 UTC) on the system clock,
// saturated at the clock's range.
inline std::chrono::system_clock::time_point fileTimeToSystemClock(std::int64_t ticks) {
    using Clock = std::chrono::system_clock;
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    constexpr std::int64_t kUnixEpoch = 116'444'736'000'000'000;  // 1970-01-01 in ticks
    constexpr auto kLatest = std::chrono::duration_cast<Ticks>(Clock::duration::max()).count();
    constexpr auto kEarliest = std::chrono::duration_cast<Ticks>(Clock::duration::min()).count();
    if (ticks < std::numeric_limits<std::int64_t>::min() + kUnixEpoch) {
        return Clock::time_point::min();
    }
    const std::int64_t sinceUnixEpoch = ticks - kUnixEpoch;
    if (sinceUnixEpoch > kLatest) {
        return Clock::time_point::max();
    }
    if (sinceUnixEpoch < kEarliest) {
        return Clock::time_point::min();
    }
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(Ticks(sinceUnixEpoch)));
}

// The \\?\ form of a full path (drive or UNC), which every call of the wide
// API takes whatever its length: \\server\share\x becomes \\?\UNC\server\share\x,
// C:\x becomes \\?\C:\x. '/' becomes '\', which the prefixed form requires.
// Paths already in a device form (\\?\, \\.\) stay as they are.
inline std::wstring withExtendedLengthPrefix(std::wstring_view fullPath) {
    std::wstring path(fullPath);
    for (auto& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) {
        return path;
    }
    if (path.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + path.substr(2);
    }
    return L"\\\\?\\" + path;
}

}  // namespace norvane::abap::filetree
