// The reference-counted wide text that stands in for the COM string.

#include <memory>
#include <utility>

#include <gtest/gtest.h>

#include "util/SharedWideString.hpp"

namespace {

using norvane::abap::util::SharedWideString;

TEST(SharedWideString, CopiesShareOneTextThatOutlivesTheOriginal) {
    auto original = std::make_unique<SharedWideString>(L"FlushMessagesSecondsInterval");
    const SharedWideString copy(*original);
    SharedWideString assigned;
    assigned = *original;
    EXPECT_EQ(static_cast<const wchar_t*>(copy), static_cast<const wchar_t*>(*original));
    EXPECT_EQ(static_cast<const wchar_t*>(assigned), static_cast<const wchar_t*>(*original));

    original.reset();
    const SharedWideString& same = assigned;
    assigned = same;
    EXPECT_STREQ(copy, L"FlushMessagesSecondsInterval");
    EXPECT_STREQ(assigned, L"FlushMessagesSecondsInterval");
    EXPECT_EQ(copy.length(), 28u);
}

TEST(SharedWideString, EmptyHoldersAndMovedFromOnesHoldNoText) {
    SharedWideString text(L"ServerLogLevel");
    const SharedWideString moved(std::move(text));
    EXPECT_EQ(static_cast<const wchar_t*>(SharedWideString()), nullptr);
    EXPECT_EQ(static_cast<const wchar_t*>(SharedWideString(nullptr)), nullptr);
    EXPECT_EQ(static_cast<const wchar_t*>(text), nullptr);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(text.length(), 0u);
    EXPECT_STREQ(moved, L"ServerLogLevel");
}

}  // namespace
