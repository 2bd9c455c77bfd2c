// The reference-counted wide text that stands in for the COM string.

#include <memory>

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
    EXPECT_EQ(static_cast<const wchar_t*>(SharedWideString(nullptr)), nullptr);
}

}  // namespace
