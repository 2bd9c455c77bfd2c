#include "FailureReport.hpp"

#include <cstddef>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace norvane::abap {

#ifdef _WIN32

namespace {

// ReportEventW takes at most 31,839 characters in one insertion string.
constexpr std::size_t kMaxEventText = 31839;
constexpr std::wstring_view kCutMark = L"...";

// An unregistered source is accepted: the event then goes to the Application
// log with the text as its only insertion string.
void reportEvent(int status, std::string_view text) noexcept {
    try {
        const std::wstring message = eventLogText(text);
        const HANDLE source = ::RegisterEventSourceW(nullptr, L"logreap");
        if (source == nullptr) {
            return;
        }
        const wchar_t* strings[] = {message.c_str()};
        ::ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, static_cast<DWORD>(status), nullptr, 1, 0,
                       strings, nullptr);
        ::DeregisterEventSource(source);
    } catch (...) {
        // Standard error has the text already.
    }
}

}  // namespace

std::wstring eventLogText(std::string_view text) {
    std::wstring wide;
    if (!text.empty()) {
        const int size = static_cast<int>(text.size());
        wide.resize(static_cast<std::size_t>(
            ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)));
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(),
                              static_cast<int>(wide.size()));
    }
    if (wide.size() > kMaxEventText) {
        std::size_t kept = kMaxEventText - kCutMark.size();
        // A character beyond the plane of 16-bit ones is kept whole or not at all.
        if (IS_HIGH_SURROGATE(wide[kept - 1])) {
            --kept;
        }
        wide.resize(kept);
        wide.append(kCutMark);
    }
    return wide;
}

#endif

int failRun(int status, std::string_view text) noexcept {
    std::fflush(stdout);  // what the run printed first
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
#ifdef _WIN32
    reportEvent(status, text);
#endif
    return status;
}

}  // namespace norvane::abap
