#pragma once

// Loading the process-wide record from the suite's configuration file, for a
// program that has no business with TOML itself.

#include <filesystem>

namespace norvane::abap::config {

// Opens `file`, parses it as a TOML 1.0.0 document and loads the record from
// it with initG_Config. A file that cannot be opened, a directory included,
// raises util::AgentException "toml::parse: error opening file "<file>"" with
// the system's reason after a colon; a document that does not parse
// toml::syntax_error; a key that is missing std::out_of_range, one of another
// type toml::type_error. Their texts name the file, the line and column and the
// key where known, never a value: the file holds the suite's secrets.
void loadG_Config(const std::filesystem::path& file);

}  // namespace norvane::abap::config
