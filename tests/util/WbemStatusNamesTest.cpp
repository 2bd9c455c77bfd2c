// The WBEM status-name table: where its codes lie, which name wins a shared
// code, and that codes between listed ones have no entry.

#include <cstdint>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "util/WbemStatusNames.hpp"

namespace {

using norvane::abap::util::buildWbemStatusNames;
using norvane::abap::util::WbemStatusNames;

const WbemStatusNames& table() {
    static const WbemStatusNames names = buildWbemStatusNames();
    return names;
}

struct Row {
    std::uint32_t code;
    const wchar_t* name;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << std::hex << "0x" << row.code;
}

class WbemStatusName : public ::testing::TestWithParam<Row> {};

TEST_P(WbemStatusName, IsStoredWholeUnderItsCode) {
    const auto found = table().find(GetParam().code);
    ASSERT_NE(found, table().end());
    EXPECT_EQ(found->second, GetParam().name);
}

// The first of the three names of code 0 wins; the others are runs' ends and
// the codes after gaps, and the longest name (41 characters).
INSTANTIATE_TEST_SUITE_P(
    Listed, WbemStatusName,
    ::testing::Values(
        Row{0x00000000, L"WBEM_NO_ERROR"}, Row{0x00000001, L"WBEM_S_FALSE"},
        Row{0x00040001, L"WBEM_S_ALREADY_EXISTS"}, Row{0x00040009, L"WBEM_S_ACCESS_DENIED"},
        Row{0x00040010, L"WBEM_S_PARTIAL_RESULTS"}, Row{0x00040017, L"WBEM_S_SOURCE_NOT_AVAILABLE"},
        Row{0x80041001, L"WBEM_E_FAILED"},
        Row{0x80041050, L"WBEM_E_CANNOT_CHANGE_INDEX_INHERITANCE"},
        Row{0x8004105F, L"WBEM_E_UNINTERPRETABLE_PROVIDER_QUERY"},
        Row{0x80041080, L"WBEM_E_INVALID_LOCALE"}, Row{0x8004108A, L"WBEM_E_PROVIDER_DISABLED"},
        Row{0x80042001, L"WBEMESS_E_REGISTRATION_TOO_BROAD"},
        Row{0x80042003, L"WBEMESS_E_AUTHZ_NOT_PRIVILEGED"},
        Row{0x80044001, L"WBEMMOF_E_EXPECTED_QUALIFIER_NAME"},
        Row{0x8004401C, L"WBEMMOF_E_INVALID_NAMESPACE_SPECIFICATION"},
        Row{0x80044030, L"WBEMMOF_E_ERROR_INVALID_INCLUDE_FILE"},
        Row{0x80044031, L"WBEMMOF_E_INVALID_DELETECLASS_SYNTAX"}));

class UnlistedWbemStatus : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(UnlistedWbemStatus, HasNoEntry) {
    EXPECT_FALSE(table().contains(GetParam()));
}

// Codes inside the gaps of a run, and just outside each run.
INSTANTIATE_TEST_SUITE_P(Gaps, UnlistedWbemStatus,
                         ::testing::Values(0x00000002u, 0x00040000u, 0x0004000Au, 0x00040011u,
                                           0x00040018u, 0x80041000u, 0x8004104Au, 0x8004105Eu,
                                           0x8004107Bu, 0x8004108Bu, 0x80042000u, 0x80042004u,
                                           0x80044000u, 0x80044032u, 0xFFFFFFFFu));

TEST(WbemStatusNames, HoldsEachCodeOnceOrderedAsUnsignedNumbers) {
    ASSERT_EQ(table().size(), 191u);
    EXPECT_EQ(table().begin()->first, 0u);
    EXPECT_EQ(table().rbegin()->first, 0x80044031u);
    EXPECT_EQ(table().rbegin()->second, L"WBEMMOF_E_INVALID_DELETECLASS_SYNTAX");
}

}  // namespace
