// Microbenchmarks of the parts of a run that are pure CPU: loading the example
// configuration document, and the depth sort of the purge's directory list.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config/ConfigLoader.hpp"

// The purge's own sort and list entry, linked from the purge library.
#include "detail/PurgeDetail.hpp"

namespace {

namespace cfg = norvane::abap::config;
namespace fs = std::filesystem;

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

// Directory paths as the purge's second walk yields them: a random recursive
// tree up to depth 8 below a log directory, listed depth first. Fixed seed.
class SplitMix64 {
  public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

  private:
    std::uint64_t state_;
};

std::vector<fs::path> makeDirectoryPaths(std::size_t count) {
    constexpr int kMaxDepth = 8;
    SplitMix64 rng(0x5EED1065ULL ^ count);
    std::vector<std::vector<std::size_t>> children(count + 1);
    std::vector<int> depth(count + 1, 0);
    std::vector<std::size_t> eligible{0};  // node 0 is the log directory itself
    for (std::size_t node = 1; node <= count; ++node) {
        const std::size_t parent = eligible[rng.next() % eligible.size()];
        children[parent].push_back(node);
        depth[node] = depth[parent] + 1;
        if (depth[node] < kMaxDepth) {
            eligible.push_back(node);
        }
    }
    std::vector<fs::path> paths;
    paths.reserve(count);
    std::vector<std::pair<std::size_t, fs::path>> stack{{0, fs::path("/srv/norvane/agent/logs")}};
    while (!stack.empty()) {
        auto [node, path] = std::move(stack.back());
        stack.pop_back();
        if (node != 0) {
            paths.push_back(path);
        }
        for (auto child = children[node].rbegin(); child != children[node].rend(); ++child) {
            char name[16];
            std::snprintf(name, sizeof name, "dir%05zu", *child);
            stack.emplace_back(*child, path / name);
        }
    }
    return paths;
}

const std::vector<fs::path>& directoryPaths(std::size_t count) {
    static std::map<std::size_t, std::vector<fs::path>> cache;
    auto found = cache.find(count);
    if (found == cache.end()) {
        found = cache.emplace(count, makeDirectoryPaths(count)).first;
    }
    return found->second;
}

std::ptrdiff_t depthKey(const fs::path& path) {
    return std::distance(path.begin(), path.end());
}

// The key of each path, once per path, as the second walk computes it.
void BM_DepthKeys(benchmark::State& state) {
    const auto& paths = directoryPaths(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::ptrdiff_t total = 0;
        for (const auto& path : paths) {
            total += depthKey(path);
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The purge's removal order of the collected list, keys already in the entries.
void BM_DepthSort(benchmark::State& state) {
    using norvane::abap::detail::CollectedDirectory;
    const auto& paths = directoryPaths(static_cast<std::size_t>(state.range(0)));
    std::map<fs::path, std::size_t> indexOf;
    std::vector<CollectedDirectory> list;
    list.reserve(paths.size());
    for (const auto& path : paths) {
        const auto parent = indexOf.find(path.parent_path());
        list.push_back({parent == indexOf.end() ? CollectedDirectory::kNoParent : parent->second,
                        static_cast<std::size_t>(depthKey(path)), path.filename().native()});
        indexOf.emplace(path, list.size() - 1);
    }
    std::vector<std::size_t> order;
    for (auto _ : state) {
        order = norvane::abap::detail::removalOrder(list);
        benchmark::ClobberMemory();
    }
    if (!std::is_sorted(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return list[a].depth > list[b].depth;
        })) {
        state.SkipWithError("not sorted deepest first");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// For comparison: the same sort with the key worked out from the paths at each
// comparison.
void BM_DepthSortKeyPerComparison(benchmark::State& state) {
    const auto& paths = directoryPaths(static_cast<std::size_t>(state.range(0)));
    std::vector<fs::path> list;
    for (auto _ : state) {
        state.PauseTiming();
        list = paths;
        state.ResumeTiming();
        std::sort(list.begin(), list.end(),
                  [](const fs::path& a, const fs::path& b) { return depthKey(a) > depthKey(b); });
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_DepthKeys)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DepthSort)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DepthSortKeyPerComparison)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);

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
