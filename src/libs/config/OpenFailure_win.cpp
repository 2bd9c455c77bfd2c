#include "config/detail/OpenFailure.hpp"

#include <system_error>

#include <windows.h>

namespace norvane::abap::config {

void clearOpenFailure() noexcept {
    ::SetLastError(ERROR_SUCCESS);
}

// The runtime's open of the stream leaves CreateFileW's error as the thread's
// last error. The runtime's system category words it as the system does
// (FormatMessage), as in the tool's other errors.
std::string openFailure() {
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? std::string()
                                  : std::system_category().message(static_cast<int>(error));
}

// What CreateFileW says for a directory opened without backup semantics.
std::string directoryOpenFailure() {
    return std::system_category().message(ERROR_ACCESS_DENIED);
}

}  // namespace norvane::abap::config
