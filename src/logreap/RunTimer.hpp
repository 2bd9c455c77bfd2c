#pragma once

#include <chrono>

namespace norvane::abap {

// Prints "Total time: HH:MM:SS.mmm" (no line end) on standard output when the
// scope it measures ends.
class RunTimer {
  public:
    RunTimer();
    ~RunTimer();
    RunTimer(const RunTimer&) = delete;
    RunTimer& operator=(const RunTimer&) = delete;

  private:
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point end;
};

}  // namespace norvane::abap
