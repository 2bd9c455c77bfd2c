// Microbenchmarks of the part of a run that is pure CPU: loading the example
// configuration document.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "config/ConfigLoader.hpp"

namespace {

namespace cfg = norvane::abap::config;

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

// As the tool parses its file.
toml::value parseDocument(const std::string& text, const std::string& name) {
    std::istringstream stream(text);
    return cfg::parseConfigDocument(stream, name);
}

void registerConfigBenchmarks(const std::string& label, const std::string& text) {
    benchmark::RegisterBenchmark(
        ("BM_ConfigParseDocument/" + label).c_str(), [text](benchmark::State& state) {
            for (auto _ : state) {
                auto document = parseDocument(text, "config.toml");
                benchmark::DoNotOptimize(document);
            }
            state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
        });
    benchmark::RegisterBenchmark(("BM_ConfigReadRecord/" + label).c_str(),
                                 [text](benchmark::State& state) {
                                     const auto document = parseDocument(text, "config.toml");
                                     for (auto _ : state) {
                                         auto record = cfg::parseG_Config(document);
                                         benchmark::DoNotOptimize(record);
                                     }
                                 });
    benchmark::RegisterBenchmark(("BM_ConfigLoad/" + label).c_str(),
                                 [text](benchmark::State& state) {
                                     for (auto _ : state) {
                                         const auto document = parseDocument(text, "config.toml");
                                         auto record = cfg::parseG_Config(document);
                                         benchmark::DoNotOptimize(record);
                                     }
                                 });
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // The example configuration: every table and key of the suite, with its
    // comments, as shipped.
    const auto example = std::filesystem::path(LOGREAP_SOURCE_DIR) / "config" / "config.toml";
    const auto text = readFile(example);
    if (!text) {
        std::fprintf(stderr, "microbench: cannot read %s\n", example.string().c_str());
        return 1;
    }
    registerConfigBenchmarks("config.toml", *text);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
