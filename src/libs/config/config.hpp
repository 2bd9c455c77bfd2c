#pragma once

// The suite's configuration record, read strictly from the shared TOML file.
// Defaults are applied by the code that uses a value, never here.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <source_location>
#include <string>
#include <vector>

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

extern G_Config G_ConfigInstance;
extern std::atomic<bool> G_ConfigInitialized;

// Readers of one table each (for "rfc", "pipeline" and "typequeries" of one
// array element). Each throws the TOML library's error for the first missing or
// ill-typed key in its reading order.
SettingsConfig parseSettings(const toml::value& table);
LoggingConfig parseLogging(const toml::value& table);
FootprintsConfig parseFootprints(const toml::value& table);
RfcDataConfig parseRfcData(const toml::value& table);
PrdConfig parsePrd(const toml::value& table);
QasConfig parseQas(const toml::value& table);
PhdConfig parsePhd(const toml::value& table);
TypeQuery parseTypeQuery(const toml::value& table);
RfcConfig parseRfc(const toml::value& table);
PipelineConfig parsePipeline(const toml::value& table);
NorvaneConfig parseNorvane(const toml::value& table);
// A lone user name or a lone password is dropped: the proxy is then used
// without credentials.
ProxyConfig parseProxy(const toml::value& table);

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
