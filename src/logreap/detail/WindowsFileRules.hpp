#pragma once

// The rules by which the Windows file-tree layer reads what the file system
// tells it. Plain arithmetic on the values of the Win32 API, without its
// headers, so that every build can test them.

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "detail/FileTree.hpp"

namespace norvane::abap::filetree::windows {

inline constexpr std::uint32_t kAttributeDirectory = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
inline constexpr std::uint32_t kTagNameSurrogate = 0x20000000;  // IsReparseTagNameSurrogate

// Win32 codes and NTSTATUS values that the rules below speak of, with the
// names <windows.h> and <ntstatus.h> give them (FileTree_win.cpp checks that
// they agree).
inline constexpr std::uint32_t kErrorInvalidFunction = 1;          // ERROR_INVALID_FUNCTION
inline constexpr std::uint32_t kErrorFileNotFound = 2;             // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t kErrorPathNotFound = 3;             // ERROR_PATH_NOT_FOUND
inline constexpr std::uint32_t kErrorAccessDenied = 5;             // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;             // ERROR_NO_MORE_FILES
inline constexpr std::uint32_t kErrorNotSupported = 50;            // ERROR_NOT_SUPPORTED
inline constexpr std::uint32_t kErrorBadNetPath = 53;              // ERROR_BAD_NETPATH
inline constexpr std::uint32_t kErrorNetNameDeleted = 64;          // ERROR_NETNAME_DELETED
inline constexpr std::uint32_t kErrorInvalidParameter = 87;        // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t kErrorInvalidName = 123;            // ERROR_INVALID_NAME
inline constexpr std::uint32_t kErrorBadPathName = 161;            // ERROR_BAD_PATHNAME
inline constexpr std::uint32_t kErrorDirectory = 267;              // ERROR_DIRECTORY
inline constexpr std::uint32_t kStatusAccessDenied = 0xC0000022;   // STATUS_ACCESS_DENIED
inline constexpr std::uint32_t kStatusDeletePending = 0xC0000056;  // STATUS_DELETE_PENDING

inline constexpr std::uint32_t kAttributeReadOnly = 0x1;  // FILE_ATTRIBUTE_READONLY

// What a failed call said: its NTSTATUS where it was a native call (0 where
// only the Win32 code is known), and its Win32 code.
struct Failure {
    std::uint32_t status = 0;
    std::uint32_t error = 0;
};

// Whether an entry met by name is gone: truly absent, or its deletion pending.
// A pending deletion reads as ERROR_ACCESS_DENIED once mapped to Win32, like a
// real denial, so the NTSTATUS decides. Names are single components opened
// relative to their directory, so "path not found" only comes from a link
// whose target is missing on its way: that link leads nowhere. An invalid
// name, a network failure or a denial is an error.
constexpr bool isGone(Failure failure) {
    return failure.status == kStatusDeletePending || failure.error == kErrorFileNotFound ||
           failure.error == kErrorPathNotFound;
}

// Whether a failure says that nothing is there: the set that the platform's
// library reads as "not found" (__std_is_file_not_found in xfilesystem_abi.h).
// Windows 11 24H2 answers ERROR_DIRECTORY for a path that runs through a file
// and ERROR_NETNAME_DELETED for a server that does not exist. A share that is
// gone (ERROR_BAD_NET_NAME) or a drive that is not there is an error.
constexpr bool isFileNotFound(std::uint32_t error) {
    switch (error) {
        case kErrorFileNotFound:
        case kErrorPathNotFound:
        case kErrorBadNetPath:
        case kErrorInvalidName:
        case kErrorBadPathName:
        case kErrorDirectory:
        case kErrorNetNameDeleted:
            return true;
        default:
            return false;
    }
}

// Whether a status query, which follows links, finds nothing there: what is
// gone, or a link whose target is not found as the library reads it, a server
// that cannot be reached included. Such a link is passed over.
constexpr bool readsAbsent(Failure failure) {
    return isGone(failure) || isFileNotFound(failure.error);
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
constexpr bool fallsBackToFileIndex(std::uint32_t error) {
    return error == kErrorInvalidParameter || error == kErrorNotSupported ||
           error == kErrorInvalidFunction;
}

// Whether a failed directory query ends the listing rather than failing it.
// The first query of a listing that holds not even "." and ".." (volume
// roots, some network file systems) answers ERROR_FILE_NOT_FOUND.
constexpr bool endsListing(std::uint32_t error, bool firstQuery) {
    return error == kErrorNoMoreFiles || (firstQuery && error == kErrorFileNotFound);
}

// The removal. FileDispositionInfoEx with these flags takes the name away at
// once, even while another program holds the file open with FILE_SHARE_DELETE,
// and removes a read-only file as it is.
inline constexpr std::uint32_t kDispositionDelete = 0x1;           // FILE_DISPOSITION_FLAG_DELETE
inline constexpr std::uint32_t kDispositionPosixSemantics = 0x2;   // ..._POSIX_SEMANTICS
inline constexpr std::uint32_t kDispositionIgnoreReadOnly = 0x10;  // ..._IGNORE_READONLY_ATTRIBUTE
inline constexpr std::uint32_t kRemovalDisposition =
    kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;

// Whether a refusal of FileDispositionInfoEx says that the system knows no such
// class or flags (Windows before 10 1809, FAT volumes, Wine 8 answering
// ERROR_INVALID_PARAMETER), so that the older form is tried next: POSIX
// deletion without the read-only flag, then the classic disposition. Any
// other refusal is the answer.
constexpr bool fallsBackToClassicDisposition(std::uint32_t error) {
    return error == kErrorInvalidParameter || error == kErrorInvalidFunction ||
           error == kErrorNotSupported;
}

// Whether a refusal of the classic disposition is the read-only attribute's,
// which the handle can clear (it was opened to write attributes) before the
// removal is tried again.
constexpr bool clearsReadOnlyFirst(std::uint32_t error, std::uint32_t attributes,
                                   bool writesAttributes) {
    return error == kErrorAccessDenied && (attributes & kAttributeReadOnly) != 0 &&
           writesAttributes;
}

// The attributes that clear the read-only one and keep the rest; 0 would
// leave them unchanged, so FILE_ATTRIBUTE_NORMAL stands for none.
constexpr std::uint32_t withoutReadOnly(std::uint32_t attributes) {
    const std::uint32_t rest = attributes & ~kAttributeReadOnly;
    return rest != 0 ? rest : 0x80;  // FILE_ATTRIBUTE_NORMAL
}

// Access rights and NtCreateFile options, as <windows.h> and <winternl.h>
// define them.
inline constexpr std::uint32_t kAccessListDirectory = 0x1;          // FILE_LIST_DIRECTORY
inline constexpr std::uint32_t kAccessReadAttributes = 0x80;        // FILE_READ_ATTRIBUTES
inline constexpr std::uint32_t kAccessWriteAttributes = 0x100;      // FILE_WRITE_ATTRIBUTES
inline constexpr std::uint32_t kAccessDelete = 0x10000;             // DELETE
inline constexpr std::uint32_t kOptionDirectoryFile = 0x1;          // FILE_DIRECTORY_FILE
inline constexpr std::uint32_t kOptionNonDirectoryFile = 0x40;      // FILE_NON_DIRECTORY_FILE
inline constexpr std::uint32_t kOptionOpenReparsePoint = 0x200000;  // FILE_OPEN_REPARSE_POINT
// CreateFileW's flags for the opens by path.
inline constexpr std::uint32_t kFlagBackupSemantics = 0x02000000;   // FILE_FLAG_BACKUP_SEMANTICS
inline constexpr std::uint32_t kFlagOpenReparsePoint = 0x00200000;  // FILE_FLAG_OPEN_REPARSE_POINT
// SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION | SECURITY_EFFECTIVE_ONLY
inline constexpr std::uint32_t kFlagIdentificationOnly = 0x00100000 | 0x00010000 | 0x00080000;

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
    std::uint32_t access = 0;
    std::uint32_t options = 0;  // NtCreateFile's create options
    bool byPath = false;        // CreateFileW on a path, not relative to a handle
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
    constexpr auto kListing = kAccessListDirectory | kAccessReadAttributes;
    constexpr auto kRemoval = kAccessDelete | kAccessReadAttributes;
    switch (kind) {
        case Open::directoryByPath:
            return {kListing, 0, true, true};
        case Open::statusByPath:
            return {kAccessReadAttributes, 0, true, true};
        case Open::status:
            return {kAccessReadAttributes, 0, false, true};
        case Open::child:
            return {kListing, kOptionDirectoryFile | kOptionOpenReparsePoint, false, false};
        case Open::removal:
            return {kRemoval | kAccessWriteAttributes, kOptionOpenReparsePoint, false, false};
        case Open::removalWithoutWrite:
            return {kRemoval, kOptionOpenReparsePoint, false, false};
    }
    return {};
}

// CreateFileW's flags for an open by path.
constexpr std::uint32_t createFileFlags(const OpenRule& rule) {
    return kFlagBackupSemantics |
           ((rule.options & kOptionOpenReparsePoint) != 0 ? kFlagOpenReparsePoint : 0) |
           (rule.identificationOnly ? kFlagIdentificationOnly : 0);
}

// Whether a reparse point stands for another name: a symbolic link, a junction
// or mount point, or any other name surrogate. A tag the file system does not
// report (0) is taken for one, since such an entry cannot be told from a link.
// Other reparse points (cloud placeholders, deduplicated files) are data.
constexpr bool isNameSurrogate(std::uint32_t attributes, std::uint32_t tag) {
    return (attributes & kAttributeReparsePoint) != 0 &&
           (tag == 0 || (tag & kTagNameSurrogate) != 0);
}

// How a listing's attributes and reparse tag classify an entry for the walk.
constexpr Kind listedKind(std::uint32_t attributes, std::uint32_t tag) {
    if (isNameSurrogate(attributes, tag)) {
        return Kind::link;
    }
    return (attributes & kAttributeDirectory) != 0 ? Kind::directory : Kind::unknown;
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

}  // namespace norvane::abap::filetree::windows
