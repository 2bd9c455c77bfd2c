// A program with the shared start-up globals, linked with the C++ runtime's
// exit registration wrapped (--wrap=__cxa_atexit). It writes a line when the
// release of one of the globals is registered, one from main with what main
// finds built, and one as each release runs.

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include <unistd.h>

#include "config/detail/ConfigInstance.hpp"
#include "util/StartupGlobals.hpp"

extern "C" int __real___cxa_atexit(void (*release)(void*), void* object, void* dso);
extern "C" int __wrap___cxa_atexit(void (*release)(void*), void* object, void* dso);

namespace {

namespace util = norvane::abap::util;

void say(const std::string& line) {
    const std::string text = line + '\n';
    [[maybe_unused]] const auto written = ::write(STDOUT_FILENO, text.data(), text.size());
}

const char* nameOf(const void* object) {
    const std::pair<const void*, const char*> globals[] = {
        {&util::G_ServerLogLevelName, "G_ServerLogLevelName"},
        {&util::G_FlushMessagesSecondsIntervalName, "G_FlushMessagesSecondsIntervalName"},
        {&util::G_VendorName, "G_VendorName"},
        {&norvane::abap::config::G_ConfigInstance, "G_Config"},
        {&util::G_WinsockInit, "G_WinsockInit"},
        {&util::G_WbemStatusNames, "G_WbemStatusNames"},
    };
    for (const auto& [address, name] : globals) {
        if (address == object)
            return name;
    }
    return nullptr;
}

// Filled before main, so it holds nothing that needs building.
struct Registration {
    void (*release)(void*);
    void* object;
};
constinit Registration registrations[64] = {};
constinit std::size_t registered = 0;

void announceAndRelease(void* slot) {
    auto* registration = static_cast<Registration*>(slot);
    if (const char* name = nameOf(registration->object)) {
        say(std::string("released ") + name);
    }
    registration->release(registration->object);
}

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) {
        out += static_cast<char>(*text);
    }
    return out;
}

}  // namespace

extern "C" int __wrap___cxa_atexit(void (*release)(void*), void* object, void* dso) {
    if (registered == std::size(registrations)) {
        return __real___cxa_atexit(release, object, dso);
    }
    if (const char* name = nameOf(object)) {
        say(std::string("registered ") + name);
    }
    Registration& slot = registrations[registered++];
    slot = {release, object};
    return __real___cxa_atexit(&announceAndRelease, &slot, dso);
}

int main() {
    say("main: " + narrow(util::G_ServerLogLevelName) + " " +
        narrow(util::G_FlushMessagesSecondsIntervalName) + " " + util::G_VendorName + " winsock " +
        std::to_string(util::G_WinsockInit.count()) + " " +
        std::to_string(util::G_WinsockInit.result()) + " statuses " +
        std::to_string(util::G_WbemStatusNames.size()));
    return 0;
}
