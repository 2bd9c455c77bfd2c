// The file-tree layer over the POSIX calls relative to directory descriptors
// (openat, fstatat, unlinkat) and Linux's getdents64.

#include "detail/FileTree.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvane::abap::filetree {
namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// The only answers that mean "nothing is there": the name is missing, or a
// link on the way leads through something that is no directory.
bool isAbsence(int error) {
    return error == ENOENT || error == ENOTDIR;
}

// A descriptor, closed when the owner goes.
class UniqueFd {
  public:
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const noexcept { return fd_; }

  private:
    int fd_;
};

// The system calls want a terminated name. Listing names fit the buffer; a
// longer one (file systems such as CIFS allow them) is copied to the heap and
// left for the kernel to accept or refuse.
class CName {
  public:
    explicit CName(NativeName name) {
        if (name.size() <= NAME_MAX) {
            std::memcpy(text_, name.data(), name.size());
            text_[name.size()] = '\0';
            pointer_ = text_;
        } else {
            long_.assign(name);
            pointer_ = long_.c_str();
        }
    }
    CName(const CName&) = delete;
    CName& operator=(const CName&) = delete;
    const char* get() const { return pointer_; }

  private:
    char text_[NAME_MAX + 1];
    std::string long_;
    const char* pointer_;
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

FileIdentity identityFrom(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

Status statusFrom(const struct stat& info) {
    Status status;
    status.type = S_ISREG(info.st_mode)   ? Type::regular
                  : S_ISDIR(info.st_mode) ? Type::directory
                                          : Type::other;
    status.lastWrite = toSystemClock(info.st_mtim);
    status.identity = identityFrom(info);
    return status;
}

Result<Status> statusResult(int outcome, const struct stat& info) {
    if (outcome == 0) {
        return {statusFrom(info), {}};
    }
    if (isAbsence(errno)) {
        return {};
    }
    return {{}, lastError()};
}

Listed kindOfMode(mode_t mode) {
    return S_ISREG(mode)   ? Listed::regular
           : S_ISDIR(mode) ? Listed::directory
           : S_ISLNK(mode) ? Listed::link
                           : Listed::special;
}

Listed listedKind(int directoryFd, const dirent64& entry) {
    switch (entry.d_type) {
        case DT_REG:
            return Listed::regular;
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
            return kindOfMode(info.st_mode);
        }
        default:
            return Listed::special;
    }
}

// A listing is read into 32 KiB, enough for most log folders in one call. One
// that fills more than half of it goes on in 256 KiB, a call per several
// thousand entries. Only open levels of a walk hold a buffer.
constexpr std::size_t kListingBytes = 32 * 1024;
constexpr std::size_t kLargeListingBytes = 256 * 1024;

}  // namespace

// The descriptor, and its listing buffer once the listing is read. The
// listing is read with getdents64 itself: a directory stream would cost two
// more system calls for every directory opened.
struct Directory::Handle {
    UniqueFd fd;
    std::unique_ptr<char[]> listing;
    std::size_t capacity = 0;
    std::size_t offset = 0;
    std::size_t filled = 0;
    bool finished = false;
    bool searchable = false;  // a query of a name in it has been answered

    explicit Handle(int opened) : fd(opened) {}
};

void Directory::release(Handle* handle) noexcept {
    delete handle;
}

Result<Directory> Directory::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return {{}, lastError()};
    }
    return {Directory(new Handle(fd)), {}};
}

Result<Child> Directory::openChild(NativeName name) const {
    const int fd = ::openat(handle_->fd.get(), CName(name).get(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        return {{Directory(new Handle(fd)), Met::directory}, {}};
    }
    switch (errno) {
        case ENOENT:
            return {{Directory(), Met::gone}, {}};
        case ELOOP:    // a link by now
        case ENOTDIR:  // a file by now
            return {{Directory(), Met::notDirectory}, {}};
        default:
            return {{}, lastError()};
    }
}

Result<FileIdentity> Directory::identity() const {
    struct stat info;
    if (::fstat(handle_->fd.get(), &info) != 0) {
        return {{}, lastError()};
    }
    return {identityFrom(info), {}};
}

Result<Directory> Directory::openParent() const {
    const int fd =
        ::openat(handle_->fd.get(), "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return {{}, lastError()};
    }
    return {Directory(new Handle(fd)), {}};
}

Result<std::optional<ListedEntry>> Directory::next() {
    Handle& h = *handle_;
    for (;;) {
        if (h.offset >= h.filled) {
            if (h.finished) {
                return {};
            }
            const std::size_t wanted =
                h.filled > kListingBytes / 2 ? kLargeListingBytes : kListingBytes;
            if (h.capacity < wanted) {
                h.listing = std::make_unique_for_overwrite<char[]>(wanted);
                h.capacity = wanted;
            }
            const ssize_t read = ::getdents64(h.fd.get(), h.listing.get(), h.capacity);
            if (read <= 0) {
                h.finished = true;
                return {std::nullopt, read < 0 ? lastError() : std::error_code()};
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
        return {ListedEntry{NativeName(name), listedKind(h.fd.get(), *found)}, {}};
    }
}

Result<Status> Directory::status(NativeName name) const {
    struct stat info;
    auto status = statusResult(::fstatat(handle_->fd.get(), CName(name).get(), &info, 0), info);
    // Even "no such entry" means the name was looked up: the kernel checks the
    // search permission before the lookup.
    handle_->searchable = handle_->searchable || !status.error;
    return status;
}

Result<Type> Directory::typeOf(const ListedEntry& entry) const {
    if (handle_->searchable) {
        switch (entry.kind) {
            case Listed::regular:
                return {Type::regular, {}};
            case Listed::directory:
                return {Type::directory, {}};
            case Listed::special:
                return {Type::other, {}};
            case Listed::link:
            case Listed::other:
                break;
        }
    }
    const auto status = this->status(entry.name);
    return {status.value.type, status.error};
}

// There is no removal by descriptor: the name is looked up once more here.
std::error_code Directory::removeOldFile(NativeName name, const Status&, Clock::time_point) const {
    if (::unlinkat(handle_->fd.get(), CName(name).get(), 0) != 0 && errno != ENOENT) {
        return lastError();
    }
    return {};
}

std::error_code Directory::removeDirectory(NativeName name) const {
    const CName cname(name);
    if (::unlinkat(handle_->fd.get(), cname.get(), AT_REMOVEDIR) == 0 || errno == ENOENT) {
        return {};
    }
    if (errno != ENOTDIR) {
        return lastError();
    }
    // No directory: a link to one is removed as a link; anything else stays.
    struct stat info;
    if (::fstatat(handle_->fd.get(), cname.get(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? std::error_code() : lastError();
    }
    if (!S_ISLNK(info.st_mode)) {
        return std::make_error_code(std::errc::not_a_directory);
    }
    if (::unlinkat(handle_->fd.get(), cname.get(), 0) != 0 && errno != ENOENT) {
        return lastError();
    }
    return {};
}

Result<Status> statusOf(const std::filesystem::path& path) {
    struct stat info;
    return statusResult(::stat(path.c_str(), &info), info);
}

void raiseOpenFileLimit() noexcept {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        (void)::setrlimit(RLIMIT_NOFILE, &limit);  // a refusal leaves the bound in the walk
    }
}

}  // namespace norvane::abap::filetree
