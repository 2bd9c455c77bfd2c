#pragma once

// clang 14 with GCC 12's standard library: <source_location> exists but stays
// empty, because the library builds it on __builtin_source_location, which
// clang gains only in version 15. The fuzz build force-includes this header to
// supply the type from the builtins clang 14 does have. The main build (GCC)
// never sees it.

#include <cstdint>
#include <source_location>

#if !defined(__cpp_lib_source_location)
namespace std {

struct source_location {
    static constexpr source_location current(
        const char* file = __builtin_FILE(), const char* function = __builtin_FUNCTION(),
        std::uint_least32_t line = __builtin_LINE(),
        std::uint_least32_t column = __builtin_COLUMN()) noexcept {
        source_location location;
        location.file_ = file;
        location.function_ = function;
        location.line_ = line;
        location.column_ = column;
        return location;
    }
    constexpr source_location() noexcept = default;
    constexpr std::uint_least32_t line() const noexcept { return line_; }
    constexpr std::uint_least32_t column() const noexcept { return column_; }
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr const char* function_name() const noexcept { return function_; }

  private:
    const char* file_ = "";
    const char* function_ = "";
    std::uint_least32_t line_ = 0;
    std::uint_least32_t column_ = 0;
};

}  // namespace std
#define __cpp_lib_source_location 201907L
#endif
