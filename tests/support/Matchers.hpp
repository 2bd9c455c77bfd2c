#pragma once

// GoogleTest's own regular expressions differ by platform (POSIX on Linux, a
// small subset on Windows); this one is std::regex on both.

#include <regex>
#include <string>

#include <gmock/gmock.h>

namespace logreap::test {

MATCHER_P(FullyMatches, pattern, "fully matches " + std::string(pattern)) {
    return std::regex_match(std::string(arg), std::regex(pattern));
}

}  // namespace logreap::test
