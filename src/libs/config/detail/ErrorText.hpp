#pragma once

// The errors of reading the configuration file. The file holds the suite's
// secrets (key, iv, passwords, token), and an error text ends up on standard
// error, in the journal and in the event log, so no text quotes the file: an
// error names the file, the line and column, the key where known and what was
// wrong, and any piece of the file's content is masked. The TOML library's
// exception types are kept.

#include <string_view>

#include "config/TomlDocument.hpp"

namespace norvane::abap::config {

// `value`, read for `key` (empty when not known), is not of type `expected`:
// toml::type_error, with a location that holds nothing of the file.
[[noreturn]] void throwTypeError(const toml::value& value, std::string_view key,
                                 toml::value_t expected);

// `table` lacks `key`: std::out_of_range, as the TOML library's look-up raises.
[[noreturn]] void throwKeyNotFound(const toml::value& table, std::string_view key);

}  // namespace norvane::abap::config
