#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace norvane::abap::util {

// The symbolic names of the WBEM status codes, keyed by the code as an
// unsigned 32-bit number.
using WbemStatusNames = std::map<std::uint32_t, std::wstring>;

// Builds the table from the status list in its order; where several names
// share a code, the first one listed is kept.
WbemStatusNames buildWbemStatusNames();

}  // namespace norvane::abap::util
