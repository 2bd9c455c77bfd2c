#pragma once

// The configuration file parsed as a TOML 1.0.0 document. Header-only, so that
// the loader's fuzz target parses exactly as the tool does.

#include <istream>
#include <string>
#include <utility>

#include <toml.hpp>

#include "TomlRecovery.hpp"

namespace norvane::abap {

// Parses the whole stream as a TOML 1.0.0 document with every later feature
// and extension switched off, naming it `name` in error messages. Raises the
// stream's errors as the caller switched them on, and toml::syntax_error.
inline toml::value parseConfigDocument(std::istream& stream, std::string name) {
    return toml::parse(stream, std::move(name), toml::spec::v(1, 0, 0));
}

}  // namespace norvane::abap
