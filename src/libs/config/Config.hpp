#pragma once

// The suite's configuration record, read strictly from the shared TOML file,
// and read-only access to the process-wide instance. Free of the TOML library:
// loading is declared in config/ConfigLoader.hpp. Defaults are applied by the
// code that uses a value, never here.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <source_location>
#include <string>
#include <vector>

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

// The tables below are read and type-checked on every load, so a file that is
// incomplete for any program of the suite stops every program. logreap itself
// reads none of them.

struct FootprintsConfig {
    std::optional<std::string> readstartdate;
    std::optional<std::string> readstarttime;
    std::optional<std::string> readtime;
    std::int64_t testexecutionqueryingfreq = 0;
};

struct TypeQuery {
    std::string type;
    std::string query;
};

struct PrdConfig {
    std::int32_t retentionperiod = 0;
    std::vector<TypeQuery> typequeries;
};

struct QasConfig {
    std::int32_t retentionperiod = 0;
    std::vector<std::string> tables;
};

struct PhdConfig {
    std::vector<std::string> separators;
    std::vector<std::string> mnemonicfieldtokens;
    std::vector<std::string> stepsfieldtokens;
    std::vector<std::string> descriptionfieldtokens;
};

struct RfcDataConfig {
    PrdConfig prd;
    QasConfig qas;
    PhdConfig phd;
};

// Logon data of one SAP system reached over RFC. The system number and the
// client are texts, as SAP writes them ("00", "100").
struct RfcConfig {
    std::string name;
    std::string hostname;
    std::string sysnr;
    std::string client;
    std::string language;
    std::string username;
    std::string password;
    std::optional<std::string> router;
    bool cachedusage = false;
};

struct PipelineConfig {
    std::string name;
    std::string qas;
    std::string prd;
    std::optional<std::string> labid;
    std::optional<bool> disablesetref;  // absent stays distinct from false
};

struct NorvaneConfig {
    std::string token;
    std::optional<std::int64_t> delaybetweenmods;
    std::optional<std::int64_t> clientattempts;
};

// username and password are either both present or both empty.
struct ProxyConfig {
    std::string server;
    std::optional<std::string> username;
    std::optional<std::string> password;
};

// One member per top-level entry of the file, in reading order.
struct G_Config {
    SettingsConfig settings;
    LoggingConfig logging;
    FootprintsConfig footprints;
    RfcDataConfig rfcdata;
    std::vector<RfcConfig> rfc;
    std::vector<PipelineConfig> pipeline;
    NorvaneConfig norvane;
    std::optional<ProxyConfig> proxy;
};

class G_ConfigException : public util::AgentException {
  public:
    explicit G_ConfigException(std::source_location location = std::source_location::current());
};

// The loaded record; G_ConfigException before initG_Config has completed.
const G_Config& getG_Config();

}  // namespace norvane::abap::config
