// The reference-counted sockets start-up, through a service that counts its
// start-up and clean-up calls.

#include <cstdint>

#include <gtest/gtest.h>

#include "util/WinsockInit.hpp"

namespace {

using norvane::abap::util::WinsockInit;

int startups = 0;
int cleanups = 0;
std::int32_t startupResult = 0;

std::int32_t countStartup() noexcept {
    ++startups;
    return startupResult;
}
void countCleanup() noexcept {
    ++cleanups;
}

class WinsockInitTest : public ::testing::TestWithParam<std::int32_t> {
  protected:
    void SetUp() override {
        startups = cleanups = 0;
        startupResult = GetParam();
    }
};

// Whatever the start-up returns, only the first acquire starts and only the
// release that balances it cleans up; destroying the object is that release.
TEST_P(WinsockInitTest, StartsOnceKeepsTheResultAndCleansUpOnceAtTheEnd) {
    {
        WinsockInit sockets({&countStartup, &countCleanup});
        EXPECT_EQ(sockets.result(), 0);
        sockets.acquire();
        sockets.acquire();
        EXPECT_EQ(startups, 1);
        EXPECT_EQ(sockets.count(), 2);
        EXPECT_EQ(sockets.result(), GetParam());

        sockets.release();
        EXPECT_EQ(cleanups, 0);
    }
    EXPECT_EQ(startups, 1);
    EXPECT_EQ(cleanups, 1);
}

TEST_P(WinsockInitTest, NeverAcquiredIsNeverStartedNorCleanedUp) {
    { WinsockInit sockets({&countStartup, &countCleanup}); }
    EXPECT_EQ(startups, 0);
    EXPECT_EQ(cleanups, 0);
}

// A successful start-up, and a failed one (WSASYSNOTREADY) that changes nothing.
INSTANTIATE_TEST_SUITE_P(StartupResults, WinsockInitTest, ::testing::Values(0, 10091));

}  // namespace
