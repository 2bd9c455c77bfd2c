#pragma once

// The rules by which the Windows file-tree layer reads what the file system
// tells it. Plain arithmetic on the values of the Win32 API, without its
// headers, so that every build can test them.

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "detail/FileTree.hpp"

namespace norvane::abap::filetree::windows {

inline constexpr std::uint32_t kAttributeDirectory = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
inline constexpr std::uint32_t kTagNameSurrogate = 0x20000000;  // IsReparseTagNameSurrogate

// Whether a reparse point stands for another name: a symbolic link, a junction
// or mount point, or any other name surrogate. A tag the file system does not
// report (0) is taken for one, since such an entry cannot be told from a link.
// Other reparse points (cloud placeholders, deduplicated files) are data.
constexpr bool isNameSurrogate(std::uint32_t attributes, std::uint32_t tag) {
    return (attributes & kAttributeReparsePoint) != 0 &&
           (tag == 0 || (tag & kTagNameSurrogate) != 0);
}

// How a listing's attributes and reparse tag classify an entry for the walk.
constexpr Listed listedKind(std::uint32_t attributes, std::uint32_t tag) {
    if (isNameSurrogate(attributes, tag)) {
        return Listed::link;
    }
    return (attributes & kAttributeDirectory) != 0 ? Listed::directory : Listed::other;
}

// A FILETIME (100-nanosecond ticks since 1601-01-01 UTC) on the system clock,
// saturated at the clock's range.
inline std::chrono::system_clock::time_point fileTimeToSystemClock(std::int64_t ticks) {
    using Clock = std::chrono::system_clock;
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
    constexpr std::int64_t kUnixEpoch = 116'444'736'000'000'000;  // 1970-01-01 in ticks
    constexpr auto kLatest = std::chrono::duration_cast<Ticks>(Clock::duration::max()).count();
    constexpr auto kEarliest = std::chrono::duration_cast<Ticks>(Clock::duration::min()).count();
    if (ticks < std::numeric_limits<std::int64_t>::min() + kUnixEpoch) {
        return Clock::time_point::min();
    }
    const std::int64_t sinceUnixEpoch = ticks - kUnixEpoch;
    if (sinceUnixEpoch > kLatest) {
        return Clock::time_point::max();
    }
    if (sinceUnixEpoch < kEarliest) {
        return Clock::time_point::min();
    }
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(Ticks(sinceUnixEpoch)));
}

// The \\?\ form of a full path (drive or UNC), which every call of the wide
// API takes whatever its length: \\server\share\x becomes \\?\UNC\server\share\x,
// C:\x becomes \\?\C:\x. '/' becomes '\', which the prefixed form requires.
// Paths already in a device form (\\?\, \\.\) stay as they are.
inline std::wstring withExtendedLengthPrefix(std::wstring_view fullPath) {
    std::wstring path(fullPath);
    for (auto& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) {
        return path;
    }
    if (path.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + path.substr(2);
    }
    return L"\\\\?\\" + path;
}

}  // namespace norvane::abap::filetree::windows
