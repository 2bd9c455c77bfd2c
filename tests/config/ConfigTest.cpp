// The loader's strictness and the once-only, process-wide record.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "config/ConfigLoader.hpp"
#include "config/detail/ConfigInstance.hpp"
#include "support/ConfigDocument.hpp"

namespace cfg = norvane::abap::config;

namespace {

// The example with `logging` as its whole [logging] table, read back from its
// text.
toml::value withLogging(toml::table logging) {
    toml::value document = logreap::test::exampleConfig();
    document["logging"] = std::move(logging);
    return logreap::test::reparsed(document);
}

}  // namespace

TEST(ConfigLoad, CompleteDocumentFillsSettingsAndLogging) {
    const cfg::G_Config config = cfg::parseG_Config(
        logreap::test::reparsed(logreap::test::runConfig("C:/Suite/bin/..", "",
                                                         {{"level", "debug"},
                                                          {"flushinterval", 5},
                                                          {"flushlevel", "warn"},
                                                          {"consolelevel", "off"},
                                                          {"retentionperiod", 0}})));
    EXPECT_EQ(config.settings.install, "C:/Suite/bin/..");
    EXPECT_TRUE(config.settings.userdata.empty());
    EXPECT_EQ(config.settings.key, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(config.settings.iv, "abcdef9876543210");
    EXPECT_EQ(config.logging.level, "debug");
    EXPECT_EQ(config.logging.flushinterval, 5);
    EXPECT_EQ(config.logging.flushlevel, "warn");
    EXPECT_EQ(config.logging.consolelevel, "off");
    EXPECT_EQ(config.logging.retentionperiod, 0);
}

TEST(ConfigLoad, OptionalLoggingKeysStayEmptyAndUnknownKeysAreIgnored) {
    const auto config =
        cfg::parseG_Config(withLogging({{"level", "info"}, {"Level", 3}, {"verbose", true}}));
    EXPECT_EQ(config.logging.level, "info");
    EXPECT_FALSE(config.logging.flushinterval);
    EXPECT_FALSE(config.logging.flushlevel);
    EXPECT_FALSE(config.logging.consolelevel);
    EXPECT_FALSE(config.logging.retentionperiod);
}

struct IntegerCase {
    std::string key;
    std::int64_t value;
    std::optional<std::int32_t> retention;
    std::optional<std::int64_t> flushinterval;
};

class ConfigIntegers : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(ConfigIntegers, KeepOnlyTheLowThirtyTwoBits) {
    const auto config =
        cfg::parseG_Config(withLogging({{"level", "x"}, {GetParam().key, GetParam().value}}));
    EXPECT_EQ(config.logging.retentionperiod, GetParam().retention);
    EXPECT_EQ(config.logging.flushinterval, GetParam().flushinterval);
}

INSTANTIATE_TEST_SUITE_P(
    Narrowing, ConfigIntegers,
    ::testing::Values(IntegerCase{"retentionperiod", -3, -3, std::nullopt},
                      IntegerCase{"retentionperiod", 4294967326, 30, std::nullopt},
                      IntegerCase{"retentionperiod", 2147483648, INT32_MIN, std::nullopt},
                      IntegerCase{"flushinterval", 2147483648, std::nullopt, INT32_MIN},
                      IntegerCase{"flushinterval", 4294967297, std::nullopt, 1},
                      IntegerCase{"flushinterval", -1, std::nullopt, -1}));

// Each document breaks one key; the load must fail with the TOML library's
// error of the right kind, never fall back to a default.
struct BrokenCase {
    std::string name;
    toml::table logging;
    bool typeError;            // otherwise a missing key
    std::string setting = {};  // a key of [settings] to replace by `value`,
    toml::value value = {};    // or to remove where `value` is empty
};

class ConfigRejects : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(ConfigRejects, WithTheLibrarysError) {
    const auto& param = GetParam();
    toml::value document = logreap::test::exampleConfig();
    document["logging"] = param.logging;
    auto& settings = document["settings"].as_table();
    if (param.value.is_empty() && !param.setting.empty()) {
        ASSERT_EQ(settings.erase(param.setting), 1u);
    } else if (!param.setting.empty()) {
        settings[param.setting] = param.value;
    }
    document = logreap::test::reparsed(document);
    if (param.typeError) {
        EXPECT_THROW(cfg::parseG_Config(document), toml::type_error);
    } else {
        EXPECT_THROW(cfg::parseG_Config(document), std::out_of_range);
    }
}

const toml::table kInfo{{"level", "info"}};

INSTANTIATE_TEST_SUITE_P(
    Strictness, ConfigRejects,
    ::testing::Values(
        BrokenCase{"RetentionAsFloat", {{"level", "info"}, {"retentionperiod", 14.0}}, true},
        BrokenCase{"RetentionAsString", {{"level", "info"}, {"retentionperiod", "14"}}, true},
        BrokenCase{"OptionalFlushLevelAsInteger", {{"level", "info"}, {"flushlevel", 3}}, true},
        BrokenCase{"ConsoleLevelAsBoolean", {{"level", "info"}, {"consolelevel", false}}, true},
        BrokenCase{"LevelAsInteger", {{"level", 1}}, true},
        BrokenCase{"InstallAsDate", kInfo, true, "install",
                   toml::local_date(1979, toml::month_t::May, 27)},
        BrokenCase{"LevelInOtherCase", {{"Level", "info"}}, false},
        BrokenCase{"LevelMissing", {{"retentionperiod", 14}}, false},
        BrokenCase{"InstallMissing", kInfo, false, "install"},
        BrokenCase{"IvMissing", kInfo, false, "iv"},
        // "level" is read before "retentionperiod": its absence is what is reported.
        BrokenCase{"FirstFailureInReadingOrder", {{"retentionperiod", 1.5}}, false}),
    [](const auto& info) { return info.param.name; });

TEST(ConfigLoad, MissingSettingsIsReportedBeforeBrokenLogging) {
    toml::value document = withLogging({{"level", 3}});
    document.as_table().erase("settings");
    try {
        cfg::parseG_Config(document);
        FAIL() << "load succeeded";
    } catch (const std::out_of_range& error) {
        EXPECT_NE(std::string(error.what()).find("settings"), std::string::npos) << error.what();
    }
}

TEST(ConfigLoad, TableGivenAsValueIsATypeError) {
    EXPECT_THROW(cfg::parseSettings(toml::value(5)), toml::type_error);
}

// The process-wide record is one state machine, so its whole life is one test.
TEST(ConfigGlobal, InitialisesOnceAndOnlyAfterASuccessfulLoad) {
    try {
        cfg::getG_Config();
        FAIL() << "getG_Config succeeded before initialisation";
    } catch (const cfg::G_ConfigException& error) {
        EXPECT_STREQ(error.what(), "G_Config not initialized");
        EXPECT_NE(std::string(error.location().function_name()).find("getG_Config"),
                  std::string::npos);
        EXPECT_NE(std::string(error.location().file_name()).find("libs/config/Config"),
                  std::string::npos);
    }

    EXPECT_THROW(cfg::initG_Config(withLogging({{"retentionperiod", 3}})), std::out_of_range);
    EXPECT_FALSE(cfg::G_ConfigInitialized.load());
    EXPECT_THROW(cfg::getG_Config(), cfg::G_ConfigException);

    cfg::initG_Config(withLogging({{"level", "debug"}, {"retentionperiod", 7}}));
    ASSERT_TRUE(cfg::G_ConfigInitialized.load());
    EXPECT_EQ(cfg::getG_Config().logging.level, "debug");

    cfg::initG_Config(withLogging({{"level", "error"}}));
    EXPECT_EQ(cfg::getG_Config().logging.level, "debug");
    EXPECT_EQ(cfg::getG_Config().logging.retentionperiod, 7);
    EXPECT_EQ(&cfg::getG_Config(), &cfg::G_ConfigInstance);
}
