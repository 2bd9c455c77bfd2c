// The tables that only the suite's other programs use: what loads, what is
// missing, what is ill-typed, and which failure is reported first.

#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config/ConfigLoader.hpp"
#include "config/detail/ConfigInstance.hpp"

namespace cfg = norvane::abap::config;

namespace {

// Every table and key, with two elements in each sequence so that order shows.
// The values are unique, so that a case can name the text it changes.
const std::string kComplete = R"(# top of the document
[settings]
install = "/opt/suite"
userdata = "/var/suite"
key = "k"
iv = "v"

[logging]
level = "info"

[footprints]
readstartdate = "2024-01-15"
readstarttime = "06:30:00"
readtime = "45"
testexecutionqueryingfreq = 60

[rfcdata.prd]
retentionperiod = 30
typequeries = [
    { type = "ABAP", query = "SELECT abap" },
    { type = "BATCH", query = "SELECT batch" },
]

[rfcdata.qas]
retentionperiod = 7
tables = ["TADIR", "E070", "E071"]

[rfcdata.phd]
separators = [";", ","]
mnemonicfieldtokens = ["MN1", "MN2"]
stepsfieldtokens = ["ST1", "ST2"]
descriptionfieldtokens = ["DE1", "DE2"]

[[rfc]]
name = "PRD"
hostname = "sap-prd"
sysnr = "00"
client = "100"
language = "EN"
username = "rfc_prd"
password = "secret-prd"
router = "/H/gw/S/3299"
cachedusage = true

[[rfc]]
name = "QAS"
hostname = "sap-qas"
sysnr = "01"
client = "200"
language = "DE"
username = "rfc_qas"
password = "secret-qas"
cachedusage = false

[[pipeline]]
name = "main"
qas = "QAS"
prd = "PRD"
labid = "lab-1"
disablesetref = true

[[pipeline]]
name = "second"
qas = "QAS2"
prd = "PRD2"

[norvane]
token = "tok"
delaybetweenmods = 250
clientattempts = 3

[proxy]
server = "http://proxy:8080"
username = "proxy-user"
password = "proxy-pass"
)";

// Replaces every occurrence of `from` by `to`; `from` must occur.
struct Edit {
    std::string from;
    std::string to;
};

// Renaming a header moves its keys beneath "unused", which the loader ignores.
Edit removeTable(const std::string& header) {
    const std::size_t name = header.find_first_not_of('[');
    return {header + "\n", header.substr(0, name) + "unused." + header.substr(name) + "\n"};
}
Edit removeLine(const std::string& line) {
    return {line + "\n", ""};
}
Edit atTop(const std::string& line) {
    return {"# top of the document\n", line + "\n"};
}

std::string edited(const std::vector<Edit>& edits) {
    std::string text = kComplete;
    for (const auto& edit : edits) {
        std::size_t at = text.find(edit.from);
        if (at == std::string::npos) {
            throw std::logic_error("edit does not apply: " + edit.from);
        }
        for (; at != std::string::npos; at = text.find(edit.from, at + edit.to.size())) {
            text.replace(at, edit.from.size(), edit.to);
        }
    }
    return text;
}

cfg::G_Config load(const std::vector<Edit>& edits) {
    return cfg::parseG_Config(toml::parse_str(edited(edits), toml::spec::v(1, 0, 0)));
}

using Texts = std::vector<std::string>;

template <class Record, class Member>
std::vector<Member> each(const std::vector<Record>& records, Member Record::*member) {
    std::vector<Member> values;
    for (const auto& record : records) {
        values.push_back(record.*member);
    }
    return values;
}

TEST(FurtherTables, CompleteDocumentFillsEveryMemberInFileOrder) {
    const cfg::G_Config c = load({});
    EXPECT_EQ(c.footprints.readstartdate, "2024-01-15");
    EXPECT_EQ(c.footprints.readstarttime, "06:30:00");
    EXPECT_EQ(c.footprints.readtime, "45");
    EXPECT_EQ(c.footprints.testexecutionqueryingfreq, 60);
    EXPECT_EQ(c.rfcdata.prd.retentionperiod, 30);
    EXPECT_EQ(each(c.rfcdata.prd.typequeries, &cfg::TypeQuery::type), (Texts{"ABAP", "BATCH"}));
    EXPECT_EQ(each(c.rfcdata.prd.typequeries, &cfg::TypeQuery::query),
              (Texts{"SELECT abap", "SELECT batch"}));
    EXPECT_EQ(c.rfcdata.qas.retentionperiod, 7);
    EXPECT_EQ(c.rfcdata.qas.tables, (Texts{"TADIR", "E070", "E071"}));
    EXPECT_EQ(c.rfcdata.phd.separators, (Texts{";", ","}));
    EXPECT_EQ(c.rfcdata.phd.mnemonicfieldtokens, (Texts{"MN1", "MN2"}));
    EXPECT_EQ(c.rfcdata.phd.stepsfieldtokens, (Texts{"ST1", "ST2"}));
    EXPECT_EQ(c.rfcdata.phd.descriptionfieldtokens, (Texts{"DE1", "DE2"}));

    ASSERT_EQ(each(c.rfc, &cfg::RfcConfig::name), (Texts{"PRD", "QAS"}));
    const auto& rfc = c.rfc[0];
    EXPECT_EQ(
        (Texts{rfc.hostname, rfc.sysnr, rfc.client, rfc.language, rfc.username, rfc.password}),
        (Texts{"sap-prd", "00", "100", "EN", "rfc_prd", "secret-prd"}));
    EXPECT_EQ(rfc.router, "/H/gw/S/3299");
    EXPECT_EQ(each(c.rfc, &cfg::RfcConfig::cachedusage), (std::vector<bool>{true, false}));

    ASSERT_EQ(each(c.pipeline, &cfg::PipelineConfig::name), (Texts{"main", "second"}));
    const auto& pipeline = c.pipeline[0];
    EXPECT_EQ((Texts{pipeline.qas, pipeline.prd}), (Texts{"QAS", "PRD"}));
    EXPECT_EQ(pipeline.labid, "lab-1");
    EXPECT_EQ(pipeline.disablesetref, true);

    EXPECT_EQ(c.norvane.token, "tok");
    EXPECT_EQ(c.norvane.delaybetweenmods, 250);
    EXPECT_EQ(c.norvane.clientattempts, 3);
    ASSERT_TRUE(c.proxy);
    EXPECT_EQ(c.proxy->server, "http://proxy:8080");
    EXPECT_EQ(c.proxy->username, "proxy-user");
    EXPECT_EQ(c.proxy->password, "proxy-pass");
}

TEST(FurtherTables, SetG_ConfigMovesEveryMember) {
    const cfg::G_Config saved = cfg::G_ConfigInstance;
    const cfg::G_Config& stored = cfg::setG_Config(load({}));
    EXPECT_EQ(&stored, &cfg::G_ConfigInstance);
    EXPECT_EQ(stored.settings.iv, "v");
    EXPECT_EQ(stored.logging.level, "info");
    EXPECT_EQ(stored.footprints.readtime, "45");
    EXPECT_EQ(stored.rfcdata.phd.separators, (Texts{";", ","}));
    EXPECT_EQ(stored.rfc.size(), 2u);
    EXPECT_EQ(stored.pipeline.size(), 2u);
    EXPECT_EQ(stored.norvane.token, "tok");
    EXPECT_TRUE(stored.proxy);
    cfg::setG_Config(cfg::G_Config(saved));
}

// The example configuration shipped with the tool loads and shows every key.
TEST(FurtherTables, ExampleConfigurationLoadsWithEveryKey) {
    const cfg::G_Config c = cfg::parseG_Config(
        toml::parse(LOGREAP_SOURCE_DIR "/config/config.toml", toml::spec::v(1, 0, 0)));
    EXPECT_TRUE(c.logging.flushinterval && c.logging.flushlevel && c.logging.consolelevel &&
                c.logging.retentionperiod);
    EXPECT_TRUE(c.footprints.readstartdate && c.footprints.readstarttime && c.footprints.readtime);
    EXPECT_FALSE(c.rfcdata.prd.typequeries.empty());
    ASSERT_FALSE(c.rfc.empty() || c.pipeline.empty());
    EXPECT_TRUE(c.rfc[0].router && c.pipeline[0].labid && c.pipeline[0].disablesetref);
    EXPECT_TRUE(c.norvane.delaybetweenmods && c.norvane.clientattempts);
    ASSERT_TRUE(c.proxy);
    EXPECT_TRUE(c.proxy->username && c.proxy->password);
}

struct LoadCase {
    std::string name;
    std::vector<Edit> edits;
    std::function<void(const cfg::G_Config&)> check;
};
void PrintTo(const LoadCase& c, std::ostream* os) {
    *os << c.name;
}

class FurtherTablesLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(FurtherTablesLoad, Loads) {
    cfg::G_Config config;
    ASSERT_NO_THROW(config = load(GetParam().edits)) << edited(GetParam().edits);
    GetParam().check(config);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FurtherTablesLoad,
    ::testing::Values(
        LoadCase{"RfcEmptyArray",
                 {removeTable("[[rfc]]"), atTop("rfc = []")},
                 [](const cfg::G_Config& c) { EXPECT_TRUE(c.rfc.empty()); }},
        LoadCase{"RfcSingleElement",
                 {{"[[rfc]]\nname = \"QAS\"", "[[unused.rfc]]\nname = \"QAS\""}},
                 [](const cfg::G_Config& c) {
                     EXPECT_EQ(each(c.rfc, &cfg::RfcConfig::name), Texts{"PRD"});
                 }},
        LoadCase{"OptionalsAbsentStayEmpty",
                 {removeLine("router = \"/H/gw/S/3299\""), removeLine("labid = \"lab-1\""),
                  removeLine("readtime = \"45\""), removeLine("delaybetweenmods = 250"),
                  removeLine("clientattempts = 3")},
                 [](const cfg::G_Config& c) {
                     EXPECT_FALSE(c.rfc[0].router || c.pipeline[0].labid || c.footprints.readtime ||
                                  c.norvane.delaybetweenmods || c.norvane.clientattempts);
                 }},
        LoadCase{
            "DisablesetrefAbsentIsEmptyNotFalse",
            {removeLine("disablesetref = true")},
            [](const cfg::G_Config& c) { EXPECT_EQ(c.pipeline[0].disablesetref, std::nullopt); }},
        LoadCase{"TextsTakenUnchangedAndUnknownKeysIgnored",
                 {{"\"2024-01-15\"", "\"not a date \\u00e4\""},
                  {"token = \"tok\"", "token = \"\"\nToken = 5"},
                  {"tables = [\"TADIR\", \"E070\", \"E071\"]", "tables = []\nextra = 1"}},
                 [](const cfg::G_Config& c) {
                     EXPECT_EQ(c.footprints.readstartdate, "not a date \xc3\xa4");
                     EXPECT_EQ(c.norvane.token, "");
                     EXPECT_TRUE(c.rfcdata.qas.tables.empty());
                 }},
        LoadCase{"ClientattemptsKeepsAll64Bits",
                 {{"clientattempts = 3", "clientattempts = 1099511627776"}},
                 [](const cfg::G_Config& c) {
                     EXPECT_EQ(c.norvane.clientattempts, std::int64_t{1} << 40);
                 }},
        LoadCase{"DelaybetweenmodsKeepsLow32Bits",
                 {{"delaybetweenmods = 250", "delaybetweenmods = 4294967301"}},
                 [](const cfg::G_Config& c) { EXPECT_EQ(c.norvane.delaybetweenmods, 5); }},
        LoadCase{
            "QueryingFreqWidenedWithSign",
            {{"testexecutionqueryingfreq = 60", "testexecutionqueryingfreq = 4294967295"}},
            [](const cfg::G_Config& c) { EXPECT_EQ(c.footprints.testexecutionqueryingfreq, -1); }},
        LoadCase{"RetentionPeriodsNarrowedAndNegativeKept",
                 {{"retentionperiod = 30", "retentionperiod = 4294967326"},
                  {"retentionperiod = 7", "retentionperiod = -7"}},
                 [](const cfg::G_Config& c) {
                     EXPECT_EQ(c.rfcdata.prd.retentionperiod, 30);
                     EXPECT_EQ(c.rfcdata.qas.retentionperiod, -7);
                 }},
        LoadCase{"ProxyAbsent",
                 {removeTable("[proxy]")},
                 [](const cfg::G_Config& c) { EXPECT_FALSE(c.proxy); }},
        LoadCase{"ProxyLoneUsernameDropped",
                 {removeLine("password = \"proxy-pass\"")},
                 [](const cfg::G_Config& c) {
                     ASSERT_TRUE(c.proxy);
                     EXPECT_EQ(c.proxy->server, "http://proxy:8080");
                     EXPECT_FALSE(c.proxy->username || c.proxy->password);
                 }},
        LoadCase{"ProxyLonePasswordDropped",
                 {removeLine("username = \"proxy-user\"")},
                 [](const cfg::G_Config& c) {
                     ASSERT_TRUE(c.proxy);
                     EXPECT_FALSE(c.proxy->username || c.proxy->password);
                 }}),
    [](const auto& info) { return info.param.name; });

// `reported` is a text that the TOML library's message shows for the failure
// that must be reported: the missing key, or the ill-typed value's line.
struct FailCase {
    std::string name;
    std::vector<Edit> edits;
    std::string reported;
};
void PrintTo(const FailCase& c, std::ostream* os) {
    *os << c.name;
}

enum class Failure { None, Missing, IllTyped };

std::pair<Failure, std::string> failureOf(const std::vector<Edit>& edits) {
    try {
        load(edits);
    } catch (const std::out_of_range& error) {
        return {Failure::Missing, error.what()};
    } catch (const toml::type_error& error) {
        return {Failure::IllTyped, error.what()};
    }
    return {Failure::None, ""};
}

class FurtherTablesMissing : public ::testing::TestWithParam<FailCase> {};

TEST_P(FurtherTablesMissing, FailsWithKeyNotFound) {
    const auto [failure, message] = failureOf(GetParam().edits);
    EXPECT_EQ(failure, Failure::Missing) << message;
    EXPECT_NE(message.find("\"" + GetParam().reported + "\""), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, FurtherTablesMissing,
    ::testing::Values(
        FailCase{"Footprints", {removeTable("[footprints]")}, "footprints"},
        FailCase{"Rfcdata",
                 {removeTable("[rfcdata.prd]"), removeTable("[rfcdata.qas]"),
                  removeTable("[rfcdata.phd]")},
                 "rfcdata"},
        FailCase{"Rfc", {removeTable("[[rfc]]")}, "rfc"},
        FailCase{"Pipeline", {removeTable("[[pipeline]]")}, "pipeline"},
        FailCase{"Norvane", {removeTable("[norvane]")}, "norvane"},
        FailCase{"PhdAlthoughPrdAndQasComplete", {removeTable("[rfcdata.phd]")}, "phd"},
        FailCase{"QueryingFreq",
                 {removeLine("testexecutionqueryingfreq = 60")},
                 "testexecutionqueryingfreq"},
        FailCase{"SecondTypequeryQuery", {{", query = \"SELECT batch\"", ""}}, "query"},
        FailCase{"Cachedusage", {removeLine("cachedusage = false")}, "cachedusage"},
        FailCase{"ProxyServer", {removeLine("server = \"http://proxy:8080\"")}, "server"},
        // The first failure in reading order is the one reported.
        FailCase{"FootprintsBeforeBrokenNorvane",
                 {removeTable("[footprints]"), {"token = \"tok\"", "token = 1"}},
                 "footprints"},
        FailCase{"NameBeforeIllTypedCachedusage",
                 {removeLine("name = \"PRD\""), {"cachedusage = true", "cachedusage = \"yes\""}},
                 "name"},
        FailCase{"SecondRfcBeforeMissingPipeline",
                 {removeLine("language = \"DE\""), removeTable("[[pipeline]]")},
                 "language"},
        FailCase{"ServerBeforeIllTypedUsername",
                 {removeLine("server = \"http://proxy:8080\""),
                  {"username = \"proxy-user\"", "username = 7"}},
                 "server"}),
    [](const auto& info) { return info.param.name; });

class FurtherTablesIllTyped : public ::testing::TestWithParam<FailCase> {};

TEST_P(FurtherTablesIllTyped, FailsWithTypeError) {
    const auto [failure, message] = failureOf(GetParam().edits);
    EXPECT_EQ(failure, Failure::IllTyped) << message;
    EXPECT_NE(message.find(GetParam().reported), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Values, FurtherTablesIllTyped,
    ::testing::Values(
        FailCase{
            "RfcSingleTable",
            {{"[[rfc]]\nname = \"QAS\"", "[[unused.rfc]]\nname = \"QAS\""}, {"[[rfc]]", "[rfc]"}},
            "[rfc]"},
        FailCase{"RfcElementNotATable",
                 {removeTable("[[rfc]]"), atTop("rfc = [\"PRD\"]")},
                 "rfc = [\"PRD\"]"},
        FailCase{"CachedusageString",
                 {{"cachedusage = true", "cachedusage = \"true\""}},
                 "cachedusage = \"true\""},
        FailCase{"SysnrInteger", {{"sysnr = \"00\"", "sysnr = 0"}}, "sysnr = 0"},
        FailCase{"TypequeryString",
                 {{"{ type = \"BATCH\", query = \"SELECT batch\" }", "\"BATCH\""}},
                 "\"BATCH\""},
        FailCase{"TablesWithInteger", {{"\"E070\"", "70707"}}, "70707"},
        FailCase{"ReadstartdateUnquotedDate",
                 {{"readstartdate = \"2024-01-15\"", "readstartdate = 2024-01-15"}},
                 "2024-01-15"},
        FailCase{
            "RetentionperiodFloat", {{"retentionperiod = 30", "retentionperiod = 30.0"}}, "30.0"},
        FailCase{"OptionalRouterInteger",
                 {{"router = \"/H/gw/S/3299\"", "router = 3299"}},
                 "router = 3299"},
        FailCase{"OptionalDisablesetrefString",
                 {{"disablesetref = true", "disablesetref = \"no\""}},
                 "disablesetref = \"no\""},
        FailCase{"LoneProxyUsernameOfWrongType",
                 {removeLine("password = \"proxy-pass\""),
                  {"username = \"proxy-user\"", "username = 1"}},
                 "username = 1"},
        // The first failure in reading order is the one reported.
        FailCase{"SysnrBeforeMissingCachedusage",
                 {{"sysnr = \"00\"", "sysnr = 0"}, removeLine("cachedusage = true")},
                 "sysnr = 0"},
        FailCase{"FirstTypequeryBeforeSecond",
                 {{"type = \"ABAP\"", "type = 1"}, {"type = \"BATCH\"", "type = 2"}},
                 "type = 1"},
        FailCase{"RfcdataBeforeLaterTables",
                 {{"\"MN2\"", "42424"}, {"name = \"PRD\"", "name = 3"}, removeTable("[norvane]")},
                 "42424"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
