// Preloaded (LD_PRELOAD) into whole runs of the binary, standing in for other
// programs and failing disks. Armed by LOGREAP_FAULT_CALL (openat or fstatat
// on the entry named LOGREAP_FAULT_NAME; getdents64 on the listing of the
// directory of that name): the call fails with LOGREAP_FAULT_ERRNO or, without
// one, is made after the entry was moved to LOGREAP_FAULT_MOVE_TO. Each fault
// appends a line to LOGREAP_FAULT_REPORT, so that the tests know it met.

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
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

// Whether `call` on `name`, relative to `dirfd` or a whole path, is to fail
// (errno set) after the fault armed for it was injected.
bool inject(const char* call, int dirfd, const char* name) {
    const char* armedCall = std::getenv("LOGREAP_FAULT_CALL");
    const char* armedName = std::getenv("LOGREAP_FAULT_NAME");
    const char* base = name == nullptr ? nullptr : std::strrchr(name, '/');
    if (armedCall == nullptr || armedName == nullptr || name == nullptr ||
        std::strcmp(armedCall, call) != 0 ||
        std::strcmp(base == nullptr ? name : base + 1, armedName) != 0) {
        return false;
    }
    const char* error = std::getenv("LOGREAP_FAULT_ERRNO");
    const char* moveTo = std::getenv("LOGREAP_FAULT_MOVE_TO");
    if (error == nullptr && (moveTo == nullptr || ::renameat(dirfd, name, AT_FDCWD, moveTo) != 0)) {
        return false;
    }
    if (std::FILE* report = std::fopen(std::getenv("LOGREAP_FAULT_REPORT"), "a")) {
        std::fprintf(report, "%s %s\n", call, name);
        std::fclose(report);
    }
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
    return inject("openat", dirfd, name) ? -1 : real(dirfd, name, flags, mode);
}

int fstatat(int dirfd, const char* name, struct stat* info, int flags) noexcept {
    static const auto real = next(&fstatat, "fstatat");
    return inject("fstatat", dirfd, name) ? -1 : real(dirfd, name, info, flags);
}

ssize_t getdents64(int fd, void* buffer, size_t size) noexcept {
    static const auto real = next(&getdents64, "getdents64");
    char link[32];
    char path[PATH_MAX] = {};  // the listed directory's, terminated as readlink leaves the rest
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (::readlink(link, path, sizeof path - 1) > 0 && inject("getdents64", AT_FDCWD, path)) {
        return -1;
    }
    return real(fd, buffer, size);
}

}  // extern "C"
