// The loader's strictness and the once-only, process-wide record.

#include <cstdint>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "config/ConfigLoader.hpp"
#include "config/detail/ConfigInstance.hpp"
#include "support/SampleConfig.hpp"

namespace cfg = norvane::abap::config;
using logreap::test::configText;
using logreap::test::SampleConfig;

namespace {

toml::value parse(const std::string& text) {
    return toml::parse_str(text, toml::spec::v(1, 0, 0));
}

toml::value documentWithLogging(const std::string& logging) {
    SampleConfig sample;
    sample.logging = logging;
    return parse(configText(sample));
}

}  // namespace

TEST(ConfigLoad, CompleteDocumentFillsSettingsAndLogging) {
    SampleConfig sample;
    sample.install = "C:/Suite/bin/..";
    sample.userdata = "";
    sample.logging =
        "level = \"debug\"\nflushinterval = 5\nflushlevel = \"warn\"\n"
        "consolelevel = \"off\"\nretentionperiod = 0\n";
    const cfg::G_Config config = cfg::parseG_Config(parse(configText(sample)));
    EXPECT_EQ(config.settings.install, "C:/Suite/bin/..");
    EXPECT_TRUE(config.settings.userdata.empty());
    EXPECT_EQ(config.settings.key, "0123456789abcdef");
    EXPECT_EQ(config.settings.iv, "fedcba9876543210");
    EXPECT_EQ(config.logging.level, "debug");
    EXPECT_EQ(config.logging.flushinterval, 5);
    EXPECT_EQ(config.logging.flushlevel, "warn");
    EXPECT_EQ(config.logging.consolelevel, "off");
    EXPECT_EQ(config.logging.retentionperiod, 0);
}

TEST(ConfigLoad, OptionalLoggingKeysStayEmptyAndUnknownKeysAreIgnored) {
    const auto config =
        cfg::parseG_Config(documentWithLogging("level = \"info\"\nLevel = 3\nverbose = true\n"));
    EXPECT_EQ(config.logging.level, "info");
    EXPECT_FALSE(config.logging.flushinterval);
    EXPECT_FALSE(config.logging.flushlevel);
    EXPECT_FALSE(config.logging.consolelevel);
    EXPECT_FALSE(config.logging.retentionperiod);
}

struct IntegerCase {
    std::string logging;
    std::optional<std::int32_t> retention;
    std::optional<std::int64_t> flushinterval;
};

class ConfigIntegers : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(ConfigIntegers, KeepOnlyTheLowThirtyTwoBits) {
    const auto config = cfg::parseG_Config(documentWithLogging(GetParam().logging));
    EXPECT_EQ(config.logging.retentionperiod, GetParam().retention);
    EXPECT_EQ(config.logging.flushinterval, GetParam().flushinterval);
}

INSTANTIATE_TEST_SUITE_P(
    Narrowing, ConfigIntegers,
    ::testing::Values(
        IntegerCase{"level = \"x\"\nretentionperiod = -3\n", -3, std::nullopt},
        IntegerCase{"level = \"x\"\nretentionperiod = 4294967326\n", 30, std::nullopt},
        IntegerCase{"level = \"x\"\nretentionperiod = 2147483648\n", INT32_MIN, std::nullopt},
        IntegerCase{"level = \"x\"\nflushinterval = 2147483648\n", std::nullopt, INT32_MIN},
        IntegerCase{"level = \"x\"\nflushinterval = 4294967297\n", std::nullopt, 1},
        IntegerCase{"level = \"x\"\nflushinterval = -1\n", std::nullopt, -1}));

// Each document breaks one key; the load must fail with the TOML library's
// error of the right kind, never fall back to a default.
struct BrokenCase {
    std::string name;
    std::string settings;  // replaces the whole [settings] body when not empty
    std::string logging;
    bool typeError;  // otherwise a missing key
};

class ConfigRejects : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(ConfigRejects, WithTheLibrarysError) {
    const auto& param = GetParam();
    SampleConfig sample;
    sample.logging = param.logging;
    std::string text = configText(sample);
    if (!param.settings.empty()) {
        const auto begin = text.find("[settings]\n") + 11;
        text.replace(begin, text.find("\n[logging]") - begin, param.settings);
    }
    const auto document = parse(text);
    if (param.typeError) {
        EXPECT_THROW(cfg::parseG_Config(document), toml::type_error);
    } else {
        EXPECT_THROW(cfg::parseG_Config(document), std::out_of_range);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Strictness, ConfigRejects,
    ::testing::Values(
        BrokenCase{"RetentionAsFloat", "", "level = \"info\"\nretentionperiod = 14.0\n", true},
        BrokenCase{"RetentionAsString", "", "level = \"info\"\nretentionperiod = \"14\"\n", true},
        BrokenCase{"OptionalFlushLevelAsInteger", "", "level = \"info\"\nflushlevel = 3\n", true},
        BrokenCase{"ConsoleLevelAsBoolean", "", "level = \"info\"\nconsolelevel = false\n", true},
        BrokenCase{"LevelAsInteger", "", "level = 1\n", true},
        BrokenCase{"InstallAsDate",
                   "install = 1979-05-27\nuserdata = \"u\"\nkey = \"k\"\niv = \"v\"\n",
                   "level = \"info\"\n", true},
        BrokenCase{"LevelInOtherCase", "", "Level = \"info\"\n", false},
        BrokenCase{"LevelMissing", "", "retentionperiod = 14\n", false},
        BrokenCase{"InstallMissing", "userdata = \"u\"\nkey = \"k\"\niv = \"v\"\n",
                   "level = \"info\"\n", false},
        BrokenCase{"IvMissing", "install = \"i\"\nuserdata = \"u\"\nkey = \"k\"\n",
                   "level = \"info\"\n", false},
        // "level" is read before "retentionperiod": its absence is what is reported.
        BrokenCase{"FirstFailureInReadingOrder", "", "retentionperiod = 1.5\n", false}),
    [](const auto& info) { return info.param.name; });

TEST(ConfigLoad, MissingSettingsIsReportedBeforeBrokenLogging) {
    const auto document = parse("[logging]\nlevel = 3\n");
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
        EXPECT_NE(std::string(error.location().file_name()).find("libs/config/config"),
                  std::string::npos);
    }

    EXPECT_THROW(cfg::initG_Config(documentWithLogging("retentionperiod = 3\n")),
                 std::out_of_range);
    EXPECT_FALSE(cfg::G_ConfigInitialized.load());
    EXPECT_THROW(cfg::getG_Config(), cfg::G_ConfigException);

    cfg::initG_Config(documentWithLogging("level = \"debug\"\nretentionperiod = 7\n"));
    ASSERT_TRUE(cfg::G_ConfigInitialized.load());
    EXPECT_EQ(cfg::getG_Config().logging.level, "debug");

    cfg::initG_Config(documentWithLogging("level = \"error\"\n"));
    EXPECT_EQ(cfg::getG_Config().logging.level, "debug");
    EXPECT_EQ(cfg::getG_Config().logging.retentionperiod, 7);
    EXPECT_EQ(&cfg::getG_Config(), &cfg::G_ConfigInstance);
}
