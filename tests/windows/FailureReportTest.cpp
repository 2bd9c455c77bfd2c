// The text a failed run leaves in the Application event log: the error text as
// it went to standard error, in UTF-16, and never so long that ReportEventW
// refuses it (nothing would be logged at all).

#include <string>

#include <gtest/gtest.h>

#include "FailureReport.hpp"

namespace {

TEST(FailureReport, EventTextIsTheErrorTextInUtf16WithinReportEventsLimit) {
    const std::string longText = "logreap: error: " + std::string(40000, 'x');
    const std::wstring longEvent =
        L"logreap: error: " + std::wstring(31839 - 16 - 3, L'x') + L"...";
    const struct {
        std::string text;
        std::wstring event;
    } rows[] = {
        {"", L""},
        {"Command line error: unrecognised option '--x'\nRun logreap --help for usage information",
         L"Command line error: unrecognised option '--x'\nRun logreap --help for usage "
         L"information"},
        {"logreap: error: C:\\Daten\\M\xc3\xbcller", L"logreap: error: C:\\Daten\\M\u00fcller"},
        {"logreap: error: \xff name", L"logreap: error: \ufffd name"},
        {longText, longEvent},
        // An emoji, a surrogate pair, across the cut: cut before it.
        {"logreap: error: " + std::string(31835 - 16, 'x') + "\xf0\x9f\x98\x80 and more",
         L"logreap: error: " + std::wstring(31835 - 16, L'x') + L"..."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(norvane::abap::eventLogText(row.text), row.event) << row.text.substr(0, 60);
    }
}

}  // namespace
