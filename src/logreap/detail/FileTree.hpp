#pragma once

// The purge's file-system work, relative to open directory handles: a tree is
// walked, queried and pruned through handles of the directories it holds, so
// that no path is resolved twice and no link met below the purge directory is
// ever followed into. One source file per platform implements it
// (FileTree_posix.cpp, FileTree_win.cpp).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace norvane::abap::filetree {

using NativeChar = std::filesystem::path::value_type;
using NativeName = std::basic_string_view<NativeChar>;

// How the directory listing shows an entry.
enum class Listed {
    directory,  // a real directory: the walk descends into it
    link,       // a symbolic link, junction or other name surrogate: never descended
    other,      // a file, or an entry of any other kind
};

struct ListedEntry {
    NativeName name;  // valid until the listing moves on
    Listed kind = Listed::other;
};

enum class Type { absent, regular, directory, other };

// An entry's kind and last write, read fresh, following links.
struct Status {
    Type type = Type::absent;
    std::chrono::system_clock::time_point lastWrite;
};

// What tells two names of one file apart from two files.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// An open directory, closed when the object goes. Empty when default-made or
// when the entry it was asked for is no real directory (any more).
class Directory {
  public:
    Directory() = default;
    ~Directory() { release(handle_); }
    Directory(Directory&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Directory& operator=(Directory&& other) noexcept {
        if (this != &other) {
            release(std::exchange(handle_, std::exchange(other.handle_, nullptr)));
        }
        return *this;
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    // Opens the directory at `path`, following links: a purge directory that
    // is itself a link is worked on through it.
    static Directory open(const std::filesystem::path& path, std::error_code& ec);

    // Opens the subdirectory `name` without following a link. An entry that is
    // a link or no directory by now yields an empty Directory and no error.
    Directory openChild(NativeName name, std::error_code& ec) const;

    explicit operator bool() const noexcept { return handle_ != nullptr; }

    // The next entry of the listing, without "." and ".."; false at its end
    // or on error.
    bool next(ListedEntry& entry, std::error_code& ec);

    // The status of `name`, following links. An entry that is gone reads as
    // absent without an error.
    Status status(NativeName name, std::error_code& ec) const;

    // The identity of the file `name` names, following links.
    std::optional<FileIdentity> identity(NativeName name) const;

    // Removes the file or link `name` itself, never a link's target.
    std::error_code removeFile(NativeName name) const;

    // Removes the empty directory `name`, or the link `name` itself when it is
    // one. An entry that is gone counts as removed; one that became a file is
    // left alone and reported as not removed.
    std::error_code removeDirectory(NativeName name) const;

  private:
    struct Handle;  // the platform's, closed by its destructor
    explicit Directory(Handle* handle) noexcept : handle_(handle) {}
    static void release(Handle* handle) noexcept;
    Handle* handle_ = nullptr;
};

// The status of `path`, following links; absence is no error.
Status statusOf(const std::filesystem::path& path, std::error_code& ec);

// The identity of the file at `path`, following links.
std::optional<FileIdentity> identityOf(const std::filesystem::path& path);

// Whether `ec` says that an entry, or a directory on its way, does not exist.
bool isGone(const std::error_code& ec);

}  // namespace norvane::abap::filetree
