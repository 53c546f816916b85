#include "identification/computer_id_text.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

const char kLowerID[] = "0123456789abcdef0123456789abcdef";
const char kUpperID[] = "0123456789ABCDEF0123456789ABCDEF";

TEST(ComputerIDText, IsExactly32HexDigitsOfEitherCase) {
    EXPECT_TRUE(IsComputerIDText(kLowerID));
    EXPECT_TRUE(IsComputerIDText(kUpperID));
    EXPECT_TRUE(IsComputerIDText("aBcDeF0123456789aBcDeF0123456789"));
    // One short, one long, and each neighbour of a digit range in the ASCII table.
    for (const char* pszText : std::initializer_list<const char*>{
             "", "0123456789abcdef0123456789abcde", "0123456789abcdef0123456789abcdef0",
             "0123456789abcdef:123456789abcdef", "0123456789abcdef@123456789abcdef",
             "0123456789abcdefG123456789abcdef", "0123456789abcdef`123456789abcdef",
             "0123456789abcdef/123456789abcdef", "0123456789abcdefg123456789abcdef", nullptr})
        EXPECT_FALSE(IsComputerIDText(pszText)) << (pszText ? pszText : "null");
}

TEST(ComputerIDText, SameIDIgnoresOnlyTheCaseOfLetters) {
    struct {
        const char* pszFirst;
        const char* pszSecond;
        bool bSame;
    } const kCases[] = {
        {kLowerID, kLowerID, true},
        {kLowerID, kUpperID, true},
        {kUpperID, kLowerID, true},
        {kLowerID, "0123456789abcdef0123456789abcde", false},
        {"0123456789abcdef0123456789abcde", kLowerID, false},
        // '@' and '`' differ by the same bit as 'A' and 'a': not letters, so not the same.
        {"@", "`", false},
        {kLowerID, nullptr, false},
        {nullptr, kLowerID, false},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(c.bSame, IsSameComputerID(c.pszFirst, c.pszSecond))
            << (c.pszFirst ? c.pszFirst : "null") << " / " << (c.pszSecond ? c.pszSecond : "null");
}

}  // namespace
