#include "RunTimer.hpp"

#include <cstdio>

#include <fmt/chrono.h>
#include <fmt/format.h>

namespace norvane::abap {

RunTimer::RunTimer() : start(std::chrono::steady_clock::now()), end(start) {}

RunTimer::~RunTimer() {
    end = std::chrono::steady_clock::now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(end - start);
    try {
        fmt::print(stdout, "Total time: {:%T}", elapsed);
    } catch (...) {
        // A closed or full standard output must not end the process from a destructor.
    }
}

}  // namespace norvane::abap
