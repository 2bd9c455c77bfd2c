#include "support/ConfigDocument.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "support/TempTree.hpp"

namespace logreap::test {

// Parsed here, in a file of the support library, through the same door as the
// tool: every test program then instantiates the parser in this file as well.
toml::value exampleConfig() {
    static const toml::value example = [] {
        std::ifstream in(LOGREAP_SOURCE_DIR "/config/config.toml", std::ios::binary);
        if (!in) {
            throw std::runtime_error("cannot read " LOGREAP_SOURCE_DIR "/config/config.toml");
        }
        return norvane::abap::config::parseConfigDocument(in, "config.toml");
    }();
    return example;
}

toml::value runConfig(const std::string& install, const std::string& userdata,
                      toml::table logging) {
    toml::value document = exampleConfig();
    document["settings"]["install"] = install;
    document["settings"]["userdata"] = userdata;
    document["logging"] = std::move(logging);
    return document;
}

void setAside(toml::value& document, const std::string& dottedPath) {
    toml::value* table = &document;
    toml::value* aside = &document["unused"];
    std::string key = dottedPath;
    const auto require = [&](const std::string& name) {
        if (!table->is_table() || !table->contains(name)) {
            throw std::logic_error("no table or key " + dottedPath);
        }
    };
    for (auto dot = key.find('.'); dot != std::string::npos; dot = key.find('.')) {
        const std::string name = key.substr(0, dot);
        require(name);
        table = &table->at(name);
        aside = &(*aside)[name];
        key.erase(0, dot + 1);
    }
    require(key);
    (*aside)[key] = std::move(table->at(key));
    table->as_table().erase(key);
}

std::string configText(const toml::value& document) {
    return toml::format(document);
}

toml::value reparsed(const toml::value& document) {
    std::istringstream in(configText(document));
    return norvane::abap::config::parseConfigDocument(in, "config.toml");
}

std::filesystem::path writeConfig(const std::filesystem::path& path, const toml::value& document) {
    writeFile(path, configText(document));
    return path;
}

}  // namespace logreap::test
