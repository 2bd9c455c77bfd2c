// The file-tree layer over the POSIX calls relative to directory descriptors
// (openat, fstatat, unlinkat) and Linux's getdents64.

#include "detail/FileTree.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

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

// The answers that mean "nothing is there": the name is missing, or a link on
// the way leads through something that is no directory. Where a call gives
// ENOTDIR for the name itself (a file where a directory was asked for), it
// tells that first.
bool isGone(int error) {
    return error == ENOENT || error == ENOTDIR;
}

// What a failed call gives: `gone` where nothing is there, else errno's error.
template <class T>
Result<T> goneOrError(T gone) {
    return isGone(errno) ? Result<T>{std::move(gone), {}} : Result<T>{{}, lastError()};
}

// A descriptor, closed when its owner goes.
class UniqueFd {
  public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const noexcept { return fd_; }

  private:
    void reset() noexcept {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }
    int fd_ = -1;
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

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The directory `name` relative to `directoryFd`; errno tells a failure.
UniqueFd openDirectoryAt(int directoryFd, const char* name, int flags) {
    return UniqueFd(::openat(directoryFd, name, kDirectoryFlags | flags));
}

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

Kind kindOfMode(mode_t mode) {
    return S_ISREG(mode)   ? Kind::regular
           : S_ISDIR(mode) ? Kind::directory
           : S_ISLNK(mode) ? Kind::link
                           : Kind::special;
}

Result<Status> statusResult(int outcome, const struct stat& info) {
    if (outcome == 0) {
        return {{kindOfMode(info.st_mode), toSystemClock(info.st_mtim), identityFrom(info)}, {}};
    }
    return goneOrError(Status{});
}

Kind listedKind(int directoryFd, const dirent64& entry) {
    switch (entry.d_type) {
        case DT_REG:
            return Kind::regular;
        case DT_DIR:
            return Kind::directory;
        case DT_LNK:
            return Kind::link;
        case DT_UNKNOWN: {
            // Some file systems leave the kind to a query of the entry itself,
            // which must not follow a link: a link is never entered.
            struct stat info;
            if (::fstatat(directoryFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                return Kind::unknown;
            }
            return kindOfMode(info.st_mode);
        }
        default:
            return Kind::special;
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

    explicit Handle(UniqueFd opened) noexcept : fd(std::move(opened)) {}
};

void Directory::Release::operator()(Handle* handle) const noexcept {
    delete handle;
}

Result<Directory> Directory::open(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(), kDirectoryFlags));
    if (fd.get() < 0) {
        return {{}, lastError()};
    }
    return {adopt(std::move(fd)), {}};
}

Result<Directory::Child> Directory::openChild(NativeName name) const {
    UniqueFd fd = openDirectoryAt(handle().fd.get(), CName(name).get(), O_NOFOLLOW);
    if (fd.get() >= 0) {
        return {{Kind::directory, adopt(std::move(fd))}, {}};
    }
    if (errno == ELOOP) {
        return {{Kind::link, {}}, {}};
    }
    if (errno != ENOTDIR) {
        return goneOrError(Child{Kind::gone, {}});
    }
    // No directory by now. Linux tells a link so too: the name's own status
    // tells which.
    struct stat info;
    if (::fstatat(handle().fd.get(), CName(name).get(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return goneOrError(Child{Kind::gone, {}});
    }
    return {{S_ISLNK(info.st_mode) ? Kind::link : Kind::regular, {}}, {}};
}

Result<FileIdentity> Directory::identity() const {
    struct stat info;
    if (::fstat(handle().fd.get(), &info) != 0) {
        return {{}, lastError()};
    }
    return {identityFrom(info), {}};
}

Result<Directory> Directory::openParent() const {
    UniqueFd fd = openDirectoryAt(handle().fd.get(), "..", O_NOFOLLOW);
    if (fd.get() < 0) {
        return {{}, lastError()};
    }
    return {adopt(std::move(fd)), {}};
}

Result<std::optional<ListedEntry>> Directory::next() {
    Handle& h = handle();
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
    return statusResult(::fstatat(handle().fd.get(), CName(name).get(), &info, 0), info);
}

// There is no removal by descriptor: the name is looked up once more here, and
// what it names goes, be it the file found old or not.
Result<Kind> Directory::removeFile(NativeName name, const OldFile&) const {
    if (::unlinkat(handle().fd.get(), CName(name).get(), 0) == 0) {
        return {Kind::regular, {}};
    }
    return goneOrError(Kind::gone);
}

Result<Kind> Directory::removeDirectory(NativeName name) const {
    const int fd = handle().fd.get();
    const CName cname(name);
    if (::unlinkat(fd, cname.get(), AT_REMOVEDIR) == 0) {
        return {Kind::directory, {}};
    }
    if (errno != ENOTDIR) {
        return goneOrError(Kind::gone);
    }
    // No directory: a link to one is removed as a link; anything else stays.
    struct stat info;
    if (::fstatat(fd, cname.get(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return goneOrError(Kind::gone);
    }
    if (!S_ISLNK(info.st_mode)) {
        return {{}, std::make_error_code(std::errc::not_a_directory)};
    }
    if (::unlinkat(fd, cname.get(), 0) != 0) {
        return goneOrError(Kind::gone);
    }
    return {Kind::link, {}};
}

Result<Status> statusOf(const std::filesystem::path& path) {
    struct stat info;
    return statusResult(::stat(path.c_str(), &info), info);
}

void raiseOpenFileLimit() noexcept {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        (void)::setrlimit(RLIMIT_NOFILE, &limit);  // a refusal leaves the bound to the walk
    }
}

}  // namespace norvane::abap::filetree
