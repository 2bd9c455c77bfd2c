#include "util/StartupGlobals.hpp"

#include "config/detail/ConfigInstance.hpp"

// The order of the definitions below is the order of start-up; the releases,
// registered as each object is reached, run at exit in the reverse order.

namespace norvane::abap {

const util::platform::ComString util::G_ServerLogLevelName{L"ServerLogLevel"};
const util::platform::ComString util::G_FlushMessagesSecondsIntervalName{
    L"FlushMessagesSecondsInterval"};

// Constant-initialised: the text lies in initialised data and only its release
// is registered at start-up.
constinit const std::string util::G_VendorName{"Norvane"};

config::G_Config config::G_ConfigInstance;

// Constant-initialised as well, so its release is registered before the
// sockets are started.
constinit util::WinsockInit util::G_WinsockInit{
    {util::platform::startSockets, util::platform::cleanUpSockets}};
namespace {
[[maybe_unused]] const bool winsockStarted = (util::G_WinsockInit.acquire(), true);
}  // namespace

const util::WbemStatusNames util::G_WbemStatusNames = util::buildWbemStatusNames();

}  // namespace norvane::abap
