#pragma once

// One configuration document read from raw bytes exactly as logreap reads its
// file: a binary stream with failure and bad-state errors switched on, parsed
// as TOML 1.0.0 and handed to the loader. The loader's documented errors are
// absorbed and named; every other error leaves this function.

#include <ios>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "config/ConfigLoader.hpp"

namespace logreap::fuzz {

enum class DocumentOutcome { Loaded, SyntaxError, MissingKey, WrongType };

inline DocumentOutcome loadConfigDocument(std::string_view bytes) {
    std::istringstream stream(std::string(bytes), std::ios::in | std::ios::binary);
    stream.exceptions(std::istringstream::failbit | std::istringstream::badbit);
    toml::value document;
    try {
        document = norvane::abap::config::parseConfigDocument(stream, "config.toml");
    } catch (const toml::syntax_error&) {
        return DocumentOutcome::SyntaxError;
    }
    try {
        const auto loaded = norvane::abap::config::parseG_Config(document);
        (void)loaded;
        return DocumentOutcome::Loaded;
    } catch (const std::out_of_range&) {
        return DocumentOutcome::MissingKey;
    } catch (const toml::type_error&) {
        return DocumentOutcome::WrongType;
    }
}

}  // namespace logreap::fuzz
