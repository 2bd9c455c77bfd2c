#pragma once

// The suite's configuration record, read strictly from the shared TOML file.
// Defaults are applied by the code that uses a value, never here.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <source_location>
#include <string>

#include <toml.hpp>

#include "util/AgentException.hpp"

namespace norvane::abap::config {

struct SettingsConfig {
    std::filesystem::path install;
    std::filesystem::path userdata;
    std::string key;
    std::string iv;
};

struct LoggingConfig {
    std::string level;
    std::optional<std::int64_t> flushinterval;
    std::optional<std::string> flushlevel;
    std::optional<std::string> consolelevel;
    std::optional<std::int32_t> retentionperiod;
};

struct G_Config {
    SettingsConfig settings;
    LoggingConfig logging;
};

class G_ConfigException : public util::AgentException {
  public:
    explicit G_ConfigException(std::source_location location = std::source_location::current());
};

extern G_Config G_ConfigInstance;
extern std::atomic<bool> G_ConfigInitialized;

SettingsConfig parseSettings(const toml::value& table);
LoggingConfig parseLogging(const toml::value& table);

// Builds a complete record from the document's root table; the first missing or
// ill-typed table or key ends the load with the TOML library's error.
G_Config parseG_Config(const toml::value& root);

// Moves a loaded record into the process-wide instance.
G_Config& setG_Config(G_Config&& loaded);

// Loads the process-wide record once; a failed load leaves it untouched and may
// be tried again, a completed one makes every later call do nothing.
void initG_Config(const toml::value& root);

// The loaded record; G_ConfigException before initG_Config has completed.
const G_Config& getG_Config();

}  // namespace norvane::abap::config
