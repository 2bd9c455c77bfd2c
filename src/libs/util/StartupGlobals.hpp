#pragma once

// Process-wide objects of the suite's shared code. The start-up sequence builds
// them before main in the order of their definitions and releases them after
// main returns in the reverse order. Nothing in logreap reads them.

#include <string>

#include "util/StartupPlatform.hpp"
#include "util/WbemStatusNames.hpp"
#include "util/WinsockInit.hpp"

namespace norvane::abap::util {

extern const platform::ComString G_ServerLogLevelName;
extern const platform::ComString G_FlushMessagesSecondsIntervalName;
extern const std::string G_VendorName;
extern WinsockInit G_WinsockInit;
extern const WbemStatusNames G_WbemStatusNames;

}  // namespace norvane::abap::util
