#include "config/ConfigLoader.hpp"

#include <string>
#include <utility>
#include <vector>

#include "config/detail/ConfigInstance.hpp"
#include "config/detail/ValueReader.hpp"

namespace norvane::abap::config {

std::atomic<bool> G_ConfigInitialized{false};

G_ConfigException::G_ConfigException(std::source_location location)
    : AgentException("G_Config not initialized", location) {}

// Every record is read from its table by its reader, so a table, an optional
// table and an array of tables are all read with required and findOptional.
template <>
struct ValueReader<SettingsConfig> : TableReader<SettingsConfig, parseSettings> {};
template <>
struct ValueReader<LoggingConfig> : TableReader<LoggingConfig, parseLogging> {};
template <>
struct ValueReader<FootprintsConfig> : TableReader<FootprintsConfig, parseFootprints> {};
template <>
struct ValueReader<RfcDataConfig> : TableReader<RfcDataConfig, parseRfcData> {};
template <>
struct ValueReader<PrdConfig> : TableReader<PrdConfig, parsePrd> {};
template <>
struct ValueReader<QasConfig> : TableReader<QasConfig, parseQas> {};
template <>
struct ValueReader<PhdConfig> : TableReader<PhdConfig, parsePhd> {};
template <>
struct ValueReader<TypeQuery> : TableReader<TypeQuery, parseTypeQuery> {};
template <>
struct ValueReader<RfcConfig> : TableReader<RfcConfig, parseRfc> {};
template <>
struct ValueReader<PipelineConfig> : TableReader<PipelineConfig, parsePipeline> {};
template <>
struct ValueReader<NorvaneConfig> : TableReader<NorvaneConfig, parseNorvane> {};
template <>
struct ValueReader<ProxyConfig> : TableReader<ProxyConfig, parseProxy> {};

using Texts = std::vector<std::string>;

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

FootprintsConfig parseFootprints(const toml::value& table) {
    return {
        .readstartdate = findOptional<std::string>(table, "readstartdate"),
        .readstarttime = findOptional<std::string>(table, "readstarttime"),
        .readtime = findOptional<std::string>(table, "readtime"),
        .testexecutionqueryingfreq = required<WidenedInt32>(table, "testexecutionqueryingfreq"),
    };
}

RfcDataConfig parseRfcData(const toml::value& table) {
    return {
        .prd = required<PrdConfig>(table, "prd"),
        .qas = required<QasConfig>(table, "qas"),
        .phd = required<PhdConfig>(table, "phd"),
    };
}

PrdConfig parsePrd(const toml::value& table) {
    return {
        .retentionperiod = required<std::int32_t>(table, "retentionperiod"),
        .typequeries = required<std::vector<TypeQuery>>(table, "typequeries"),
    };
}

TypeQuery parseTypeQuery(const toml::value& table) {
    return {
        .type = required<std::string>(table, "type"),
        .query = required<std::string>(table, "query"),
    };
}

QasConfig parseQas(const toml::value& table) {
    return {
        .retentionperiod = required<std::int32_t>(table, "retentionperiod"),
        .tables = required<Texts>(table, "tables"),
    };
}

PhdConfig parsePhd(const toml::value& table) {
    return {
        .separators = required<Texts>(table, "separators"),
        .mnemonicfieldtokens = required<Texts>(table, "mnemonicfieldtokens"),
        .stepsfieldtokens = required<Texts>(table, "stepsfieldtokens"),
        .descriptionfieldtokens = required<Texts>(table, "descriptionfieldtokens"),
    };
}

RfcConfig parseRfc(const toml::value& table) {
    return {
        .name = required<std::string>(table, "name"),
        .hostname = required<std::string>(table, "hostname"),
        .sysnr = required<std::string>(table, "sysnr"),
        .client = required<std::string>(table, "client"),
        .language = required<std::string>(table, "language"),
        .username = required<std::string>(table, "username"),
        .password = required<std::string>(table, "password"),
        .router = findOptional<std::string>(table, "router"),
        .cachedusage = required<bool>(table, "cachedusage"),
    };
}

PipelineConfig parsePipeline(const toml::value& table) {
    return {
        .name = required<std::string>(table, "name"),
        .qas = required<std::string>(table, "qas"),
        .prd = required<std::string>(table, "prd"),
        .labid = findOptional<std::string>(table, "labid"),
        .disablesetref = findOptional<bool>(table, "disablesetref"),
    };
}

NorvaneConfig parseNorvane(const toml::value& table) {
    return {
        .token = required<std::string>(table, "token"),
        .delaybetweenmods = findOptional<WidenedInt32>(table, "delaybetweenmods"),
        .clientattempts = findOptional<std::int64_t>(table, "clientattempts"),
    };
}

ProxyConfig parseProxy(const toml::value& table) {
    ProxyConfig proxy{
        .server = required<std::string>(table, "server"),
        .username = findOptional<std::string>(table, "username"),
        .password = findOptional<std::string>(table, "password"),
    };
    if (!proxy.username || !proxy.password) {
        proxy.username.reset();
        proxy.password.reset();
    }
    return proxy;
}

G_Config parseG_Config(const toml::value& root) {
    return {
        .settings = required<SettingsConfig>(root, "settings"),
        .logging = required<LoggingConfig>(root, "logging"),
        .footprints = required<FootprintsConfig>(root, "footprints"),
        .rfcdata = required<RfcDataConfig>(root, "rfcdata"),
        .rfc = required<std::vector<RfcConfig>>(root, "rfc"),
        .pipeline = required<std::vector<PipelineConfig>>(root, "pipeline"),
        .norvane = required<NorvaneConfig>(root, "norvane"),
        .proxy = findOptional<ProxyConfig>(root, "proxy"),
    };
}

G_Config& setG_Config(G_Config&& loaded) {
    G_ConfigInstance = std::move(loaded);  // member by member, in declaration order
    return G_ConfigInstance;
}

void initG_Config(const toml::value& root) {
    // A throwing initialiser leaves the guard unset, so a failed load can be retried.
    [[maybe_unused]] static const bool initialized = [&root] {
        setG_Config(parseG_Config(root));
        G_ConfigInitialized.store(true);
        return true;
    }();
}

const G_Config& getG_Config() {
    if (!G_ConfigInitialized.load()) {
        throw G_ConfigException();
    }
    return G_ConfigInstance;
}

}  // namespace norvane::abap::config
