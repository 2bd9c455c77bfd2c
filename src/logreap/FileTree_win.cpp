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

namespace rules = windows;
using rules::Failure;
using rules::Open;

static_assert(rules::kErrorInvalidFunction == ERROR_INVALID_FUNCTION);
static_assert(rules::kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(rules::kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(rules::kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(rules::kErrorNoMoreFiles == ERROR_NO_MORE_FILES);
static_assert(rules::kErrorNotSupported == ERROR_NOT_SUPPORTED);
static_assert(rules::kErrorBadNetPath == ERROR_BAD_NETPATH);
static_assert(rules::kErrorNetNameDeleted == ERROR_NETNAME_DELETED);
static_assert(rules::kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(rules::kErrorInvalidName == ERROR_INVALID_NAME);
static_assert(rules::kErrorBadPathName == ERROR_BAD_PATHNAME);
static_assert(rules::kErrorDirectory == ERROR_DIRECTORY);
static_assert(rules::kAttributeReadOnly == FILE_ATTRIBUTE_READONLY);
static_assert(rules::kAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(rules::kAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT);
static_assert(rules::kRemovalDisposition ==
              (FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
               FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE));
static_assert(rules::kAccessListDirectory == FILE_LIST_DIRECTORY);
static_assert(rules::kAccessReadAttributes == FILE_READ_ATTRIBUTES);
static_assert(rules::kAccessWriteAttributes == FILE_WRITE_ATTRIBUTES);
static_assert(rules::kAccessDelete == DELETE);
static_assert(rules::kOptionDirectoryFile == FILE_DIRECTORY_FILE);
static_assert(rules::kOptionNonDirectoryFile == FILE_NON_DIRECTORY_FILE);
static_assert(rules::kOptionOpenReparsePoint == FILE_OPEN_REPARSE_POINT);
static_assert(rules::kFlagBackupSemantics == FILE_FLAG_BACKUP_SEMANTICS);
static_assert(rules::kFlagOpenReparsePoint == FILE_FLAG_OPEN_REPARSE_POINT);
static_assert(rules::kFlagIdentificationOnly ==
              (SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION | SECURITY_EFFECTIVE_ONLY));

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A listing buffer holds a dozen records of the longest names, some hundred of
// short ones; deep trees hold one per open level.
constexpr DWORD kListingBytes = 8 * 1024;
// mingw-w64 declares FileDispositionInfoEx only for a _WIN32_WINNT beyond any
// real version; it follows FileIdExtdDirectoryRestartInfo.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
static_assert(FileIdExtdDirectoryRestartInfo + 1 == kFileDispositionInfoEx);
// What a removal reports when the name no longer holds the file it was asked
// for ("the opened file is no longer valid").
constexpr DWORD kNotTheCheckedFile = ERROR_FILE_INVALID;

std::error_code win32Error(DWORD code) {
    return {static_cast<int>(code), std::system_category()};
}

std::error_code lastError() {
    return win32Error(::GetLastError());
}

// The one owner of a Win32 or NT handle: closes it when it goes; moves, never
// copies. CreateFileW's failure value, INVALID_HANDLE_VALUE, is taken for no
// handle (the current-process pseudo-handle, which shares it, is never owned).
class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) noexcept
        : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != nullptr; }

    // Where an open call stores the handle it makes, owned from then on.
    HANDLE* receive() noexcept {
        reset();
        return &handle_;
    }

  private:
    void reset() noexcept {
        if (handle_ != nullptr) {
            ::CloseHandle(handle_);
            handle_ = nullptr;
        }
    }
    HANDLE handle_ = nullptr;
};

// An open handle, or what kept it from being opened.
struct Opened {
    UniqueHandle handle;
    Failure failure;
};

// The path, made absolute (GetFullPathNameW takes long paths), in its \\?\ form.
std::wstring extendedLengthPath(const std::filesystem::path& path, Failure& failure) {
    const std::wstring& given = path.native();
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()),
                                                full.data(), nullptr);
        if (length == 0) {
            failure = {0, ::GetLastError()};
            return {};
        }
        if (length < full.size()) {
            full.resize(length);
            return rules::withExtendedLengthPrefix(full);
        }
        full.resize(length);
    }
}

// Opens `path` as an open of `kind` prescribes.
Opened openByPath(const std::filesystem::path& path, Open kind) {
    const rules::OpenRule rule = rules::openRule(kind);
    Opened opened;
    const std::wstring extended = extendedLengthPath(path, opened.failure);
    if (extended.empty()) {
        return opened;
    }
    opened.handle =
        UniqueHandle(::CreateFileW(extended.c_str(), rule.access, kShareAll, nullptr, OPEN_EXISTING,
                                   rules::createFileFlags(rule), nullptr));
    if (!opened.handle) {
        opened.failure = {0, ::GetLastError()};
    }
    return opened;
}

// Opens `name` in the directory `parent` as an open of `kind` prescribes.
Opened openRelative(HANDLE parent, NativeName name, Open kind) {
    const rules::OpenRule rule = rules::openRule(kind);
    Opened opened;
    const auto bytes = name.size() * sizeof(wchar_t);
    if (bytes > 0xFFFE) {
        opened.failure = {0, ERROR_FILENAME_EXCED_RANGE};
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
    const NTSTATUS status = ::NtCreateFile(
        opened.handle.receive(), rule.access | SYNCHRONIZE, &attributes, &io, nullptr, 0, kShareAll,
        FILE_OPEN, rule.options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
        nullptr, 0);
    if (status < 0) {
        opened.failure = {static_cast<std::uint32_t>(status), ::RtlNtStatusToDosError(status)};
    }
    return opened;
}

// Opens `name` in `parent` to remove it, with the right to clear its read-only
// attribute where that is granted.
Opened openForRemoval(HANDLE parent, NativeName name, bool& writesAttributes) {
    Opened opened = openRelative(parent, name, Open::removal);
    writesAttributes = static_cast<bool>(opened.handle);
    if (rules::opensAgainWithoutWriting(opened.failure)) {
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
    if (!rules::fallsBackToFileIndex(error)) {
        return {{}, win32Error(error)};
    }
    return {FileIdentity{info.dwVolumeSerialNumber,
                         (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow},
            {}};
}

Clock::time_point lastWriteOf(const BY_HANDLE_FILE_INFORMATION& info) {
    const auto ticks = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                       info.ftLastWriteTime.dwLowDateTime;
    return rules::fileTimeToSystemClock(static_cast<std::int64_t>(ticks));
}

Result<Status> statusOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) {
        const std::error_code error = lastError();
        // A pipe or device reached through a link has no file information.
        if (::GetFileType(handle) != FILE_TYPE_DISK) {
            return {Status{Type::other, {}, {}}, {}};
        }
        return {{}, error};
    }
    const Type type =
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Type::directory : Type::regular;
    const Result<FileIdentity> identity = identityOf(handle, info);
    if (identity.error) {
        return {{}, identity.error};
    }
    return {Status{type, lastWriteOf(info), identity.value}, {}};
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
    return rules::fallsBackToClassicDisposition(error) ? setClassicDisposition(handle) : error;
}

// Sets the attributes alone; zero times leave the times as they are.
bool setAttributes(HANDLE handle, DWORD attributes) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
}

// Removes what the handle holds (its `attributes` as read on it) as the
// platform's standard library removes: the name goes at once where the system
// can do that, else on the last close. Where the read-only flag of the
// disposition is unknown, POSIX deletion is tried without it, and where that
// is unknown too, the classic disposition; a read-only file then loses its
// attribute for the removal and gets it back when the removal still fails.
std::error_code removeOpened(HANDLE handle, DWORD attributes, bool writesAttributes) {
    FILE_DISPOSITION_INFO_EX posix{rules::kRemovalDisposition};
    if (::SetFileInformationByHandle(handle, kFileDispositionInfoEx, &posix, sizeof posix)) {
        return {};
    }
    DWORD error = ::GetLastError();
    if (rules::fallsBackToClassicDisposition(error)) {
        error = setDeleteDisposition(handle);
        if (error == ERROR_SUCCESS) {
            return {};
        }
        if (rules::clearsReadOnlyFirst(error, attributes, writesAttributes)) {
            if (!setAttributes(handle, rules::withoutReadOnly(attributes))) {
                return lastError();
            }
            error = setDeleteDisposition(handle);
            if (error == ERROR_SUCCESS) {
                return {};
            }
            // Best effort: the removal's own refusal is what is reported.
            (void)setAttributes(handle, attributes);
        }
    }
    // Another program's deletion may have been first.
    return deletePending(handle) ? std::error_code() : win32Error(error);
}

// Whether what the handle holds, of these attributes, is a link. FAT and exFAT
// answer no FileAttributeTagInfo (ERROR_INVALID_PARAMETER): it is asked only
// of a reparse point, as the platform's library asks it.
Result<bool> isLink(HANDLE handle, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return {false, {}};
    }
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
        return {false, lastError()};
    }
    return {rules::isNameSurrogate(tag.FileAttributes, tag.ReparseTag), {}};
}

// The attributes of what the handle holds, and whether it is a link.
struct Kind {
    DWORD attributes = 0;
    bool link = false;
};

Result<Kind> kindOf(HANDLE handle) {
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        return {{}, lastError()};
    }
    const Result<bool> link = isLink(handle, basic.FileAttributes);
    return {Kind{basic.FileAttributes, link.value}, link.error};
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

void Directory::release(Handle* handle) noexcept {
    delete handle;
}

Result<Directory> Directory::open(const std::filesystem::path& path) {
    Opened opened = openByPath(path, Open::directoryByPath);
    if (!opened.handle) {
        return {{}, win32Error(opened.failure.error)};
    }
    // Backup semantics open files as well as directories.
    const Result<Status> status = statusOfHandle(opened.handle.get());
    if (status.error) {
        return {{}, status.error};
    }
    if (status.value.type != Type::directory) {
        return {{}, win32Error(ERROR_DIRECTORY)};
    }
    return {Directory(new Handle(std::move(opened.handle))), {}};
}

Result<Child> Directory::openChild(NativeName name) const {
    Opened opened = openRelative(handle_->handle.get(), name, Open::child);
    if (!opened.handle) {
        if (opened.failure.error == ERROR_DIRECTORY) {
            return {Child{{}, Met::notDirectory}, {}};
        }
        if (rules::isGone(opened.failure)) {
            return {Child{{}, Met::gone}, {}};
        }
        return {{}, win32Error(opened.failure.error)};
    }
    // It may have become a link since it was listed: the link itself was
    // opened, and a link is never walked. Other reparse points (cloud
    // placeholder folders) are directories with data and are walked.
    const Result<Kind> kind = kindOf(opened.handle.get());
    if (kind.error) {
        return {{}, kind.error};
    }
    if (kind.value.link) {
        return {Child{{}, Met::notDirectory}, {}};
    }
    return {Child{Directory(new Handle(std::move(opened.handle))), Met::directory}, {}};
}

Result<FileIdentity> Directory::identity() const {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle_->handle.get(), &info)) {
        return {{}, lastError()};
    }
    return identityOf(handle_->handle.get(), info);
}

// NtCreateFile takes no ".." relative to a handle, and the parent's handle
// cannot be had otherwise without its path: the chain goes the way by name.
Result<Directory> Directory::openParent() const {
    return {{}, std::make_error_code(std::errc::function_not_supported)};
}

Result<std::optional<ListedEntry>> Directory::next() {
    Handle& h = *handle_;
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
                if (rules::endsListing(error, first)) {
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
        // For a reparse point the listing's EaSize holds its tag.
        const DWORD tag =
            (info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? info->EaSize : 0;
        return {ListedEntry{name, rules::listedKind(info->FileAttributes, tag)}, {}};
    }
}

Result<Status> Directory::status(NativeName name) const {
    const Opened opened = openRelative(handle_->handle.get(), name, Open::status);
    if (!opened.handle) {
        if (rules::readsAbsent(opened.failure)) {
            return {};
        }
        return {{}, win32Error(opened.failure.error)};
    }
    return statusOfHandle(opened.handle.get());
}

// Each entry's query opens it, and an entry's own security can refuse that:
// the listing answers for none.
Result<Type> Directory::typeOf(const ListedEntry& entry) const {
    const auto status = this->status(entry.name);
    return {status.value.type, status.error};
}

std::error_code Directory::removeOldFile(NativeName name, const Status& checked,
                                         Clock::time_point cutoff) const {
    bool writesAttributes = false;
    const Opened opened = openForRemoval(handle_->handle.get(), name, writesAttributes);
    if (!opened.handle) {
        return rules::isGone(opened.failure) ? std::error_code() : win32Error(opened.failure.error);
    }
    const HANDLE entry = opened.handle.get();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(entry, &info)) {
        return lastError();
    }
    const Result<bool> link = isLink(entry, info.dwFileAttributes);
    if (link.error) {
        return link.error;
    }
    // A link was aged by its target and goes itself. Anything else must still
    // be the file that was found old: a file renamed onto the name since then
    // stays. Where the file system keeps no ids, all identities match and the
    // age alone tells.
    if (!link.value) {
        const Result<FileIdentity> identity = identityOf(entry, info);
        if (identity.error) {
            return identity.error;
        }
        if (identity.value != checked.identity || !(lastWriteOf(info) < cutoff)) {
            return win32Error(kNotTheCheckedFile);
        }
    }
    return removeOpened(entry, info.dwFileAttributes, writesAttributes);
}

std::error_code Directory::removeDirectory(NativeName name) const {
    bool writesAttributes = false;
    const Opened opened = openForRemoval(handle_->handle.get(), name, writesAttributes);
    if (!opened.handle) {
        return rules::isGone(opened.failure) ? std::error_code() : win32Error(opened.failure.error);
    }
    const Result<Kind> kind = kindOf(opened.handle.get());
    if (kind.error) {
        return kind.error;
    }
    // A link goes itself, whatever it points to; a file in a directory's place
    // stays. A directory that still holds entries refuses the disposition:
    // that refusal is the test of emptiness.
    if (!kind.value.link && (kind.value.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return win32Error(ERROR_DIRECTORY);
    }
    return removeOpened(opened.handle.get(), kind.value.attributes, writesAttributes);
}

Result<Status> statusOf(const std::filesystem::path& path) {
    const Opened opened = openByPath(path, Open::statusByPath);
    if (!opened.handle) {
        if (rules::isFileNotFound(opened.failure.error)) {
            return {};
        }
        return {{}, win32Error(opened.failure.error)};
    }
    return statusOfHandle(opened.handle.get());
}

void raiseOpenFileLimit() noexcept {
    // Handles are limited only by memory on Windows.
}

}  // namespace norvane::abap::filetree
