#include "config/config.hpp"

#include <utility>

#include "config/ValueReader.hpp"

namespace norvane::abap::config {

G_Config G_ConfigInstance;
std::atomic<bool> G_ConfigInitialized{false};

G_ConfigException::G_ConfigException(std::source_location location)
    : AgentException("G_Config not initialized", location) {}

// Braced initialisation evaluates in order, so each reader's list is also the
// order in which its keys are read and the first failure is reported.

SettingsConfig parseSettings(const toml::value& table) {
    return {
        .install = required<std::filesystem::path>(table, "install"),
        .userdata = required<std::filesystem::path>(table, "userdata"),
        .key = required<std::string>(table, "key"),
        .iv = required<std::string>(table, "iv"),
    };
}

LoggingConfig parseLogging(const toml::value& table) {
    return {
        .level = required<std::string>(table, "level"),
        .flushinterval = findOptional<WidenedInt32>(table, "flushinterval"),
        .flushlevel = findOptional<std::string>(table, "flushlevel"),
        .consolelevel = findOptional<std::string>(table, "consolelevel"),
        .retentionperiod = findOptional<std::int32_t>(table, "retentionperiod"),
    };
}

G_Config parseG_Config(const toml::value& root) {
    return {
        .settings = parseSettings(root.at("settings")),
        .logging = parseLogging(root.at("logging")),
    };
}

G_Config& setG_Config(G_Config&& loaded) {
    G_ConfigInstance.settings = std::move(loaded.settings);
    G_ConfigInstance.logging = std::move(loaded.logging);
    return G_ConfigInstance;
}

void initG_Config(const toml::value& root) {
    // A throwing initialiser leaves the guard unset, so a failed load can be retried.
    static const bool initialized = [&root] {
        setG_Config(parseG_Config(root));
        G_ConfigInitialized.store(true);
        return true;
    }();
    (void)initialized;
}

const G_Config& getG_Config() {
    if (!G_ConfigInitialized.load()) {
        throw G_ConfigException();
    }
    return G_ConfigInstance;
}

}  // namespace norvane::abap::config
