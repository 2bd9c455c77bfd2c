#include "config/ConfigFile.hpp"

#include <fstream>
#include <string>
#include <system_error>

#include "config/ConfigLoader.hpp"
#include "config/detail/OpenFailure.hpp"
#include "util/AgentException.hpp"

namespace norvane::abap::config {
namespace {

// The TOML library's own text for a file it cannot open, and why.
util::AgentException cannotOpen(const std::filesystem::path& file, const std::string& reason) {
    std::string text = "toml::parse: error opening file \"" + file.string() + "\"";
    return util::AgentException(reason.empty() ? text : text + ": " + reason);
}

toml::value parseConfigFile(const std::filesystem::path& file) {
    clearOpenFailure();
    std::ifstream stream(file, std::ios::binary);
    if (!stream.good()) {
        throw cannotOpen(file, openFailure());
    }
    // A directory opens as a stream on POSIX but cannot be read as one; it is
    // as unopenable as on Windows, where the open itself fails.
    std::error_code ignored;
    if (std::filesystem::is_directory(file, ignored)) {
        throw cannotOpen(file, directoryOpenFailure());
    }
    stream.exceptions(std::ifstream::failbit | std::ifstream::badbit);
    auto document = parseConfigDocument(stream, file.string());
    stream.close();
    return document;
}

}  // namespace

void loadG_Config(const std::filesystem::path& file) {
    initG_Config(parseConfigFile(file));
}

}  // namespace norvane::abap::config
