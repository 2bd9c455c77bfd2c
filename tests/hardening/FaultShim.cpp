// Preloaded (LD_PRELOAD) into whole runs of the binary, standing in for other
// programs and failing disks. Armed by LOGREAP_FAULT_CALL (openat, fstatat or
// unlinkat on an entry whose name matches the pattern LOGREAP_FAULT_NAME;
// getdents64 on the listing of a directory of such a name), only on the
// LOGREAP_FAULT_NTH such call where that is given: the call fails with
// LOGREAP_FAULT_ERRNO or, without one, is made after LOGREAP_FAULT_MOVE_FROM
// (a path; by default the entry itself) was moved to LOGREAP_FAULT_MOVE_TO,
// with a link to where it went left in its place under LOGREAP_FAULT_LINK.
// An armed listing hands out one entry a call, so that a fault can meet it
// midway. Listings of directories named as LOGREAP_FAULT_UNTYPED give no
// entry's type, and LOGREAP_FAULT_NO_PARENT refuses every opening of "..",
// whatever is armed. Each fault appends a line to LOGREAP_FAULT_REPORT, so
// that the tests know it met.

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <class Function>
Function next(Function, const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// Whether the last component of `name`, an entry's name or a whole path, matches `pattern`.
bool named(const char* pattern, const char* name) {
    const char* base = name == nullptr ? nullptr : std::strrchr(name, '/');
    return pattern != nullptr && name != nullptr &&
           ::fnmatch(pattern, base == nullptr ? name : base + 1, 0) == 0;
}

bool armed(const char* call, const char* name) {
    const char* armedCall = std::getenv("LOGREAP_FAULT_CALL");
    return armedCall != nullptr && std::strcmp(armedCall, call) == 0 &&
           named(std::getenv("LOGREAP_FAULT_NAME"), name);
}

void report(const char* call, const char* name) {
    if (std::FILE* report = std::fopen(std::getenv("LOGREAP_FAULT_REPORT"), "a")) {
        std::fprintf(report, "%s %s\n", call, name);
        std::fclose(report);
    }
}

// Whether the armed `call` on `name`, relative to `dirfd` or a whole path, is
// to fail (errno set) after the fault armed for it was injected.
bool inject(const char* call, int dirfd, const char* name) {
    static int met = 0;
    const char* nth = std::getenv("LOGREAP_FAULT_NTH");
    if (nth != nullptr && ++met != std::atoi(nth)) {
        return false;
    }
    const char* error = std::getenv("LOGREAP_FAULT_ERRNO");
    const char* moveTo = std::getenv("LOGREAP_FAULT_MOVE_TO");
    const char* from = std::getenv("LOGREAP_FAULT_MOVE_FROM");
    const int fromFd = from == nullptr ? dirfd : AT_FDCWD;
    from = from == nullptr ? name : from;
    char target[PATH_MAX];
    if (error == nullptr && moveTo != nullptr &&
        (::renameat(fromFd, from, AT_FDCWD, moveTo) != 0 ||
         (std::getenv("LOGREAP_FAULT_LINK") != nullptr &&
          (::realpath(moveTo, target) == nullptr || ::symlinkat(target, fromFd, from) != 0)))) {
        return false;
    }
    report(call, name);
    errno = error == nullptr ? 0 : std::atoi(error);
    return error != nullptr;
}

}  // namespace

extern "C" {

int openat(int dirfd, const char* name, int flags, ...) {
    static const auto real = next(&openat, "openat");
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list rest;
        va_start(rest, flags);
        mode = va_arg(rest, mode_t);
        va_end(rest);
    }
    if (std::getenv("LOGREAP_FAULT_NO_PARENT") != nullptr && std::strcmp(name, "..") == 0) {
        errno = EACCES;
        return -1;
    }
    return armed("openat", name) && inject("openat", dirfd, name) ? -1
                                                                  : real(dirfd, name, flags, mode);
}

int fstatat(int dirfd, const char* name, struct stat* info, int flags) noexcept {
    static const auto real = next(&fstatat, "fstatat");
    return armed("fstatat", name) && inject("fstatat", dirfd, name)
               ? -1
               : real(dirfd, name, info, flags);
}

int unlinkat(int dirfd, const char* name, int flags) noexcept {
    static const auto real = next(&unlinkat, "unlinkat");
    return armed("unlinkat", name) && inject("unlinkat", dirfd, name) ? -1
                                                                      : real(dirfd, name, flags);
}

ssize_t getdents64(int fd, void* buffer, size_t size) noexcept {
    static const auto real = next(&getdents64, "getdents64");
    char link[32];
    char path[PATH_MAX] = {};  // the listed directory's, terminated as readlink leaves the rest
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (::readlink(link, path, sizeof path - 1) <= 0) {
        return real(fd, buffer, size);
    }
    const bool listing = armed("getdents64", path);
    if (listing && inject("getdents64", AT_FDCWD, path)) {
        return -1;
    }
    ssize_t read = real(fd, buffer, size);
    auto* entries = static_cast<char*>(buffer);
    if (read > 0 && listing) {  // the rest is read again by the next call
        const auto* first = reinterpret_cast<dirent64*>(entries);
        read = ::lseek(fd, first->d_off, SEEK_SET) < 0 ? -1 : first->d_reclen;
    }
    if (read > 0 && named(std::getenv("LOGREAP_FAULT_UNTYPED"), path)) {
        report("untyped", path);
        for (ssize_t at = 0; at < read; at += reinterpret_cast<dirent64*>(entries + at)->d_reclen) {
            reinterpret_cast<dirent64*>(entries + at)->d_type = DT_UNKNOWN;
        }
    }
    return read;
}

}  // extern "C"
