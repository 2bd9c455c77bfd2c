#pragma once

// How paths differ between the Windows build and the others.

#include <algorithm>
#include <filesystem>

namespace norvane::abap {

// The lexically normal form. On Windows a UNC path (\\server\share\...) keeps
// its leading double separator: the runtime's normalisation merges it into one,
// which would name a folder on the current drive instead of the network share.
inline std::filesystem::path lexicallyNormal(const std::filesystem::path& path) {
    auto normal = path.lexically_normal();
#ifdef _WIN32
    const auto isSeparator = [](wchar_t c) { return c == L'/' || c == L'\\'; };
    const auto& given = path.native();
    const auto& result = normal.native();
    const bool unc = given.size() > 2 && isSeparator(given[0]) && isSeparator(given[1]) &&
                     !isSeparator(given[2]);
    const bool merged = result.size() > 1 && isSeparator(result[0]) && !isSeparator(result[1]);
    if (unc && merged) {
        normal = std::filesystem::path(L'\\' + result);
    }
#endif
    return normal;
}

// Makes every separator the preferred one. Windows accepts '/' too but messages
// and comparisons should show one form; elsewhere '\' is an ordinary character
// of a file name and is left alone.
inline std::filesystem::path withPreferredSeparators(const std::filesystem::path& path) {
#ifdef _WIN32
    auto text = path.native();
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return std::filesystem::path(std::move(text));
#else
    return path;
#endif
}

}  // namespace norvane::abap
