// The application's ID: the published formula, checked against values computed independently
// with Python's hmac module, so that a vendor's server and this program agree.
#include "identification/application_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/unit/worked_example_facts.h"

namespace {

struct SCase {
    const char* pszComputerID;
    const char* pszApplication;
    const char* pszApplicationID;
};

TEST(ApplicationID, FormulaAgreesWithAnIndependentHmac) {
    const SCase cases[] = {
        {kIDWithHandMarker, "Vendor A", "a3f9fd7e4d8a55f3b6137833f3af7fe9"},
        {kIDWithHandMarker, "Vendor B", "cd87efd52ba55ba11092838b30b1ea29"},
        {kIDWithHandMarker, "{6F9619FF-8B86-D011-B42D-00C04FC964FF}",
         "62615a9e76b8b3284fa2a5a032f2834e"},
        // Names beyond ASCII: their UTF-8 bytes, as Python's name.encode("utf-8").
        {kIDWithHandMarker, "Caf\xc3\xa9", "9e0bd5a77bd9b3e35e5bfca3cc99e672"},
        {kIDWithHandMarker, "\xe6\x95\xb0\xe6\x8d\xae", "4f441b5d46f124f53c4e31890feafb14"},
        {kIDWithHandMarker, "\xf0\x9f\x94\x91 Key", "96b7bb9ccfd55af265813010fc31be7a"},
        // The key is the ID's lowercase form, however the ID was typed.
        {"1D7F953DB6E0A9AB13DF78AA1DB9F3B8", "Vendor A", "a3f9fd7e4d8a55f3b6137833f3af7fe9"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszApplication);
        char szID[kApplicationIDLength + 1];
        ASSERT_TRUE(DeriveApplicationID(c.pszComputerID, c.pszApplication, szID));
        EXPECT_STREQ(c.pszApplicationID, szID);
    }
}

TEST(ApplicationID, RefusesWhatIsNotAComputerIDOrAName) {
    const SCase cases[] = {
        {nullptr, "Vendor A", nullptr},
        {"", "Vendor A", nullptr},
        {"1d7f953db6e0a9ab13df78aa1db9f3b", "Vendor A", nullptr},
        {"1d7f953db6e0a9ab13df78aa1db9f3b80", "Vendor A", nullptr},
        {"1d7f953db6e0a9ab13df78aa1db9f3bg", "Vendor A", nullptr},
        {kIDWithHandMarker, "", nullptr},
        {kIDWithHandMarker, nullptr, nullptr},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszComputerID != nullptr ? c.pszComputerID : "(null ID)");
        char szID[kApplicationIDLength + 1];
        std::memset(szID, 'x', sizeof(szID));
        EXPECT_FALSE(DeriveApplicationID(c.pszComputerID, c.pszApplication, szID));
        EXPECT_STREQ("", szID);
    }
    EXPECT_FALSE(DeriveApplicationID(kIDWithHandMarker, "Vendor A", nullptr));
}

// Which names may be given an ID: the one rule the DLL and idrovan-cli share.
TEST(ApplicationName, IsValidUtf8WithoutControlsWithinTheLimit) {
    const std::string strLongest(kMaxApplicationNameBytes, 'a');
    // The last character crosses the limit: a two-byte one starting at the last byte allowed.
    const std::string strCrossing = std::string(kMaxApplicationNameBytes - 1, 'a') + "\xc3\xa9";
    const std::string strLongestUtf8 =
        std::string(kMaxApplicationNameBytes - 4, 'a') + "\xf0\x9f\x94\x91";
    struct SName {
        const char* pszWhat;
        std::string strName;
        bool bAccepted;
    };
    const SName names[] = {
        {"ASCII", "Vendor A", true},
        {"punctuation and a GUID", "Vendor \"B\" {6F9619FF-8B86-D011-B42D-00C04FC964FF}~", true},
        {"Latin", "Caf\xc3\xa9", true},
        {"last two-byte character", "\xdf\xbf", true},
        {"CJK", "\xe6\x95\xb0\xe6\x8d\xae", true},
        {"last character before the surrogates", "\xed\x9f\xbf", true},
        {"emoji", "\xf0\x9f\x94\x91 Key", true},
        {"U+10FFFF", "\xf4\x8f\xbf\xbf", true},
        {"first after the C1 controls, U+00A0", "\xc2\xa0", true},
        {"the longest", strLongest, true},
        {"the longest, ending in a four-byte character", strLongestUtf8, true},
        {"empty", "", false},
        {"one byte too long", strLongest + "a", false},
        {"a character across the limit", strCrossing, false},
        {"Latin-1, not UTF-8", "Caf\xe9", false},
        {"cut short at the end", "Caf\xc3", false},
        {"cut short before ASCII", "\xe6\x95x", false},
        {"a lone continuation byte", "a\x80", false},
        {"overlong slash", "\xc0\xaf", false},
        {"overlong NUL", "\xc0\x80", false},
        {"overlong three bytes", "\xe0\x80\xaf", false},
        {"overlong four bytes", "\xf0\x8f\xbf\xbf", false},
        {"high surrogate", "\xed\xa0\x80", false},
        {"low surrogate", "\xed\xbf\xbf", false},
        {"above U+10FFFF", "\xf4\x90\x80\x80", false},
        {"never a lead byte", "\xf5\x80\x80\x80", false},
        {"0xFF", "\xff", false},
        {"tab", "Vendor\tA", false},
        {"line break", "Vendor A\n", false},
        {"escape", "\x1b[31m", false},
        {"DEL", "Vendor\x7f", false},
        {"C1 U+0080", "\xc2\x80", false},
        {"C1 U+0085 (next line)", "a\xc2\x85", false},
        {"C1 U+009F", "\xc2\x9f", false},
    };
    for (const SName& name : names) {
        SCOPED_TRACE(name.pszWhat);
        EXPECT_EQ(name.bAccepted, IsApplicationName(name.strName.c_str()));
    }
    EXPECT_FALSE(IsApplicationName(nullptr));
    // A name without a terminator is read no further than one byte past the limit (ASan sees a
    // read beyond this block).
    std::unique_ptr<char[]> pUnended(new char[kMaxApplicationNameBytes + 1]);
    std::memset(pUnended.get(), 'a', kMaxApplicationNameBytes + 1);
    EXPECT_FALSE(IsApplicationName(pUnended.get()));
}

}  // namespace
