// The file-tree layer over the Win32 and NT wide API. The runtime's own file
// system is not used: it knows no links, reads times at whole seconds through
// the C runtime and lists directories through functions bound to MAX_PATH.
// Only the purge directory is opened by path, in its \\?\ form; everything
// beneath it is opened by name relative to its parent's handle. Which access
// and options each kind of open uses, and how each failure is read, are the
// rules of WindowsFileRules.hpp.

#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include <windows.h>
#include <winternl.h>

#include "detail/FileTree.hpp"
#include "detail/WindowsFileRules.hpp"

namespace norvane::abap::filetree {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A listing buffer holds a dozen records of the longest names, some hundred of
// short ones; deep trees hold one per open level.
constexpr DWORD kListingBytes = 8 * 1024;
// mingw-w64 declares FileDispositionInfoEx only for a _WIN32_WINNT beyond any
// real version; it follows FileIdExtdDirectoryRestartInfo.
constexpr auto kFileDispositionInfoEx =
    static_cast<FILE_INFO_BY_HANDLE_CLASS>(FileIdExtdDirectoryRestartInfo + 1);
// What a removal reports when the name no longer holds the file it was asked
// for ("the opened file is no longer valid").
constexpr DWORD kNotTheCheckedFile = ERROR_FILE_INVALID;

std::error_code win32Error(DWORD code) {
    return {static_cast<int>(code), std::system_category()};
}

std::error_code lastError() {
    return win32Error(::GetLastError());
}

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { ::CloseHandle(handle); }
};
// The one owner of a Win32 or NT handle (HANDLE is a void*): closes it when
// it goes; moves, never copies.
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// An open handle of a kind, or what kept it from being opened.
struct Opened {
    UniqueHandle handle;
    Open kind;
    Failure failure;  // where there is no handle

    bool gone() const noexcept { return isGone(failure, kind); }
    std::error_code error() const { return win32Error(failure.error); }
};

// The path, made absolute (GetFullPathNameW takes long paths), in its \\?\ form.
Result<std::wstring> extendedLengthPath(const std::filesystem::path& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            return {{}, lastError()};
        }
        const bool fits = length < full.size();
        full.resize(length);
        if (fits) {
            return {withExtendedLengthPrefix(full), {}};
        }
    }
}

// Opens `path` as an open of `kind` prescribes.
Opened openByPath(const std::filesystem::path& path, Open kind) {
    const OpenRule rule = openRule(kind);
    Opened opened{{}, kind, {}};
    const Result<std::wstring> extended = extendedLengthPath(path);
    if (extended.error) {
        opened.failure.error = static_cast<std::uint32_t>(extended.error.value());
        return opened;
    }
    const HANDLE handle = ::CreateFileW(extended.value.c_str(), rule.access, kShareAll, nullptr,
                                        OPEN_EXISTING, createFileFlags(rule), nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        opened.failure.error = ::GetLastError();
    } else {
        opened.handle.reset(handle);
    }
    return opened;
}

// Opens `name` in the directory `parent` as an open of `kind` prescribes.
Opened openRelative(HANDLE parent, NativeName name, Open kind) {
    const OpenRule rule = openRule(kind);
    Opened opened{{}, kind, {}};
    const auto bytes = name.size() * sizeof(wchar_t);
    if (bytes > 0xFFFE) {
        opened.failure.error = ERROR_FILENAME_EXCED_RANGE;
        return opened;
    }
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.data());
    text.Length = text.MaximumLength = static_cast<USHORT>(bytes);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, nullptr);
    SECURITY_QUALITY_OF_SERVICE qualityOfService{sizeof(SECURITY_QUALITY_OF_SERVICE),
                                                 SecurityIdentification, SECURITY_STATIC_TRACKING,
                                                 TRUE};
    if (rule.identificationOnly) {
        attributes.SecurityQualityOfService = &qualityOfService;
    }
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const NTSTATUS status = ::NtCreateFile(
        &handle, rule.access | SYNCHRONIZE, &attributes, &io, nullptr, 0, kShareAll, FILE_OPEN,
        rule.options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT, nullptr, 0);
    if (status < 0) {
        opened.failure = {static_cast<std::uint32_t>(status), ::RtlNtStatusToDosError(status)};
    } else {
        opened.handle.reset(handle);
    }
    return opened;
}

// Opens `name` in `parent` to remove it, with the right to clear its read-only
// attribute where that is granted (the open's kind is then Open::removal).
Opened openForRemoval(HANDLE parent, NativeName name) {
    Opened opened = openRelative(parent, name, Open::removal);
    if (opensAgainWithoutWriting(opened.failure)) {
        opened = openRelative(parent, name, Open::removalWithoutWrite);
    }
    return opened;
}

// The identity of what the handle holds (`info` read on it) as the platform's
// library reads it: FileIdInfo's 64-bit volume serial and 128-bit id, since
// ReFS's 64-bit index is not unique; the 64-bit index only where the file
// system refuses that class.
Result<FileIdentity> identityOf(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info) {
    FILE_ID_INFO id;
    if (::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
        FileIdentity identity{id.VolumeSerialNumber};
        static_assert(sizeof id.FileId == sizeof identity.file + sizeof identity.fileHigh);
        std::memcpy(&identity.file, id.FileId.Identifier, sizeof identity.file);
        std::memcpy(&identity.fileHigh, id.FileId.Identifier + sizeof identity.file,
                    sizeof identity.fileHigh);
        return {identity, {}};
    }
    const DWORD error = ::GetLastError();
    if (!fallsBackToFileIndex(error)) {
        return {{}, win32Error(error)};
    }
    return {FileIdentity{info.dwVolumeSerialNumber,
                         (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow},
            {}};
}

Clock::time_point lastWriteOf(const BY_HANDLE_FILE_INFORMATION& info) {
    const auto ticks = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                       info.ftLastWriteTime.dwLowDateTime;
    return fileTimeToSystemClock(static_cast<std::int64_t>(ticks));
}

Result<Status> statusOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) {
        const std::error_code error = lastError();
        // A pipe or device reached through a link has no file information.
        if (::GetFileType(handle) != FILE_TYPE_DISK) {
            return {Status{Kind::special, {}, {}}, {}};
        }
        return {{}, error};
    }
    const Kind kind =
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::directory : Kind::regular;
    const Result<FileIdentity> identity = identityOf(handle, info);
    if (identity.error) {
        return {{}, identity.error};
    }
    return {Status{kind, lastWriteOf(info), identity.value}, {}};
}

// Whether the file the handle holds is one whose deletion is pending: such a
// file is gone as far as the purge is concerned.
bool deletePending(HANDLE handle) {
    FILE_STANDARD_INFO standard;
    return ::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) &&
           standard.DeletePending;
}

DWORD setClassicDisposition(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                        sizeof disposition)
               ? ERROR_SUCCESS
               : ::GetLastError();
}

// DELETE | POSIX_SEMANTICS, or the classic disposition where the system knows
// no POSIX deletion.
DWORD setDeleteDisposition(HANDLE handle) {
    FILE_DISPOSITION_INFO_EX posix{FILE_DISPOSITION_FLAG_DELETE |
                                   FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
    if (::SetFileInformationByHandle(handle, kFileDispositionInfoEx, &posix, sizeof posix)) {
        return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    return fallsBackToClassicDisposition(error) ? setClassicDisposition(handle) : error;
}

// Sets the attributes alone; zero times leave the times as they are.
bool setAttributes(HANDLE handle, DWORD attributes) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
}

// Removes what the handle holds, `removing` (its `attributes` as read on it),
// as the platform's standard library removes: the name goes at once where the
// system can do that, else on the last close. Where the read-only flag of the
// disposition is unknown, POSIX deletion is tried without it, and where that
// is unknown too, the classic disposition; a read-only file then loses its
// attribute for the removal (where the open may write it) and gets it back
// when the removal still fails.
Result<Kind> removeOpened(const Opened& opened, DWORD attributes, Kind removing) {
    const HANDLE handle = opened.handle.get();
    FILE_DISPOSITION_INFO_EX posix{kRemovalDisposition};
    if (::SetFileInformationByHandle(handle, kFileDispositionInfoEx, &posix, sizeof posix)) {
        return {removing, {}};
    }
    DWORD error = ::GetLastError();
    if (fallsBackToClassicDisposition(error)) {
        error = setDeleteDisposition(handle);
        if (error == ERROR_SUCCESS) {
            return {removing, {}};
        }
        if (clearsReadOnlyFirst(error, attributes, opened.kind == Open::removal)) {
            if (!setAttributes(handle, withoutReadOnly(attributes))) {
                return {{}, lastError()};
            }
            error = setDeleteDisposition(handle);
            if (error == ERROR_SUCCESS) {
                return {removing, {}};
            }
            // Best effort: the removal's own refusal is what is reported.
            (void)setAttributes(handle, attributes);
        }
    }
    // Another program's deletion may have been first.
    if (deletePending(handle)) {
        return {Kind::gone, {}};
    }
    return {{}, win32Error(error)};
}

// The attributes of what the handle holds.
Result<DWORD> attributesOf(HANDLE handle) {
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        return {{}, lastError()};
    }
    return {basic.FileAttributes, {}};
}

// What the handle holds, of these attributes: a link, a directory or a file.
// FAT and exFAT answer no FileAttributeTagInfo (ERROR_INVALID_PARAMETER): it
// is asked only of a reparse point, as the platform's library asks it.
Result<Kind> kindOf(HANDLE handle, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        FILE_ATTRIBUTE_TAG_INFO tag;
        if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
            return {{}, lastError()};
        }
        if (isNameSurrogate(tag.FileAttributes, tag.ReparseTag)) {
            return {Kind::link, {}};
        }
    }
    return {(attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::directory : Kind::regular, {}};
}

}  // namespace

// The handle, and its listing buffer once one is asked for.
struct Directory::Handle {
    explicit Handle(UniqueHandle opened) noexcept : handle(std::move(opened)) {}

    UniqueHandle handle;
    std::unique_ptr<std::uint64_t[]> listing;  // FILE_FULL_DIR_INFO records, 8-byte aligned
    DWORD offset = 0;
    bool filled = false;   // the buffer holds records not yet returned
    bool queried = false;  // the listing has been queried once
    bool finished = false;
};

void Directory::Release::operator()(Handle* handle) const noexcept {
    delete handle;
}

Result<Directory> Directory::open(const std::filesystem::path& path) {
    Opened opened = openByPath(path, Open::directoryByPath);
    if (!opened.handle) {
        return {{}, opened.error()};
    }
    // Backup semantics open files as well as directories.
    const Result<Status> status = statusOfHandle(opened.handle.get());
    if (status.error) {
        return {{}, status.error};
    }
    if (status.value.kind != Kind::directory) {
        return {{}, win32Error(ERROR_DIRECTORY)};
    }
    return {adopt(std::move(opened.handle)), {}};
}

Result<Directory::Child> Directory::openChild(NativeName name) const {
    Opened opened = openRelative(handle().handle.get(), name, Open::child);
    if (!opened.handle) {
        if (opened.failure.error == ERROR_DIRECTORY) {
            return {Child{Kind::regular, {}}, {}};
        }
        if (opened.gone()) {
            return {Child{Kind::gone, {}}, {}};
        }
        return {{}, opened.error()};
    }
    // It may have become a link since it was listed: the link itself was
    // opened, and a link is never walked. Other reparse points (cloud
    // placeholder folders) are directories with data and are walked.
    const HANDLE child = opened.handle.get();
    const Result<DWORD> attributes = attributesOf(child);
    if (attributes.error) {
        return {{}, attributes.error};
    }
    const Result<Kind> kind = kindOf(child, attributes.value);
    if (kind.error) {
        return {{}, kind.error};
    }
    if (kind.value == Kind::link) {
        return {Child{Kind::link, {}}, {}};
    }
    return {Child{Kind::directory, adopt(std::move(opened.handle))}, {}};
}

Result<FileIdentity> Directory::identity() const {
    const HANDLE directory = handle().handle.get();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(directory, &info)) {
        return {{}, lastError()};
    }
    return identityOf(directory, info);
}

// NtCreateFile takes no ".." relative to a handle, and the parent's handle
// cannot be had otherwise without its path: the chain goes the way by name.
Result<Directory> Directory::openParent() const {
    (void)handle();
    return {};
}

Result<std::optional<ListedEntry>> Directory::next() {
    Handle& h = handle();
    if (!h.listing) {
        h.listing =
            std::make_unique_for_overwrite<std::uint64_t[]>(kListingBytes / sizeof(std::uint64_t));
    }
    for (;;) {
        if (!h.filled) {
            if (h.finished) {
                return {};
            }
            const bool first = !std::exchange(h.queried, true);
            if (!::GetFileInformationByHandleEx(h.handle.get(), FileFullDirectoryInfo,
                                                h.listing.get(), kListingBytes)) {
                const DWORD error = ::GetLastError();
                h.finished = true;
                if (endsListing(error, first)) {
                    return {};
                }
                return {std::nullopt, win32Error(error)};
            }
            h.filled = true;
            h.offset = 0;
        }
        const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(
            reinterpret_cast<const char*>(h.listing.get()) + h.offset);
        if (info->NextEntryOffset == 0) {
            h.filled = false;
        } else {
            h.offset += info->NextEntryOffset;
        }
        const NativeName name(info->FileName, info->FileNameLength / sizeof(wchar_t));
        if (name == L"." || name == L"..") {
            continue;
        }
        // For a reparse point the listing's EaSize holds its tag. A file's
        // kind is not told: only its status query can say it.
        Kind kind = Kind::unknown;
        if (isNameSurrogate(info->FileAttributes, info->EaSize)) {
            kind = Kind::link;
        } else if ((info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            kind = Kind::directory;
        }
        return {ListedEntry{name, kind}, {}};
    }
}

Result<Status> Directory::status(NativeName name) const {
    const Opened opened = openRelative(handle().handle.get(), name, Open::status);
    if (!opened.handle) {
        if (opened.gone()) {
            return {};
        }
        return {{}, opened.error()};
    }
    return statusOfHandle(opened.handle.get());
}

Result<Kind> Directory::removeFile(NativeName name, const OldFile& old) const {
    const Opened opened = openForRemoval(handle().handle.get(), name);
    if (!opened.handle) {
        if (opened.gone()) {
            return {Kind::gone, {}};
        }
        return {{}, opened.error()};
    }
    const HANDLE entry = opened.handle.get();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(entry, &info)) {
        return {{}, lastError()};
    }
    const Result<Kind> kind = kindOf(entry, info.dwFileAttributes);
    if (kind.error) {
        return {{}, kind.error};
    }
    // A link was aged by its target and goes itself. Anything else must still
    // be the file that was found old: a file renamed onto the name since then
    // stays. Where the file system keeps no ids, all identities match and the
    // age alone tells.
    if (kind.value != Kind::link) {
        const Result<FileIdentity> identity = identityOf(entry, info);
        if (identity.error) {
            return {{}, identity.error};
        }
        if (identity.value != old.identity || !(lastWriteOf(info) < old.writtenBefore)) {
            return {{}, win32Error(kNotTheCheckedFile)};
        }
    }
    return removeOpened(opened, info.dwFileAttributes, kind.value);
}

Result<Kind> Directory::removeDirectory(NativeName name) const {
    const Opened opened = openForRemoval(handle().handle.get(), name);
    if (!opened.handle) {
        if (opened.gone()) {
            return {Kind::gone, {}};
        }
        return {{}, opened.error()};
    }
    const Result<DWORD> attributes = attributesOf(opened.handle.get());
    if (attributes.error) {
        return {{}, attributes.error};
    }
    const Result<Kind> kind = kindOf(opened.handle.get(), attributes.value);
    if (kind.error) {
        return {{}, kind.error};
    }
    // A link goes itself, whatever it points to; a file in a directory's place
    // stays. A directory that still holds entries refuses the disposition:
    // that refusal is the test of emptiness.
    if (kind.value == Kind::regular) {
        return {{}, win32Error(ERROR_DIRECTORY)};
    }
    return removeOpened(opened, attributes.value, kind.value);
}

Result<Status> statusOf(const std::filesystem::path& path) {
    const Opened opened = openByPath(path, Open::statusByPath);
    if (!opened.handle) {
        if (opened.gone()) {
            return {};
        }
        return {{}, opened.error()};
    }
    return statusOfHandle(opened.handle.get());
}

void raiseOpenFileLimit() noexcept {
    // Handles are limited only by memory on Windows.
}

}  // namespace norvane::abap::filetree
