#pragma once

// The purge's file-system work, relative to open directory handles. Only the
// purge directory is opened by its path; every entry beneath it is reached by
// name from its parent's open handle, so a directory swapped for a link while
// the purge runs is never entered through the link.
//
// What the layer holds to, and where it stops:
// - A link is never entered and never removed through: openChild does not
//   follow one, and the removals take a link itself, never its target. Only
//   status queries follow links, as the purge reads a link's age from its
//   target.
// - An entry that is gone when it is listed, queried, opened or removed (on
//   Windows also one whose deletion is pending) is reported as gone, not as an
//   error; every other failure is returned as the platform's error.
// - Between the query that finds a file old and its removal the name is looked
//   up again. On Windows the removal reads age and identity once more on the
//   handle that removes, so a file renamed onto the name in between is kept.
//   POSIX has no removal by descriptor: there a file renamed onto the name in
//   the moment between the query and the removal is removed in its place.
//
// One source file per platform implements it (FileTree_posix.cpp,
// FileTree_win.cpp). Every call reports its failure in what it returns.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace norvane::abap::filetree {

using Clock = std::chrono::system_clock;
using NativeChar = std::filesystem::path::value_type;
using NativeName = std::basic_string_view<NativeChar>;
using NativeString = std::filesystem::path::string_type;

// What a call returns: its value, or the error that kept it from one.
template <class T>
struct [[nodiscard]] Result {
    T value{};
    std::error_code error;
};

// How the directory listing shows an entry.
enum class Listed {
    directory,  // a real directory: the walk descends into it
    link,       // a symbolic link, junction or other name surrogate: never descended
    regular,    // a regular file, where the listing tells them apart (POSIX)
    special,    // a pipe, socket or device (POSIX)
    other,      // a file, or an entry of a kind the listing does not tell
};

struct ListedEntry {
    NativeName name;  // valid until the listing moves on
    Listed kind = Listed::other;
};

enum class Type { absent, regular, directory, other };

// What tells two names of one file apart from two files: the volume and the
// file's id on it, of 128 bits where the file system has such ids (ReFS). A
// file system that keeps no ids reports 0: such an identity is unknown, and
// tells no file from another.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t fileHigh = 0;  // the upper half of a 128-bit id
    bool known() const noexcept { return file != 0 || fileHigh != 0; }
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// An entry's kind, last write and identity, read fresh, following links.
// `absent`: the entry is gone, or a link leads nowhere.
struct Status {
    Type type = Type::absent;
    Clock::time_point lastWrite;
    FileIdentity identity;
};

// What stood under a subdirectory's name when it was opened.
enum class Met {
    directory,     // opened
    notDirectory,  // a link or a file by now: not walked
    gone,          // nothing by now
};

struct Child;

// An open directory, closed when the object goes. Every member but the
// boolean test requires an open one: only a default-made or moved-from
// Directory is empty.
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
    static Result<Directory> open(const std::filesystem::path& path);

    // Opens the subdirectory `name` without following a link.
    Result<Child> openChild(NativeName name) const;

    explicit operator bool() const noexcept { return handle_ != nullptr; }

    // The identity of this directory itself.
    Result<FileIdentity> identity() const;

    // The directory that holds this one now, wherever that is; an error
    // where the platform cannot open a parent through a handle.
    Result<Directory> openParent() const;

    // The next entry of the listing, without "." and ".."; none at its end.
    Result<std::optional<ListedEntry>> next();

    // The status of `name`, following links; one that is gone reads absent.
    Result<Status> status(NativeName name) const;

    // The type that status(entry.name) would read, with its error, where a
    // status query could fail. On POSIX the listing answers for all but links
    // once a first query in this directory has been answered: only the search
    // permission on the directory could fail a query of an entry that is no
    // link. Elsewhere it is the status query's type.
    Result<Type> typeOf(const ListedEntry& entry) const;

    // Removes the file or link `name` itself, never a link's target, provided
    // it is still the file that `checked` described and was last written
    // before `cutoff` (where the platform can tell; see above). One that is
    // gone counts as removed.
    std::error_code removeOldFile(NativeName name, const Status& checked,
                                  Clock::time_point cutoff) const;

    // Removes the empty directory `name`, or the link `name` itself when it is
    // one, whatever it points to. One that is gone counts as removed; a file
    // in its place is left alone and reported as not removed.
    std::error_code removeDirectory(NativeName name) const;

  private:
    struct Handle;  // the platform's, closed by its destructor
    explicit Directory(Handle* handle) noexcept : handle_(handle) {}
    static void release(Handle* handle) noexcept;
    Handle* handle_ = nullptr;
};

struct Child {
    Directory directory;  // open where `met` is Met::directory
    Met met = Met::gone;
};

// The status of `path`, following links. A path that does not exist, or that
// leads through something that is no directory, reads absent.
Result<Status> statusOf(const std::filesystem::path& path);

// Lets the process hold as many open descriptors as its hard limit allows.
// Deep trees hold one directory open per level up to a bound.
void raiseOpenFileLimit() noexcept;

}  // namespace norvane::abap::filetree
