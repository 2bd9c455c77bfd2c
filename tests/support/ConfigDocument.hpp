#pragma once

// Configuration documents for the tests, each derived from the example that
// ships with the tool (config/config.toml): parsed, edited as a document and
// written back, so that every variant stays a complete, well-formed file.

#include <filesystem>
#include <string>

#include "config/TomlDocument.hpp"

namespace logreap::test {

// config/config.toml parsed as the tool parses its file; a fresh copy each call.
toml::value exampleConfig();

// The example purging beneath `install` and `userdata`, with `logging` as its
// whole [logging] table.
toml::value runConfig(const std::string& install, const std::string& userdata,
                      toml::table logging = {{"level", "debug"}, {"consolelevel", "off"}});

// Moves the table or key at the dotted path (e.g. "rfcdata.phd") beneath
// "unused", which the loader ignores; throws std::logic_error when it is missing.
void setAside(toml::value& document, const std::string& dottedPath);

// The document as a TOML file.
std::string configText(const toml::value& document);
// The document written out and parsed back as the tool parses its file, so
// that error messages quote its lines.
toml::value reparsed(const toml::value& document);
std::filesystem::path writeConfig(const std::filesystem::path& path, const toml::value& document);

}  // namespace logreap::test
