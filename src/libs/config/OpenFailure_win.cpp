#include "config/detail/OpenFailure.hpp"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <windows.h>

namespace norvane::abap::config {
namespace {

// The system's message for `code` in UTF-8, without its line end. The
// runtime's own category here gives the C library's texts for small numbers
// (5 would read "Input/output error"), not the system's.
std::string systemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const std::unique_ptr<wchar_t, HLOCAL (*)(HLOCAL)> owner(buffer, ::LocalFree);
    if (length == 0) {
        return "error " + std::to_string(code);
    }
    std::wstring_view wide(buffer, length);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ')) {
        wide.remove_suffix(1);
    }
    const int wideSize = static_cast<int>(wide.size());
    std::string text(static_cast<std::size_t>(::WideCharToMultiByte(
                         CP_UTF8, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr)),
                     '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, text.data(),
                          static_cast<int>(text.size()), nullptr, nullptr);
    return text;
}

}  // namespace

void clearOpenFailure() noexcept {
    ::SetLastError(ERROR_SUCCESS);
}

// The runtime's open of the stream leaves CreateFileW's error as the thread's
// last error.
std::string openFailure() {
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? std::string() : systemMessage(error);
}

// What CreateFileW says for a directory opened without backup semantics.
std::string directoryOpenFailure() {
    return systemMessage(ERROR_ACCESS_DENIED);
}

}  // namespace norvane::abap::config
