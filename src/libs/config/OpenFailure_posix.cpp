#include "config/detail/OpenFailure.hpp"

#include <cerrno>
#include <system_error>

namespace norvane::abap::config {

void clearOpenFailure() noexcept {
    errno = 0;
}

// The stream's open leaves the reason of the failed open(2) in errno.
std::string openFailure() {
    const int error = errno;
    return error == 0 ? std::string() : std::generic_category().message(error);
}

std::string directoryOpenFailure() {
    return std::generic_category().message(EISDIR);
}

}  // namespace norvane::abap::config
