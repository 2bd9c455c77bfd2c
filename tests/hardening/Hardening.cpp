#include "Hardening.hpp"

#include <cerrno>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "detail/DisplayText.hpp"

namespace fs = std::filesystem;

namespace logreap::hardening {
namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Empties the directory open as `fd` (and closes it), working by descriptor
// so that no path grows with the depth.
void emptyDirectory(int fd) {
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        fail("fdopendir");
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    for (const auto& name : names) {
        struct stat info {};
        if (::fstatat(::dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            ::fchmodat(::dirfd(dir), name.c_str(), 0700, 0);
            const int child = ::openat(::dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY);
            if (child >= 0) {
                emptyDirectory(child);
            }
            ::unlinkat(::dirfd(dir), name.c_str(), AT_REMOVEDIR);
        } else {
            ::unlinkat(::dirfd(dir), name.c_str(), 0);
        }
    }
    ::closedir(dir);
}

}  // namespace

Deadline::Deadline(unsigned seconds) {
    ::alarm(seconds);
}

Deadline::~Deadline() {
    ::alarm(0);
}

void removeTree(const fs::path& root) {
    ::chmod(root.c_str(), 0700);
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return;
    }
    emptyDirectory(fd);
    ::rmdir(root.c_str());
}

std::optional<std::string> malformedLogLine(const std::string& logText) {
    // Matched on the start of the line only: libstdc++'s regex recurses per
    // character, and paths in the messages may be thousands of bytes long.
    static const std::regex stamp(
        "^\\[[0-9]{4}-[0-9]{2}-[0-9]{2} "
        "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}[+-][0-9]{2}:[0-9]{2}\\] "
        "\\[[a-z]+\\] ");
    if (!logText.empty() && logText.back() != '\n') {
        return "(no line end after the last message)";
    }
    for (const auto& line : test::lines(logText)) {
        if (!std::regex_search(line.substr(0, 64), stamp) ||
            norvane::abap::displayText(line) != line) {
            return line;
        }
    }
    return std::nullopt;
}

}  // namespace logreap::hardening
