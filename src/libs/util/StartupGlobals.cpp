#include "util/StartupGlobals.hpp"

// The order of the definitions below is the order of start-up; the releases,
// registered as each object is reached, run at exit in the reverse order.

namespace norvane::abap::util {

const platform::ComString G_ServerLogLevelName{L"ServerLogLevel"};
const platform::ComString G_FlushMessagesSecondsIntervalName{L"FlushMessagesSecondsInterval"};

// Constant-initialised: the text lies in initialised data and only its release
// is registered at start-up.
constinit const std::string G_VendorName{"Norvane"};

// Constant-initialised as well, so its release is registered before the
// sockets are started.
constinit WinsockInit G_WinsockInit{{platform::startSockets, platform::cleanUpSockets}};
namespace {
[[maybe_unused]] const bool winsockStarted = (G_WinsockInit.acquire(), true);
}  // namespace

const WbemStatusNames G_WbemStatusNames = buildWbemStatusNames();

}  // namespace norvane::abap::util
