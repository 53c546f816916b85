// How far a registry key's owner and DACL can be trusted, judged from the bytes of its security
// descriptor. The cases are written in SDDL and made into bytes by a small builder of the test's
// own, on every build; under Wine the system's own converter makes them as well, so that the
// judgment is checked against the layout Windows' functions really produce.
#include "platform/key_trust.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#endif

namespace {

typedef std::vector<unsigned char> Bytes;

void Put16(Bytes& b, unsigned n) {
    b.push_back(static_cast<unsigned char>(n));
    b.push_back(static_cast<unsigned char>(n >> 8));
}

void Put32(Bytes& b, std::uint32_t n) {
    Put16(b, n & 0xFFFF);
    Put16(b, n >> 16);
}

void Set16(Bytes& b, std::size_t nAt, unsigned n) {
    b[nAt] = static_cast<unsigned char>(n);
    b[nAt + 1] = static_cast<unsigned char>(n >> 8);
}

void Set32(Bytes& b, std::size_t nAt, std::uint32_t n) {
    Set16(b, nAt, n & 0xFFFF);
    Set16(b, nAt + 2, n >> 16);
}

// A SID from "S-1-5-32-544" or one of the aliases the cases use.
Bytes SidBytes(std::string strSid) {
    static const struct {
        const char* pszAlias;
        const char* pszSid;
    } kAliases[] = {{"SY", "S-1-5-18"}, {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"},
                    {"WD", "S-1-1-0"},  {"AU", "S-1-5-11"},     {"CO", "S-1-3-0"},
                    {"OW", "S-1-3-4"},  {"AN", "S-1-5-7"}};
    for (const auto& alias : kAliases) {
        if (strSid == alias.pszAlias)
            strSid = alias.pszSid;
    }
    std::vector<std::uint64_t> parts;
    for (std::size_t nAt = 2; nAt <= strSid.size();) {
        std::size_t nEnd = strSid.find('-', nAt);
        if (nEnd == std::string::npos)
            nEnd = strSid.size();
        parts.push_back(std::strtoull(strSid.substr(nAt, nEnd - nAt).c_str(), nullptr, 10));
        nAt = nEnd + 1;
    }
    Bytes b = {static_cast<unsigned char>(parts[0]),
               static_cast<unsigned char>(parts.size() - 2),
               0,
               0,
               0,
               0,
               0,
               static_cast<unsigned char>(parts[1])};
    for (std::size_t i = 2; i < parts.size(); ++i)
        Put32(b, static_cast<std::uint32_t>(parts[i]));
    return b;
}

std::uint32_t Rights(const std::string& strRights) {
    if (strRights.compare(0, 2, "0x") == 0)
        return static_cast<std::uint32_t>(std::strtoul(strRights.c_str(), nullptr, 16));
    static const struct {
        const char* pszCode;
        std::uint32_t nMask;
    } kCodes[] = {{"KA", 0xF003F},    {"KR", 0x20019},    {"KW", 0x20006}, {"GA", 0x10000000},
                  {"GR", 0x80000000}, {"GW", 0x40000000}, {"RC", 0x20000}, {"WD", 0x40000},
                  {"WO", 0x80000},    {"SD", 0x10000}};
    std::uint32_t nMask = 0;
    for (std::size_t i = 0; i + 1 < strRights.size(); i += 2) {
        for (const auto& code : kCodes) {
            if (strRights.compare(i, 2, code.pszCode) == 0)
                nMask |= code.nMask;
        }
    }
    return nMask;
}

// One ACE from "type;flags;rights;;;sid" (the parentheses taken off); a type written "0x04" is
// that type number, laid out as an allowing ACE.
Bytes AceBytes(const std::string& strAce) {
    std::vector<std::string> fields;
    for (std::size_t nAt = 0;;) {
        const std::size_t nEnd = strAce.find(';', nAt);
        fields.push_back(strAce.substr(nAt, nEnd - nAt));
        if (nEnd == std::string::npos)
            break;
        nAt = nEnd + 1;
    }
    const bool bObject = fields[0] == "OA";
    unsigned char nFlags = 0;
    if (fields[1].find("OI") != std::string::npos)
        nFlags |= 0x01;
    if (fields[1].find("CI") != std::string::npos)
        nFlags |= 0x02;
    if (fields[1].find("IO") != std::string::npos)
        nFlags |= 0x08;
    unsigned char nType = bObject ? 0x05 : fields[0] == "D" ? 0x01 : 0x00;
    if (fields[0].compare(0, 2, "0x") == 0)
        nType = static_cast<unsigned char>(std::strtoul(fields[0].c_str(), nullptr, 16));
    Bytes b = {nType, nFlags, 0, 0};
    Put32(b, Rights(fields[2]));
    if (bObject)
        Put32(b, 0);  // no object types
    const Bytes sid = SidBytes(fields[5]);
    b.insert(b.end(), sid.begin(), sid.end());
    Set16(b, 2, static_cast<unsigned>(b.size()));
    return b;
}

// A self-relative descriptor from "O:owner" and "D:flags(ace)(ace)..." as SDDL writes them.
Bytes DescriptorBytes(const std::string& strSddl) {
    Bytes b(20, 0);
    b[0] = 1;
    unsigned nControl = 0x8000;  // self-relative
    std::size_t nDacl = strSddl.find("D:");
    std::size_t nOwner = strSddl.find("O:");
    if (nOwner != std::string::npos) {
        const std::string strOwner = strSddl.substr(
            nOwner + 2, (nDacl == std::string::npos ? strSddl.size() : nDacl) - nOwner - 2);
        Set32(b, 4, static_cast<std::uint32_t>(b.size()));
        const Bytes sid = SidBytes(strOwner);
        b.insert(b.end(), sid.begin(), sid.end());
    }
    if (nDacl != std::string::npos) {
        nControl |= 0x0004;  // a DACL is present; offset 0 is a null one
        const std::string strDacl = strSddl.substr(nDacl + 2);
        if (strDacl.find('P') == 0)
            nControl |= 0x1000;
        if (strDacl != "NO_ACCESS_CONTROL") {
            const std::size_t nAclAt = b.size();
            Set32(b, 16, static_cast<std::uint32_t>(nAclAt));
            Bytes acl = {2, 0, 0, 0, 0, 0, 0, 0};
            unsigned nCount = 0;
            for (std::size_t nAt = strDacl.find('('); nAt != std::string::npos;
                 nAt = strDacl.find('(', nAt + 1)) {
                const Bytes ace =
                    AceBytes(strDacl.substr(nAt + 1, strDacl.find(')', nAt) - nAt - 1));
                if (ace[0] == 0x05)
                    acl[0] = 4;  // ACL_REVISION_DS, for object ACEs
                acl.insert(acl.end(), ace.begin(), ace.end());
                ++nCount;
            }
            Set16(acl, 2, static_cast<unsigned>(acl.size()));
            Set16(acl, 4, nCount);
            b.insert(b.end(), acl.begin(), acl.end());
        }
    }
    Set16(b, 2, nControl);
    return b;
}

// bSystem: Wine's converter makes the same descriptor. It makes no null DACL of
// "D:NO_ACCESS_CONTROL" (an empty one instead, where Microsoft's documentation describes a null
// one) and refuses object ACEs (seen); the null DACL is made by other calls below.
const struct {
    const char* pszWhat;
    const char* pszSddl;
    EKeyTrust eTrust;
    bool bSystem = true;
} kCases[] = {
    {"the security a new marker key gets", "O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)",
     kKeyTrusted},
    {"owned by SYSTEM", "O:SYD:(A;;KA;;;SY)(A;;KR;;;WD)", kKeyTrusted},
    {"owned by TrustedInstaller",
     "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;KA;;;"
     "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)(A;;KR;;;BU)",
     kKeyTrusted},
    {"empty DACL", "O:BAD:", kKeyTrusted},
    {"Everyone may write", "O:BAD:(A;;KA;;;BA)(A;;KW;;;WD)", kKeyLooseDacl},
    {"Users may set a value", "O:BAD:(A;;KA;;;BA)(A;;0x2;;;BU)", kKeyLooseDacl},
    {"Users may create a subkey", "O:BAD:(A;;KA;;;BA)(A;;0x4;;;BU)", kKeyLooseDacl},
    {"Authenticated Users may delete", "O:BAD:(A;;KA;;;BA)(A;;SD;;;AU)", kKeyLooseDacl},
    {"Authenticated Users may re-ACL", "O:BAD:(A;;KA;;;BA)(A;;WD;;;AU)", kKeyLooseDacl},
    {"Users may take ownership", "O:BAD:(A;;KA;;;BA)(A;;WO;;;BU)", kKeyLooseDacl},
    {"Users have GENERIC_WRITE", "O:BAD:(A;;GW;;;BU)", kKeyLooseDacl},
    {"Users have GENERIC_ALL", "O:BAD:(A;;GA;;;BU)", kKeyLooseDacl},
    {"Users have GENERIC_READ", "O:BAD:(A;;GA;;;BA)(A;;GR;;;BU)", kKeyTrusted},
    {"an account may read the descriptor only", "O:BAD:(A;;KA;;;BA)(A;;RC;;;WD)", kKeyTrusted},
    {"an account of its own may write",
     "O:BAD:(A;;KA;;;BA)(A;;KA;;;S-1-5-21-1004336348-1177238915-682003330-1001)", kKeyLooseDacl},
    {"no DACL", "O:BAD:NO_ACCESS_CONTROL", kKeyLooseDacl, false},
    {"owned by an account", "O:S-1-5-21-1004336348-1177238915-682003330-1001D:(A;;KA;;;BA)",
     kKeyForeignOwner},
    {"owned by Users", "O:BUD:(A;;KA;;;BA)(A;;KR;;;BU)", kKeyForeignOwner},
    {"owned by an account, and a loose DACL",
     "O:S-1-5-21-1004336348-1177238915-682003330-1001D:(A;;KA;;;WD)", kKeyForeignOwner},
    {"Everyone's write is for subkeys only", "O:BAD:(A;CIIO;KA;;;WD)(A;;KA;;;BA)", kKeyTrusted},
    {"CREATOR OWNER and OWNER RIGHTS", "O:BAD:(A;;KA;;;CO)(A;;KA;;;OW)(A;;KA;;;BA)", kKeyTrusted},
    {"every change denied to Everyone first", "O:BAD:(D;;0xD0026;;;WD)(A;;KA;;;WD)", kKeyTrusted},
    {"the same account denied first", "O:BAD:(D;;KA;;;AU)(A;;KA;;;AU)", kKeyTrusted},
    {"denied only after it was allowed", "O:BAD:(A;;KA;;;WD)(D;;KA;;;WD)", kKeyLooseDacl},
    {"denied writing values but not deleting", "O:BAD:(D;;KW;;;WD)(A;;KA;;;WD)", kKeyLooseDacl},
    {"a group denied, another allowed", "O:BAD:(D;;KA;;;BU)(A;;KA;;;AU)", kKeyLooseDacl},
    {"an object ACE allows Everyone", "O:BAD:(OA;;KA;;;WD)", kKeyLooseDacl, false},
    // An anonymous token need not hold Everyone, so Everyone's deny leaves it its rights.
    {"Everyone denied, ANONYMOUS LOGON allowed", "O:BAD:(D;;KA;;;WD)(A;;KA;;;AN)", kKeyLooseDacl},
    {"ANONYMOUS LOGON denied itself first", "O:BAD:(D;;KA;;;AN)(A;;KA;;;AN)", kKeyTrusted},
    // Types whose layout is unknown may grant anything, even when they name an administrator;
    // the types that grant nothing (an audit ACE, 0x02) are passed over.
    {"a compound ACE", "O:BAD:(A;;KA;;;BA)(0x04;;KR;;;BA)", kKeyLooseDacl, false},
    {"an ACE of a type beyond the known ones", "O:BAD:(A;;KA;;;BA)(0x16;;KR;;;BA)", kKeyLooseDacl,
     false},
    {"an unknown type for subkeys only", "O:BAD:(A;;KA;;;BA)(0x04;CIIO;KR;;;BA)", kKeyTrusted,
     false},
    {"an audit ACE in the DACL", "O:BAD:(A;;KA;;;BA)(0x02;;KA;;;WD)", kKeyTrusted, false},
    {"no owner", "D:(A;;KA;;;BA)", kKeyTrustUnknown},
};

TEST(KeyTrustTest, OwnerAndDaclAreJudgedForTheKeyItself) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.pszWhat) + ": " + c.pszSddl);
        const Bytes descriptor = DescriptorBytes(c.pszSddl);
        EXPECT_EQ(c.eTrust, JudgeKeySecurity(descriptor.data(), descriptor.size()));
    }
}

#ifdef _WIN32
// The same cases as Windows' own converter lays them out (seen under Wine).
TEST(KeyTrustTest, DescriptorsMadeByTheSystemAreJudgedAlike) {
    for (const auto& c : kCases) {
        if (!c.bSystem)
            continue;
        SCOPED_TRACE(std::string(c.pszWhat) + ": " + c.pszSddl);
        PSECURITY_DESCRIPTOR pDescriptor = nullptr;
        ULONG nSize = 0;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.pszSddl, SDDL_REVISION_1,
                                                                         &pDescriptor, &nSize))
            << GetLastError();
        EXPECT_EQ(c.eTrust,
                  JudgeKeySecurity(static_cast<const unsigned char*>(pDescriptor), nSize));
        LocalFree(pDescriptor);
    }

    // A null DACL, owner Administrators, made self-relative by the system.
    SECURITY_DESCRIPTOR absolute;
    ASSERT_TRUE(InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&absolute, TRUE, nullptr, FALSE));
    const Bytes owner = SidBytes("BA");
    Bytes ownerCopy = owner;
    ASSERT_TRUE(SetSecurityDescriptorOwner(&absolute, ownerCopy.data(), FALSE));
    unsigned char aRelative[256];
    DWORD nSize = sizeof(aRelative);
    ASSERT_TRUE(MakeSelfRelativeSD(&absolute, aRelative, &nSize)) << GetLastError();
    EXPECT_EQ(kKeyLooseDacl, JudgeKeySecurity(aRelative, nSize));
}
#endif

// Bytes that are no whole self-relative descriptor are never judged trusted or loose.
TEST(KeyTrustTest, MalformedDescriptorsAreUnknown) {
    const Bytes whole = DescriptorBytes("O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)");
    ASSERT_EQ(kKeyTrusted, JudgeKeySecurity(whole.data(), whole.size()));
    for (std::size_t nSize = 0; nSize < whole.size(); ++nSize) {
        // A copy of its own, so that the sanitizers see any read past its end.
        const Bytes cut(whole.begin(), whole.begin() + nSize);
        EXPECT_EQ(kKeyTrustUnknown, JudgeKeySecurity(cut.data(), cut.size())) << nSize;
    }
    EXPECT_EQ(kKeyTrustUnknown, JudgeKeySecurity(nullptr, 0));

    Bytes absolute = whole;
    Set16(absolute, 2, 0x0004);  // the same, not marked self-relative
    EXPECT_EQ(kKeyTrustUnknown, JudgeKeySecurity(absolute.data(), absolute.size()));
    Bytes badAceSize = whole;
    Set16(badAceSize, 20 + 16 + 8 + 2, 3);  // the first ACE's size, below its header
    EXPECT_EQ(kKeyTrustUnknown, JudgeKeySecurity(badAceSize.data(), badAceSize.size()));
    Bytes badSid = whole;
    badSid[20 + 1] = 16;  // the owner's count of subauthorities, above 15
    EXPECT_EQ(kKeyTrustUnknown, JudgeKeySecurity(badSid.data(), badSid.size()));
}

}  // namespace
