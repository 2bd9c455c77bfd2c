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
//   Windows also one whose deletion is pending) is reported as Kind::gone, not
//   as an error; every other failure is returned as the platform's error.
// - Between the query that finds a file old and its removal the name is looked
//   up again. On Windows the removal reads age and identity once more on the
//   handle that removes, so a file renamed onto the name in between is kept.
//   POSIX has no removal by descriptor: there a file renamed onto the name in
//   the moment between the query and the removal is removed in its place.
//
// One source file per platform implements it (FileTree_posix.cpp,
// FileTree_win.cpp). Every call reports its failure in what it returns.

#include <cassert>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace norvane::abap::filetree {

using Clock = std::chrono::system_clock;
using NativeChar = std::filesystem::path::value_type;
using NativeName = std::basic_string_view<NativeChar>;
using NativeString = std::filesystem::path::string_type;

// What stands under a name, as far as the call that met it can tell.
enum class Kind {
    gone,       // nothing by now, or (to a status query) a link that leads nowhere
    directory,  // a real directory
    link,       // a symbolic link, junction or other name surrogate: never entered
    regular,    // a regular file
    special,    // a pipe, socket or device
    unknown,    // a listing that does not tell (a file on Windows)
};

// What a call gives: its value, or the error that kept it from one.
template <class T>
struct [[nodiscard]] Result {
    T value{};
    std::error_code error;
};

// Whether the listing's kind of an entry that is no link is what a status
// query would read, once a query in that directory has been answered (POSIX:
// only the search permission on the directory could fail such a query). On
// Windows an entry's own security can refuse its query: the listing answers
// for none.
#ifdef _WIN32
inline constexpr bool kListingAnswersForStatus = false;
#else
inline constexpr bool kListingAnswersForStatus = true;
#endif

struct ListedEntry {
    NativeName name;  // valid until the listing moves on
    Kind kind = Kind::unknown;
};

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

// An entry's kind (gone, regular, directory or special), last write and
// identity, read fresh, following links.
struct Status {
    Kind kind = Kind::gone;
    Clock::time_point lastWrite;
    FileIdentity identity;
};

// What a file found old must still be when it is removed, where the platform
// can tell (see above).
struct OldFile {
    FileIdentity identity;
    Clock::time_point writtenBefore;
};

// An open directory, closed when the object goes. Every member but the
// boolean test requires an open one (asserted): only a default-made or
// moved-from Directory is closed.
class Directory {
  public:
    // Opens the directory at `path`, following links: a purge directory that
    // is itself a link is worked on through it.
    [[nodiscard]] static Result<Directory> open(const std::filesystem::path& path);

    explicit operator bool() const noexcept { return handle_ != nullptr; }

    // Opens the subdirectory `name` without following a link. Kind::directory
    // comes with the open directory; Kind::link or Kind::regular (a file by
    // now) or Kind::gone with none.
    struct Child;
    [[nodiscard]] Result<Child> openChild(NativeName name) const;

    // The identity of this directory itself.
    [[nodiscard]] Result<FileIdentity> identity() const;

    // The directory that holds this one now, wherever that is; a closed one
    // where the platform cannot open a parent through a handle.
    [[nodiscard]] Result<Directory> openParent() const;

    // The next entry of the listing, without "." and ".."; none at its end.
    [[nodiscard]] Result<std::optional<ListedEntry>> next();

    // The status of `name`, following links; one that is gone reads Kind::gone.
    [[nodiscard]] Result<Status> status(NativeName name) const;

    // Removes the file or link `name` itself, never a link's target, provided
    // it is still `old` where the platform can tell. Gives what it removed, or
    // Kind::gone where nothing was there any more.
    [[nodiscard]] Result<Kind> removeFile(NativeName name, const OldFile& old) const;

    // Removes the empty directory `name`, or the link `name` itself when it is
    // one, whatever it points to. Gives what it removed, or Kind::gone; a file
    // in its place is left alone and reported as not removed.
    [[nodiscard]] Result<Kind> removeDirectory(NativeName name) const;

  private:
    struct Handle;  // the platform's, defined with its layer
    struct Release {
        void operator()(Handle* handle) const noexcept;  // closes it
    };

    // Only the platform's layer, where Handle is complete, makes one.
    template <class... Args>
    static Directory adopt(Args&&... args) {
        Directory directory;
        directory.handle_.reset(new Handle(std::forward<Args>(args)...));
        return directory;
    }
    Handle& handle() const noexcept {
        assert(handle_ != nullptr);
        return *handle_;
    }

    std::unique_ptr<Handle, Release> handle_;
};

struct Directory::Child {
    Kind kind = Kind::gone;
    Directory directory;  // open where `kind` is Kind::directory
};

// The status of `path`, following links. A path that does not exist, or that
// leads through something that is no directory, reads Kind::gone.
[[nodiscard]] Result<Status> statusOf(const std::filesystem::path& path);

// Lets the process hold as many open descriptors as its hard limit allows
// (nothing to do on Windows, where handles are bounded by memory). Deep trees
// hold one directory open per level up to a bound.
void raiseOpenFileLimit() noexcept;

}  // namespace norvane::abap::filetree
