// Winsock's header goes before any that brings in <windows.h>.
#ifdef _WIN32
#include <winsock2.h>

#include <wbemcli.h>
#endif

#include "util/StartupPlatform.hpp"

namespace norvane::abap::util::platform {

#ifdef _WIN32

std::int32_t startSockets() noexcept {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
}

void cleanUpSockets() noexcept {
    ::WSACleanup();
}

// Each code of the status list is the one the platform publishes for its name.
#define WBEM_STATUS(code, name) \
    static_assert(static_cast<std::uint32_t>(name) == (code), "WBEM status code of " #name);
#include "util/WbemStatusList.inc"
#undef WBEM_STATUS

#else

std::int32_t startSockets() noexcept {
    return 0;
}

void cleanUpSockets() noexcept {}

#endif

}  // namespace norvane::abap::util::platform
