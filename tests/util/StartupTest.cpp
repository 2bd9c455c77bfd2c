// The start-up globals in a program of their own: built before main, in order,
// and released after it in the reverse order.

#include <string>

#include <gtest/gtest.h>

#include "support/Process.hpp"

namespace {

TEST(StartupGlobals, AreBuiltBeforeMainAndReleasedAfterItInReverseOrder) {
    const auto probe = logreap::test::runProgram(STARTUP_PROBE, {});
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.out,
              "registered G_ServerLogLevelName\n"
              "registered G_FlushMessagesSecondsIntervalName\n"
              "registered G_VendorName\n"
              "registered G_Config\n"
              "registered G_WinsockInit\n"
              "registered G_WbemStatusNames\n"
              "main: ServerLogLevel FlushMessagesSecondsInterval Norvane winsock 1 0 statuses 191\n"
              "released G_WbemStatusNames\n"
              "released G_WinsockInit\n"
              "released G_Config\n"
              "released G_VendorName\n"
              "released G_FlushMessagesSecondsIntervalName\n"
              "released G_ServerLogLevelName\n");
}

}  // namespace
