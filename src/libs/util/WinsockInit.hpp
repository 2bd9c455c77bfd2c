#pragma once

#include <atomic>
#include <cstdint>

namespace norvane::abap::util {

// The calls that start and clean up the platform's sockets.
struct SocketService {
    std::int32_t (*startup)() noexcept;  // returns the platform's result
    void (*cleanup)() noexcept;
};

// A reference-counted start-up of the platform's sockets. The first acquire
// starts them and keeps the start-up's result; the release that balances it
// cleans them up. The result is kept, not examined: a failed start-up stops
// nothing and is still cleaned up. Count and result change only atomically.
//
// Constant-initialised (count and result 0), so a process-wide instance has
// nothing to build before its first acquire. Destroying it releases once.
class WinsockInit {
  public:
    constexpr explicit WinsockInit(SocketService service) noexcept : service_(service) {}
    WinsockInit(const WinsockInit&) = delete;
    WinsockInit& operator=(const WinsockInit&) = delete;
    ~WinsockInit();

    void acquire() noexcept;
    // Balances one acquire.
    void release() noexcept;

    std::int32_t count() const noexcept { return count_.load(); }
    std::int32_t result() const noexcept { return result_.load(); }

  private:
    std::atomic<std::int32_t> count_{0};
    std::atomic<std::int32_t> result_{0};
    SocketService service_;
};

}  // namespace norvane::abap::util
