// The file-tree layer over the Win32 and NT wide API. The runtime's own file
// system is not used: it knows no links, reads times at whole seconds through
// the C runtime and lists directories through functions bound to MAX_PATH.
// Only the purge directory is opened by path, in its \\?\ form; everything
// beneath it is opened by name relative to its parent's handle.

#include <memory>
#include <string>

#include <windows.h>
#include <winternl.h>

#include "detail/FileTree.hpp"
#include "detail/WindowsFileRules.hpp"

namespace norvane::abap::filetree {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kListingBytes = 64 * 1024;

std::error_code win32Error(DWORD code) {
    return {static_cast<int>(code), std::system_category()};
}

bool isAbsence(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_DIRECTORY:
            return true;
        default:
            return false;
    }
}

// The path, made absolute (GetFullPathNameW takes long paths), in its \\?\ form.
std::wstring extendedLengthPath(const std::filesystem::path& path, DWORD& error) {
    const std::wstring& given = path.native();
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()),
                                                full.data(), nullptr);
        if (length == 0) {
            error = ::GetLastError();
            return {};
        }
        if (length < full.size()) {
            full.resize(length);
            return windows::withExtendedLengthPrefix(full);
        }
        full.resize(length);
    }
}

// Opens `path` following links, with `access`; directories too.
HANDLE openPath(const std::filesystem::path& path, DWORD access, DWORD& error) {
    const std::wstring extended = extendedLengthPath(path, error);
    if (extended.empty()) {
        return nullptr;
    }
    const HANDLE handle = ::CreateFileW(extended.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return nullptr;
    }
    return handle;
}

// Opens `name` in the directory `parent`; `options` are NtCreateFile's
// (FILE_OPEN_REPARSE_POINT opens a link itself rather than its target).
HANDLE openRelative(HANDLE parent, NativeName name, ACCESS_MASK access, ULONG options,
                    DWORD& error) {
    const auto bytes = name.size() * sizeof(wchar_t);
    if (bytes > 0xFFFE) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return nullptr;
    }
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.data());
    text.Length = text.MaximumLength = static_cast<USHORT>(bytes);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const NTSTATUS status = ::NtCreateFile(
        &handle, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, kShareAll, FILE_OPEN,
        options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT, nullptr, 0);
    if (status < 0) {
        error = ::RtlNtStatusToDosError(status);
        return nullptr;
    }
    return handle;
}

// Closes the handle when the scope is left.
struct ScopedHandle {
    HANDLE handle;
    ~ScopedHandle() {
        if (handle != nullptr) {
            ::CloseHandle(handle);
        }
    }
};

Status statusOfHandle(HANDLE handle, std::error_code& ec) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        ec = win32Error(::GetLastError());
        return {};
    }
    ec.clear();
    Status status;
    status.type =
        (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Type::directory : Type::regular;
    status.lastWrite = windows::fileTimeToSystemClock(basic.LastWriteTime.QuadPart);
    return status;
}

std::optional<FileIdentity> identityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        return std::nullopt;
    }
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

bool markForDeletion(HANDLE handle, DWORD& error) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition)) {
        error = ::GetLastError();
        return false;
    }
    return true;
}

}  // namespace

// The handle, and its listing buffer once one is asked for.
struct Directory::Handle {
    HANDLE handle = nullptr;
    std::unique_ptr<std::uint64_t[]> listing;  // FILE_FULL_DIR_INFO records, 8-byte aligned
    DWORD offset = 0;
    bool filled = false;
    bool finished = false;

    explicit Handle(HANDLE opened) : handle(opened) {}
    ~Handle() { ::CloseHandle(handle); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

void Directory::release(Handle* handle) noexcept {
    delete handle;
}

Directory Directory::open(const std::filesystem::path& path, std::error_code& ec) {
    DWORD error = 0;
    const HANDLE handle =
        openPath(path, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES, error);
    if (handle == nullptr) {
        ec = win32Error(error);
        return {};
    }
    Directory directory(new Handle(handle));
    const Status status = statusOfHandle(handle, ec);
    if (!ec && status.type != Type::directory) {
        ec = win32Error(ERROR_DIRECTORY);
    }
    return ec ? Directory() : std::move(directory);
}

Directory Directory::openChild(NativeName name, std::error_code& ec) const {
    DWORD error = 0;
    const HANDLE handle = openRelative(handle_->handle, name,
                                       FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                       FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, error);
    if (handle == nullptr) {
        // No directory by now: not walked, and no error.
        ec = error == ERROR_DIRECTORY ? std::error_code() : win32Error(error);
        return {};
    }
    Directory child(new Handle(handle));
    // It may have become a link since it was listed; a link is never walked.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
        ec = win32Error(::GetLastError());
        return {};
    }
    ec.clear();
    if (windows::isNameSurrogate(tag.FileAttributes, tag.ReparseTag)) {
        return {};
    }
    return child;
}

bool Directory::next(ListedEntry& entry, std::error_code& ec) {
    ec.clear();
    Handle& h = *handle_;
    if (!h.listing) {
        h.listing = std::make_unique<std::uint64_t[]>(kListingBytes / sizeof(std::uint64_t));
    }
    for (;;) {
        if (!h.filled) {
            if (h.finished) {
                return false;
            }
            if (!::GetFileInformationByHandleEx(h.handle, FileFullDirectoryInfo, h.listing.get(),
                                                kListingBytes)) {
                const DWORD error = ::GetLastError();
                h.finished = true;
                if (error != ERROR_NO_MORE_FILES) {
                    ec = win32Error(error);
                }
                return false;
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
        entry.name = name;
        // For a reparse point the listing's EaSize holds its tag.
        const DWORD tag =
            (info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? info->EaSize : 0;
        entry.kind = windows::listedKind(info->FileAttributes, tag);
        return true;
    }
}

Status Directory::status(NativeName name, std::error_code& ec) const {
    DWORD error = 0;
    const ScopedHandle entry{openRelative(handle_->handle, name, FILE_READ_ATTRIBUTES, 0, error)};
    if (entry.handle == nullptr) {
        ec = isAbsence(error) ? std::error_code() : win32Error(error);
        return {};
    }
    return statusOfHandle(entry.handle, ec);
}

std::optional<FileIdentity> Directory::identity(NativeName name) const {
    DWORD error = 0;
    const ScopedHandle entry{openRelative(handle_->handle, name, FILE_READ_ATTRIBUTES, 0, error)};
    return entry.handle == nullptr ? std::nullopt : identityOfHandle(entry.handle);
}

std::error_code Directory::removeFile(NativeName name) const {
    DWORD error = 0;
    const ScopedHandle entry{openRelative(
        handle_->handle, name, DELETE, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, error)};
    if (entry.handle == nullptr || !markForDeletion(entry.handle, error)) {
        return win32Error(error);
    }
    return {};
}

std::error_code Directory::removeDirectory(NativeName name) const {
    DWORD error = 0;
    // A directory, or a link to one, opened itself; a file in its place fails.
    const ScopedHandle entry{openRelative(handle_->handle, name, DELETE | FILE_READ_ATTRIBUTES,
                                          FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, error)};
    if (entry.handle == nullptr) {
        return error != ERROR_DIRECTORY && isAbsence(error) ? std::error_code() : win32Error(error);
    }
    // Refused for a directory that still holds entries.
    if (!markForDeletion(entry.handle, error)) {
        return win32Error(error);
    }
    return {};
}

Status statusOf(const std::filesystem::path& path, std::error_code& ec) {
    DWORD error = 0;
    const ScopedHandle entry{openPath(path, FILE_READ_ATTRIBUTES, error)};
    if (entry.handle == nullptr) {
        ec = isAbsence(error) ? std::error_code() : win32Error(error);
        return {};
    }
    return statusOfHandle(entry.handle, ec);
}

std::optional<FileIdentity> identityOf(const std::filesystem::path& path) {
    DWORD error = 0;
    const ScopedHandle entry{openPath(path, FILE_READ_ATTRIBUTES, error)};
    return entry.handle == nullptr ? std::nullopt : identityOfHandle(entry.handle);
}

bool isGone(const std::error_code& ec) {
    return ec.category() == std::system_category() && isAbsence(static_cast<DWORD>(ec.value()));
}

}  // namespace norvane::abap::filetree
