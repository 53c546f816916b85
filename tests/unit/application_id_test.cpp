// The application's ID: the published formula, checked against values computed independently
// with Python's hmac module, so that a vendor's server and this program agree.
#include "identification/application_id.h"

#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
