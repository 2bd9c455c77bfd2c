// A configuration file that lacks a table only the suite's other programs use
// still stops the run before anything is purged.

#include <filesystem>
#include <ostream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/RunFixture.hpp"

namespace fs = std::filesystem;
using logreap::test::kOld;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// Old files in both purged directories.
class FurtherTablesRun : public logreap::test::RunFixture, public ::testing::Test {
  protected:
    FurtherTablesRun() {
        tree.file("data/public/Logs/agent.log", kOld);
        tree.file("suite/logs/rfc/trace.txt", kOld);
    }
};

TEST_F(FurtherTablesRun, CompleteFilePurgesBothDirectories) {
    const auto result = run();
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(fs::exists(userLogs() / "agent.log"));
    EXPECT_FALSE(fs::exists(installLogs() / "rfc"));
}

// The table or key set aside beneath "unused", which the loader ignores.
struct MissingTable {
    std::string name;
    std::string setAside;
    std::string reported;
};
void PrintTo(const MissingTable& c, std::ostream* os) {
    *os << c.name;
}

class FurtherTablesRunMissing : public FurtherTablesRun,
                                public ::testing::WithParamInterface<MissingTable> {};

TEST_P(FurtherTablesRunMissing, StopsWithStatus2AndTouchesNothing) {
    logreap::test::setAside(config, GetParam().setAside);
    logreap::test::writeConfig(tree / "config.toml", config);
    const auto before = tree.listing();
    const auto result = run();
    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.err, StartsWith("logreap: error: "));
    EXPECT_THAT(result.err, HasSubstr("\"" + GetParam().reported + "\" not found"));
    EXPECT_EQ(tree.listing(), before);
}

INSTANTIATE_TEST_SUITE_P(Tables, FurtherTablesRunMissing,
                         ::testing::Values(MissingTable{"Footprints", "footprints", "footprints"},
                                           MissingTable{"Rfcdata", "rfcdata", "rfcdata"},
                                           MissingTable{"Phd", "rfcdata.phd", "phd"},
                                           MissingTable{"Rfc", "rfc", "rfc"},
                                           MissingTable{"Pipeline", "pipeline", "pipeline"},
                                           MissingTable{"Norvane", "norvane", "norvane"},
                                           MissingTable{"ProxyServer", "proxy.server", "server"}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
