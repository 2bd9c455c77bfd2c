// The reference-counted sockets start-up, through a service that counts its
// start-up and clean-up calls.

#include <cstdint>

#include <gtest/gtest.h>

#include "util/WinsockInit.hpp"

namespace {

using norvane::abap::util::SocketService;
using norvane::abap::util::WinsockInit;

struct CountingSockets {
    static inline int startups = 0;
    static inline int cleanups = 0;
    static inline std::int32_t startupResult = 0;

    static std::int32_t startup() noexcept {
        ++startups;
        return startupResult;
    }
    static void cleanup() noexcept { ++cleanups; }
};

class WinsockInitTest : public ::testing::TestWithParam<std::int32_t> {
  protected:
    void SetUp() override {
        CountingSockets::startups = 0;
        CountingSockets::cleanups = 0;
        CountingSockets::startupResult = GetParam();
    }

    const SocketService service_{&CountingSockets::startup, &CountingSockets::cleanup};
};

TEST_P(WinsockInitTest, StartsOnFirstAcquireKeepsTheResultAndCleansUpOnceAtTheEnd) {
    {
        WinsockInit sockets(service_);
        EXPECT_EQ(sockets.count(), 0);
        EXPECT_EQ(sockets.result(), 0);

        sockets.acquire();
        EXPECT_EQ(CountingSockets::startups, 1);
        EXPECT_EQ(sockets.count(), 1);
        EXPECT_EQ(sockets.result(), GetParam());
        EXPECT_EQ(CountingSockets::cleanups, 0);
    }
    EXPECT_EQ(CountingSockets::startups, 1);
    EXPECT_EQ(CountingSockets::cleanups, 1);
}

TEST_P(WinsockInitTest, FurtherAcquiresShareTheStartUpUntilTheLastRelease) {
    {
        WinsockInit sockets(service_);
        sockets.acquire();
        sockets.acquire();
        sockets.acquire();
        EXPECT_EQ(CountingSockets::startups, 1);
        EXPECT_EQ(sockets.count(), 3);

        sockets.release();
        sockets.release();
        EXPECT_EQ(CountingSockets::cleanups, 0);
        EXPECT_EQ(sockets.count(), 1);
    }
    EXPECT_EQ(CountingSockets::startups, 1);
    EXPECT_EQ(CountingSockets::cleanups, 1);
}

TEST_P(WinsockInitTest, NeverAcquiredIsNeverStartedNorCleanedUp) {
    { WinsockInit sockets(service_); }
    EXPECT_EQ(CountingSockets::startups, 0);
    EXPECT_EQ(CountingSockets::cleanups, 0);
}

// A successful start-up, and a failed one (WSASYSNOTREADY) that changes nothing.
INSTANTIATE_TEST_SUITE_P(StartupResults, WinsockInitTest, ::testing::Values(0, 10091));

}  // namespace
