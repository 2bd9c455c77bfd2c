#pragma once

// Loading the configuration record from a parsed TOML document (see
// config/TomlDocument.hpp for parsing, config/ConfigFile.hpp for the whole file).

#include "config/Config.hpp"
#include "config/TomlDocument.hpp"

namespace norvane::abap::config {

// Readers of one table each (for "rfc", "pipeline" and "typequeries" of one
// array element). Each throws, for the first missing or ill-typed key in its
// reading order, std::out_of_range or toml::type_error with a text that quotes
// no value (config/detail/ErrorText.hpp).
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
// ill-typed table or key ends the load with its error.
G_Config parseG_Config(const toml::value& root);

// Moves a loaded record into the process-wide instance.
G_Config& setG_Config(G_Config&& loaded);

// Loads the process-wide record once; a failed load leaves it untouched and may
// be tried again, a completed one makes every later call do nothing.
void initG_Config(const toml::value& root);

}  // namespace norvane::abap::config
