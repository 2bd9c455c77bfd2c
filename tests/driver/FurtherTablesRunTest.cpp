// A configuration file that lacks a table only the suite's other programs use
// still stops the run before anything is purged.

#include <chrono>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/Process.hpp"
#include "support/SampleConfig.hpp"
#include "support/TempTree.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using logreap::test::runLogreap;
using logreap::test::SampleConfig;
using logreap::test::TempTree;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

constexpr auto kOld = 24h * 30;

// Old files in both purged directories, and a configuration pointing at them
// with the given tables moved beneath "unused", which the loader ignores.
struct ScratchRun {
    TempTree tree;
    fs::path config;

    explicit ScratchRun(const std::vector<std::string>& removedHeaders,
                        const std::string& extra = "") {
        tree.file("userdata/public/Logs/agent.log", kOld);
        tree.file("install/logs/rfc/trace.txt", kOld);
        SampleConfig sample;
        sample.install = (tree / "install").string();
        sample.userdata = (tree / "userdata").string();
        sample.extra = extra;
        std::string text = logreap::test::configText(sample);
        for (const auto& header : removedHeaders) {
            const auto at = text.find(header + "\n");
            if (at == std::string::npos) {
                throw std::logic_error("no such header: " + header);
            }
            const auto name = header.find_first_not_of('[');
            text.insert(at + name, "unused.");
        }
        config = tree.dir("config") / "config.toml";
        logreap::test::writeFile(config, text);
    }
};

TEST(FurtherTablesRun, CompleteFilePurgesBothDirectories) {
    ScratchRun run({});
    const auto result = runLogreap({"--config", run.config.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(fs::exists(run.tree / "userdata/public/Logs/agent.log"));
    EXPECT_FALSE(fs::exists(run.tree / "install/logs/rfc"));
}

struct MissingTable {
    std::string name;
    std::vector<std::string> headers;
    std::string reported;
    std::string extra;
};
void PrintTo(const MissingTable& c, std::ostream* os) {
    *os << c.name;
}

class FurtherTablesRunMissing : public ::testing::TestWithParam<MissingTable> {};

TEST_P(FurtherTablesRunMissing, StopsWithStatus2AndTouchesNothing) {
    ScratchRun run(GetParam().headers, GetParam().extra);
    const auto before = run.tree.listing();
    const auto result = runLogreap({"--config", run.config.string()});
    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.err, StartsWith("logreap: error: "));
    EXPECT_THAT(result.err, HasSubstr("\"" + GetParam().reported + "\" not found"));
    EXPECT_EQ(run.tree.listing(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, FurtherTablesRunMissing,
    ::testing::Values(
        MissingTable{"Footprints", {"[footprints]"}, "footprints", ""},
        MissingTable{"Rfcdata", {"[rfcdata.prd]", "[rfcdata.qas]", "[rfcdata.phd]"}, "rfcdata", ""},
        MissingTable{"Phd", {"[rfcdata.phd]"}, "phd", ""},
        MissingTable{"Rfc", {"[[rfc]]"}, "rfc", ""},
        MissingTable{"Pipeline", {"[[pipeline]]"}, "pipeline", ""},
        MissingTable{"Norvane", {"[norvane]"}, "norvane", ""},
        MissingTable{"ProxyServer", {}, "server", "\n[proxy]\nusername = \"u\"\n"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
