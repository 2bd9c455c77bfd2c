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
#include "support/ConfigDocument.hpp"

namespace cfg = norvane::abap::config;
using logreap::test::setAside;

namespace {

using Edit = std::function<void(toml::value&)>;

// The example with a second pipeline, so that every sequence has two elements
// and their order shows, changed by `edit` and read back from its text.
toml::value edited(const Edit& edit) {
    toml::value document = logreap::test::exampleConfig();
    document["pipeline"].as_array().push_back(
        toml::table{{"name", "second"}, {"qas", "QAS2"}, {"prd", "PRD2"}});
    if (edit) {
        edit(document);
    }
    return logreap::test::reparsed(document);
}

cfg::G_Config load(const Edit& edit = {}) {
    return cfg::parseG_Config(edited(edit));
}

// Removes a key that must be there.
void drop(toml::value& table, const std::string& key) {
    if (table.as_table().erase(key) != 1) {
        throw std::logic_error("no key " + key);
    }
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

// The example configuration shipped with the tool shows every key.
TEST(FurtherTables, CompleteDocumentFillsEveryMemberInFileOrder) {
    const cfg::G_Config c = load();
    EXPECT_TRUE(c.logging.flushinterval && c.logging.flushlevel && c.logging.consolelevel &&
                c.logging.retentionperiod);
    EXPECT_EQ(c.footprints.readstartdate, "2024-01-01");
    EXPECT_EQ(c.footprints.readstarttime, "00:00:00");
    EXPECT_EQ(c.footprints.readtime, "02:00:00");
    EXPECT_EQ(c.footprints.testexecutionqueryingfreq, 60);
    EXPECT_EQ(c.rfcdata.prd.retentionperiod, 30);
    EXPECT_EQ(each(c.rfcdata.prd.typequeries, &cfg::TypeQuery::type),
              (Texts{"transport", "object"}));
    EXPECT_EQ(each(c.rfcdata.prd.typequeries, &cfg::TypeQuery::query),
              (Texts{"SELECT * FROM E070 WHERE TRSTATUS = 'R'", "SELECT * FROM E071"}));
    EXPECT_EQ(c.rfcdata.qas.retentionperiod, 7);
    EXPECT_EQ(c.rfcdata.qas.tables, (Texts{"E070", "E071", "TADIR"}));
    EXPECT_EQ(c.rfcdata.phd.separators, (Texts{";", "|"}));
    EXPECT_EQ(c.rfcdata.phd.mnemonicfieldtokens, (Texts{"Mnemonic", "ID"}));
    EXPECT_EQ(c.rfcdata.phd.stepsfieldtokens, (Texts{"Steps", "Procedure"}));
    EXPECT_EQ(c.rfcdata.phd.descriptionfieldtokens, (Texts{"Description", "Purpose"}));

    ASSERT_EQ(each(c.rfc, &cfg::RfcConfig::name), (Texts{"PRD", "QAS"}));
    const auto& rfc = c.rfc[0];
    EXPECT_EQ(
        (Texts{rfc.hostname, rfc.sysnr, rfc.client, rfc.language, rfc.username, rfc.password}),
        (Texts{"sap-prd.example.com", "00", "100", "EN", "RFC_AGENT", "change-me"}));
    EXPECT_EQ(rfc.router, "/H/saprouter.example.com/S/3299");
    EXPECT_EQ(each(c.rfc, &cfg::RfcConfig::cachedusage), (std::vector<bool>{true, false}));

    ASSERT_EQ(each(c.pipeline, &cfg::PipelineConfig::name), (Texts{"main", "second"}));
    const auto& pipeline = c.pipeline[0];
    EXPECT_EQ((Texts{pipeline.qas, pipeline.prd}), (Texts{"QAS", "PRD"}));
    EXPECT_EQ(pipeline.labid, "lab-01");
    EXPECT_EQ(pipeline.disablesetref, false);

    EXPECT_EQ(c.norvane.token, "replace-with-the-agent-token");
    EXPECT_EQ(c.norvane.delaybetweenmods, 500);
    EXPECT_EQ(c.norvane.clientattempts, 3);
    ASSERT_TRUE(c.proxy);
    EXPECT_EQ(c.proxy->server, "http://proxy.example.com:8080");
    EXPECT_EQ(c.proxy->username, "proxy-user");
    EXPECT_EQ(c.proxy->password, "proxy-password");
}

TEST(FurtherTables, SetG_ConfigMovesEveryMember) {
    const cfg::G_Config saved = cfg::G_ConfigInstance;
    const cfg::G_Config& stored = cfg::setG_Config(load());
    EXPECT_EQ(&stored, &cfg::G_ConfigInstance);
    EXPECT_EQ(stored.settings.iv, "abcdef9876543210");
    EXPECT_EQ(stored.logging.level, "info");
    EXPECT_EQ(stored.footprints.readtime, "02:00:00");
    EXPECT_EQ(stored.rfcdata.phd.separators, (Texts{";", "|"}));
    EXPECT_EQ(stored.rfc.size(), 2u);
    EXPECT_EQ(stored.pipeline.size(), 2u);
    EXPECT_EQ(stored.norvane.token, "replace-with-the-agent-token");
    EXPECT_TRUE(stored.proxy);
    cfg::setG_Config(cfg::G_Config(saved));
}

struct LoadCase {
    std::string name;
    Edit edit;
    std::function<void(const cfg::G_Config&)> check;
};
void PrintTo(const LoadCase& c, std::ostream* os) {
    *os << c.name;
}

class FurtherTablesLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(FurtherTablesLoad, Loads) {
    cfg::G_Config config;
    ASSERT_NO_THROW(config = load(GetParam().edit))
        << logreap::test::configText(edited(GetParam().edit));
    GetParam().check(config);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FurtherTablesLoad,
    ::testing::Values(
        LoadCase{"RfcEmptyArray", [](toml::value& d) { d["rfc"] = toml::array{}; },
                 [](const cfg::G_Config& c) { EXPECT_TRUE(c.rfc.empty()); }},
        LoadCase{"RfcSingleElement", [](toml::value& d) { d["rfc"].as_array().pop_back(); },
                 [](const cfg::G_Config& c) {
                     EXPECT_EQ(each(c.rfc, &cfg::RfcConfig::name), Texts{"PRD"});
                 }},
        LoadCase{"OptionalsAbsentStayEmpty",
                 [](toml::value& d) {
                     drop(d["rfc"][0], "router");
                     drop(d["pipeline"][0], "labid");
                     drop(d["footprints"], "readtime");
                     drop(d["norvane"], "delaybetweenmods");
                     drop(d["norvane"], "clientattempts");
                 },
                 [](const cfg::G_Config& c) {
                     EXPECT_FALSE(c.rfc[0].router || c.pipeline[0].labid || c.footprints.readtime ||
                                  c.norvane.delaybetweenmods || c.norvane.clientattempts);
                 }},
        LoadCase{
            "DisablesetrefAbsentIsEmptyNotFalse",
            [](toml::value& d) { drop(d["pipeline"][0], "disablesetref"); },
            [](const cfg::G_Config& c) { EXPECT_EQ(c.pipeline[0].disablesetref, std::nullopt); }},
        LoadCase{"TextsTakenUnchangedAndUnknownKeysIgnored",
                 [](toml::value& d) {
                     d["footprints"]["readstartdate"] = "not a date \xc3\xa4";
                     d["norvane"]["token"] = "";
                     d["norvane"]["Token"] = 5;
                     d["rfcdata"]["qas"]["tables"] = toml::array{};
                     d["rfcdata"]["qas"]["extra"] = 1;
                 },
                 [](const cfg::G_Config& c) {
                     EXPECT_EQ(c.footprints.readstartdate, "not a date \xc3\xa4");
                     EXPECT_EQ(c.norvane.token, "");
                     EXPECT_TRUE(c.rfcdata.qas.tables.empty());
                 }},
        LoadCase{"ClientattemptsKeepsAll64Bits",
                 [](toml::value& d) { d["norvane"]["clientattempts"] = std::int64_t{1} << 40; },
                 [](const cfg::G_Config& c) {
                     EXPECT_EQ(c.norvane.clientattempts, std::int64_t{1} << 40);
                 }},
        LoadCase{"DelaybetweenmodsKeepsLow32Bits",
                 [](toml::value& d) { d["norvane"]["delaybetweenmods"] = 4294967301; },
                 [](const cfg::G_Config& c) { EXPECT_EQ(c.norvane.delaybetweenmods, 5); }},
        LoadCase{
            "QueryingFreqWidenedWithSign",
            [](toml::value& d) { d["footprints"]["testexecutionqueryingfreq"] = 4294967295; },
            [](const cfg::G_Config& c) { EXPECT_EQ(c.footprints.testexecutionqueryingfreq, -1); }},
        LoadCase{"RetentionPeriodsNarrowedAndNegativeKept",
                 [](toml::value& d) {
                     d["rfcdata"]["prd"]["retentionperiod"] = 4294967326;
                     d["rfcdata"]["qas"]["retentionperiod"] = -7;
                 },
                 [](const cfg::G_Config& c) {
                     EXPECT_EQ(c.rfcdata.prd.retentionperiod, 30);
                     EXPECT_EQ(c.rfcdata.qas.retentionperiod, -7);
                 }},
        LoadCase{"ProxyAbsent", [](toml::value& d) { setAside(d, "proxy"); },
                 [](const cfg::G_Config& c) { EXPECT_FALSE(c.proxy); }},
        LoadCase{"ProxyLoneUsernameDropped", [](toml::value& d) { drop(d["proxy"], "password"); },
                 [](const cfg::G_Config& c) {
                     ASSERT_TRUE(c.proxy);
                     EXPECT_EQ(c.proxy->server, "http://proxy.example.com:8080");
                     EXPECT_FALSE(c.proxy->username || c.proxy->password);
                 }},
        LoadCase{"ProxyLonePasswordDropped", [](toml::value& d) { drop(d["proxy"], "username"); },
                 [](const cfg::G_Config& c) {
                     ASSERT_TRUE(c.proxy);
                     EXPECT_FALSE(c.proxy->username || c.proxy->password);
                 }}),
    [](const auto& info) { return info.param.name; });

// `reported` is a text of the message for the failure that must be reported:
// the missing key, or the ill-typed value's key and types.
struct FailCase {
    std::string name;
    Edit edit;
    std::string reported;
};
void PrintTo(const FailCase& c, std::ostream* os) {
    *os << c.name;
}

enum class Failure { None, Missing, IllTyped };

std::pair<Failure, std::string> failureOf(const Edit& edit) {
    try {
        load(edit);
    } catch (const std::out_of_range& error) {
        return {Failure::Missing, error.what()};
    } catch (const toml::type_error& error) {
        return {Failure::IllTyped, error.what()};
    }
    return {Failure::None, ""};
}

class FurtherTablesMissing : public ::testing::TestWithParam<FailCase> {};

TEST_P(FurtherTablesMissing, FailsWithKeyNotFound) {
    const auto [failure, message] = failureOf(GetParam().edit);
    EXPECT_EQ(failure, Failure::Missing) << message;
    EXPECT_NE(message.find("\"" + GetParam().reported + "\""), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, FurtherTablesMissing,
    ::testing::Values(
        FailCase{"Footprints", [](toml::value& d) { setAside(d, "footprints"); }, "footprints"},
        FailCase{"Rfcdata", [](toml::value& d) { setAside(d, "rfcdata"); }, "rfcdata"},
        FailCase{"Rfc", [](toml::value& d) { setAside(d, "rfc"); }, "rfc"},
        FailCase{"Pipeline", [](toml::value& d) { setAside(d, "pipeline"); }, "pipeline"},
        FailCase{"Norvane", [](toml::value& d) { setAside(d, "norvane"); }, "norvane"},
        FailCase{"PhdAlthoughPrdAndQasComplete", [](toml::value& d) { setAside(d, "rfcdata.phd"); },
                 "phd"},
        FailCase{"QueryingFreq",
                 [](toml::value& d) { drop(d["footprints"], "testexecutionqueryingfreq"); },
                 "testexecutionqueryingfreq"},
        FailCase{"SecondTypequeryQuery",
                 [](toml::value& d) { drop(d["rfcdata"]["prd"]["typequeries"][1], "query"); },
                 "query"},
        FailCase{"Cachedusage", [](toml::value& d) { drop(d["rfc"][1], "cachedusage"); },
                 "cachedusage"},
        FailCase{"ProxyServer", [](toml::value& d) { drop(d["proxy"], "server"); }, "server"},
        // The first failure in reading order is the one reported.
        FailCase{"FootprintsBeforeBrokenNorvane",
                 [](toml::value& d) {
                     setAside(d, "footprints");
                     d["norvane"]["token"] = 1;
                 },
                 "footprints"},
        FailCase{"NameBeforeIllTypedCachedusage",
                 [](toml::value& d) {
                     drop(d["rfc"][0], "name");
                     d["rfc"][0]["cachedusage"] = "yes";
                 },
                 "name"},
        FailCase{"SecondRfcBeforeMissingPipeline",
                 [](toml::value& d) {
                     drop(d["rfc"][1], "language");
                     setAside(d, "pipeline");
                 },
                 "language"},
        FailCase{"ServerBeforeIllTypedUsername",
                 [](toml::value& d) {
                     drop(d["proxy"], "server");
                     d["proxy"]["username"] = 7;
                 },
                 "server"}),
    [](const auto& info) { return info.param.name; });

class FurtherTablesIllTyped : public ::testing::TestWithParam<FailCase> {};

TEST_P(FurtherTablesIllTyped, FailsWithTypeError) {
    const auto [failure, message] = failureOf(GetParam().edit);
    EXPECT_EQ(failure, Failure::IllTyped) << message;
    EXPECT_NE(message.find(GetParam().reported), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Values, FurtherTablesIllTyped,
    ::testing::Values(
        FailCase{"RfcSingleTable", [](toml::value& d) { d["rfc"] = toml::value(d["rfc"][0]); },
                 R"(key "rfc": expected array, found table)"},
        FailCase{"RfcElementNotATable",
                 [](toml::value& d) { d["rfc"] = toml::value(toml::array{"PRD"}); },
                 R"(key "rfc": expected table, found string)"},
        FailCase{"CachedusageString", [](toml::value& d) { d["rfc"][0]["cachedusage"] = "true"; },
                 R"(key "cachedusage": expected boolean, found string)"},
        FailCase{"SysnrInteger", [](toml::value& d) { d["rfc"][0]["sysnr"] = 0; },
                 R"(key "sysnr": expected string, found integer)"},
        FailCase{"TypequeryString",
                 [](toml::value& d) { d["rfcdata"]["prd"]["typequeries"][1] = "object"; },
                 R"(key "typequeries": expected table, found string)"},
        FailCase{"TablesWithInteger",
                 [](toml::value& d) { d["rfcdata"]["qas"]["tables"][1] = 70707; },
                 R"(key "tables": expected string, found integer)"},
        FailCase{"ReadstartdateUnquotedDate",
                 [](toml::value& d) {
                     d["footprints"]["readstartdate"] =
                         toml::local_date(2024, toml::month_t::Jan, 15);
                 },
                 R"(key "readstartdate": expected string, found local_date)"},
        FailCase{"RetentionperiodFloat",
                 [](toml::value& d) { d["rfcdata"]["prd"]["retentionperiod"] = 30.0; },
                 R"(key "retentionperiod": expected integer, found floating)"},
        FailCase{"OptionalRouterInteger", [](toml::value& d) { d["rfc"][0]["router"] = 3299; },
                 R"(key "router": expected string, found integer)"},
        FailCase{"OptionalDisablesetrefString",
                 [](toml::value& d) { d["pipeline"][0]["disablesetref"] = "no"; },
                 R"(key "disablesetref": expected boolean, found string)"},
        FailCase{"LoneProxyUsernameOfWrongType",
                 [](toml::value& d) {
                     drop(d["proxy"], "password");
                     d["proxy"]["username"] = 1;
                 },
                 R"(key "username": expected string, found integer)"},
        // The first failure in reading order is the one reported.
        FailCase{"SysnrBeforeMissingCachedusage",
                 [](toml::value& d) {
                     d["rfc"][0]["sysnr"] = 0;
                     drop(d["rfc"][0], "cachedusage");
                 },
                 R"(key "sysnr": expected string, found integer)"},
        FailCase{"FirstTypequeryBeforeSecond",
                 [](toml::value& d) {
                     d["rfcdata"]["prd"]["typequeries"][0]["type"] = 1;
                     d["rfcdata"]["prd"]["typequeries"][1]["type"] = 2.5;
                 },
                 R"(key "type": expected string, found integer)"},
        FailCase{"RfcdataBeforeLaterTables",
                 [](toml::value& d) {
                     d["rfcdata"]["phd"]["mnemonicfieldtokens"][1] = 42424;
                     d["rfc"][0]["name"] = 3;
                     setAside(d, "norvane");
                 },
                 R"(key "mnemonicfieldtokens": expected string, found integer)"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
