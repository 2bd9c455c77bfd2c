// The start-up globals with the platform's own calls: COM strings allocated
// by SysAllocString, Winsock started once for the process.

#include <winsock2.h>

#include <oleauto.h>

#include <string>

#include <gtest/gtest.h>

#include "util/StartupGlobals.hpp"

namespace util = norvane::abap::util;

namespace {

TEST(StartupPlatform, ComStringsAreBstrsOfTheirTexts) {
    const BSTR level = util::G_ServerLogLevelName;
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(std::wstring(level), L"ServerLogLevel");
    // A BSTR carries its length in front of its text.
    EXPECT_EQ(::SysStringLen(level), 14U);
    EXPECT_EQ(::SysStringLen(util::G_FlushMessagesSecondsIntervalName), 28U);
    EXPECT_EQ(std::wstring(util::G_FlushMessagesSecondsIntervalName),
              L"FlushMessagesSecondsInterval");
}

TEST(StartupPlatform, WinsockStartedOnceAndSucceeded) {
    EXPECT_EQ(util::G_WinsockInit.count(), 1);
    EXPECT_EQ(util::G_WinsockInit.result(), 0);
    // Sockets work: a started Winsock hands out a socket.
    const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(probe, INVALID_SOCKET) << ::WSAGetLastError();
    if (probe != INVALID_SOCKET) {
        ::closesocket(probe);
    }
}

TEST(StartupPlatform, StartAndCleanUpBalance) {
    // One more start-up and its clean-up leave the process's own start-up in place.
    EXPECT_EQ(util::platform::startSockets(), 0);
    util::platform::cleanUpSockets();
    const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(probe, INVALID_SOCKET);
    if (probe != INVALID_SOCKET) {
        ::closesocket(probe);
    }
}

TEST(StartupPlatform, StatusNamesAndVendor) {
    EXPECT_EQ(util::G_VendorName, "Norvane");
    EXPECT_EQ(util::G_WbemStatusNames.size(), 191U);
    EXPECT_EQ(util::G_WbemStatusNames.at(0), L"WBEM_NO_ERROR");
    EXPECT_EQ(util::G_WbemStatusNames.at(0x80044031U), L"WBEMMOF_E_INVALID_DELETECLASS_SYNTAX");
}

}  // namespace
