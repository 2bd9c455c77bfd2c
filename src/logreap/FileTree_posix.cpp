#include "detail/FileTree.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace norvane::abap::filetree {
namespace {

using Clock = std::chrono::system_clock;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

bool isAbsence(int error) {
    return error == ENOENT || error == ENOTDIR;
}

// clear() looks the category up through a call; most entries find it clear.
void markSuccess(std::error_code& ec) {
    if (ec) {
        ec.clear();
    }
}

// The system calls want a terminated name; listing names are short.
class CName {
  public:
    explicit CName(NativeName name) : length_(name.size()) {
        if (length_ <= NAME_MAX) {
            std::memcpy(text_, name.data(), length_);
            text_[length_] = '\0';
        }
    }
    // Null for a name no file system holds, so that the call fails cleanly.
    const char* get() const { return length_ <= NAME_MAX ? text_ : nullptr; }

  private:
    std::size_t length_;
    char text_[NAME_MAX + 1];
};

// Seconds and nanoseconds since 1970 on the system clock, saturated at its range.
Clock::time_point toSystemClock(const timespec& time) {
    using std::chrono::duration_cast;
    using std::chrono::nanoseconds;
    using std::chrono::seconds;
    constexpr auto kMaxSeconds = duration_cast<seconds>(Clock::duration::max()).count() - 1;
    constexpr auto kMinSeconds = duration_cast<seconds>(Clock::duration::min()).count() + 1;
    if (time.tv_sec > kMaxSeconds) {
        return Clock::time_point::max();
    }
    if (time.tv_sec < kMinSeconds) {
        return Clock::time_point::min();
    }
    return Clock::time_point(duration_cast<Clock::duration>(seconds(time.tv_sec)) +
                             duration_cast<Clock::duration>(nanoseconds(time.tv_nsec)));
}

Status statusFrom(const struct stat& info) {
    Status status;
    status.type = S_ISREG(info.st_mode)   ? Type::regular
                  : S_ISDIR(info.st_mode) ? Type::directory
                                          : Type::other;
    status.lastWrite = toSystemClock(info.st_mtim);
    return status;
}

Listed listedKind(int directoryFd, const dirent64& entry) {
    switch (entry.d_type) {
        case DT_DIR:
            return Listed::directory;
        case DT_LNK:
            return Listed::link;
        case DT_UNKNOWN: {
            // Some file systems leave the kind to a query of the entry itself.
            struct stat info;
            if (::fstatat(directoryFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                return Listed::other;
            }
            return S_ISDIR(info.st_mode)   ? Listed::directory
                   : S_ISLNK(info.st_mode) ? Listed::link
                                           : Listed::other;
        }
        default:
            return Listed::other;
    }
}

}  // namespace

constexpr std::size_t kListingBytes = 32 * 1024;

// The descriptor, and its listing buffer once one is asked for. The listing
// is read with getdents64 itself: a directory stream would cost two more
// system calls for every directory opened.
struct Directory::Handle {
    int fd = -1;
    std::unique_ptr<char[]> listing;
    std::size_t offset = 0;
    std::size_t filled = 0;
    bool finished = false;

    explicit Handle(int opened) : fd(opened) {}
    ~Handle() { ::close(fd); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

void Directory::release(Handle* handle) noexcept {
    delete handle;
}

Directory Directory::open(const std::filesystem::path& path, std::error_code& ec) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        ec = lastError();
        return {};
    }
    markSuccess(ec);
    return Directory(new Handle(fd));
}

Directory Directory::openChild(NativeName name, std::error_code& ec) const {
    const int fd =
        ::openat(handle_->fd, CName(name).get(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // ELOOP: a link by now; ENOTDIR: no directory by now. Neither is walked.
        ec = (errno == ELOOP || errno == ENOTDIR) ? std::error_code() : lastError();
        return {};
    }
    markSuccess(ec);
    return Directory(new Handle(fd));
}

bool Directory::next(ListedEntry& entry, std::error_code& ec) {
    markSuccess(ec);
    Handle& h = *handle_;
    if (!h.listing) {
        h.listing = std::make_unique_for_overwrite<char[]>(kListingBytes);
    }
    for (;;) {
        if (h.offset >= h.filled) {
            if (h.finished) {
                return false;
            }
            const ssize_t read = ::getdents64(h.fd, h.listing.get(), kListingBytes);
            if (read <= 0) {
                h.finished = true;
                if (read < 0) {
                    ec = lastError();
                }
                return false;
            }
            h.filled = static_cast<std::size_t>(read);
            h.offset = 0;
        }
        const auto* found = reinterpret_cast<const dirent64*>(h.listing.get() + h.offset);
        h.offset += found->d_reclen;
        const char* name = found->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        entry.name = NativeName(name);
        entry.kind = listedKind(h.fd, *found);
        return true;
    }
}

Status Directory::status(NativeName name, std::error_code& ec) const {
    struct stat info;
    if (::fstatat(handle_->fd, CName(name).get(), &info, 0) != 0) {
        ec = isAbsence(errno) ? std::error_code() : lastError();
        return {};
    }
    markSuccess(ec);
    return statusFrom(info);
}

std::optional<FileIdentity> Directory::identity(NativeName name) const {
    struct stat info;
    if (::fstatat(handle_->fd, CName(name).get(), &info, 0) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino)};
}

std::error_code Directory::removeFile(NativeName name) const {
    if (::unlinkat(handle_->fd, CName(name).get(), 0) != 0) {
        return lastError();
    }
    return {};
}

std::error_code Directory::removeDirectory(NativeName name) const {
    const CName cname(name);
    if (::unlinkat(handle_->fd, cname.get(), AT_REMOVEDIR) == 0 || errno == ENOENT) {
        return {};
    }
    if (errno != ENOTDIR) {
        return lastError();
    }
    // No directory: a link to one is removed as a link; anything else stays.
    struct stat info;
    if (::fstatat(handle_->fd, cname.get(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? std::error_code() : lastError();
    }
    if (!S_ISLNK(info.st_mode)) {
        return std::make_error_code(std::errc::not_a_directory);
    }
    return removeFile(name);
}

Status statusOf(const std::filesystem::path& path, std::error_code& ec) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        ec = isAbsence(errno) ? std::error_code() : lastError();
        return {};
    }
    markSuccess(ec);
    return statusFrom(info);
}

std::optional<FileIdentity> identityOf(const std::filesystem::path& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino)};
}

bool isGone(const std::error_code& ec) {
    return ec.category() == std::generic_category() && isAbsence(ec.value());
}

}  // namespace norvane::abap::filetree
