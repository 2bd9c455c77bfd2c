#include "support/UniqueDirectory.hpp"

#include <cerrno>
#include <string>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace logreap::test {

fs::path makeUniqueDirectory(const char* prefix) {
    std::string pattern = (fs::temp_directory_path() / prefix).string() + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    return fs::path(pattern);
}

}  // namespace logreap::test
