#pragma once

// What the start-up globals take from the platform, in one place: the COM
// string class and the sockets start-up and clean-up. Elsewhere than Windows
// neither service exists: a shared wide-string holder stands in for the COM
// string, and the sockets start-up does nothing and reports 0.

#include <cstdint>

#ifdef _WIN32
#include <comdef.h>
#else
#include "util/SharedWideString.hpp"
#endif

namespace norvane::abap::util::platform {

#ifdef _WIN32
// Allocates with SysAllocString, raising E_OUTOFMEMORY as _com_error when that
// fails, and frees with SysFreeString when its reference count falls to 0.
using ComString = _bstr_t;
#else
using ComString = SharedWideString;
#endif

// WSAStartup for version 2.2; returns its result.
std::int32_t startSockets() noexcept;
// WSACleanup.
void cleanUpSockets() noexcept;

}  // namespace norvane::abap::util::platform
