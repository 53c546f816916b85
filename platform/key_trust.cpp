#include "platform/key_trust.h"

#include <cstdint>
#include <cstddef>
#include <cstring>
#include <initializer_list>

namespace {

// The layout of a self-relative SECURITY_DESCRIPTOR and its parts, all little-endian.
const std::size_t kDescriptorHeaderSize = 20;
const std::uint16_t kDaclPresent = 0x0004;   // SE_DACL_PRESENT
const std::uint16_t kSelfRelative = 0x8000;  // SE_SELF_RELATIVE
const std::size_t kAclHeaderSize = 8;
const std::size_t kAceHeaderSize = 4;
const std::size_t kSidHeaderSize = 8;
const unsigned kMaxSubAuthorities = 15;

// ACE types and flags.
const unsigned char kAllowed = 0x00;          // ACCESS_ALLOWED_ACE_TYPE
const unsigned char kDenied = 0x01;           // ACCESS_DENIED_ACE_TYPE
const unsigned char kAllowedObject = 0x05;    // ACCESS_ALLOWED_OBJECT_ACE_TYPE
const unsigned char kAllowedCallback = 0x09;  // ACCESS_ALLOWED_CALLBACK_ACE_TYPE
const unsigned char kAllowedCallbackObject = 0x0B;
// The highest type Windows defines (ACCESS_FILTER_ACE_TYPE, 0x15). Of the types up to it only
// the reserved compound type grants anything besides the allowing types above.
const unsigned char kLastKnownType = 0x15;
const unsigned char kAllowedCompound = 0x04;  // ACCESS_ALLOWED_COMPOUND_ACE_TYPE
const unsigned char kInheritOnly = 0x08;      // INHERIT_ONLY_ACE
const std::uint32_t kObjectTypePresent = 1;
const std::uint32_t kInheritedObjectTypePresent = 2;
const std::size_t kGuidSize = 16;

// Access rights for keys.
const std::uint32_t kGenericRead = 0x80000000;
const std::uint32_t kGenericWrite = 0x40000000;
const std::uint32_t kGenericExecute = 0x20000000;
const std::uint32_t kGenericAll = 0x10000000;
const std::uint32_t kKeyRead = 0x00020019;
const std::uint32_t kKeyWrite = 0x00020006;
const std::uint32_t kKeyAllAccess = 0x000F003F;
// KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_CREATE_LINK, DELETE, WRITE_DAC, WRITE_OWNER.
const std::uint32_t kChangeRights =
    0x00000002 | 0x00000004 | 0x00000020 | 0x00010000 | 0x00040000 | 0x00080000;

// The SIDs the rules name, as their bytes.
const unsigned char kLocalSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const unsigned char kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const unsigned char kTrustedInstaller[] = {
    1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,    0,    0xB5, 0x89, 0xFB, 0x38,
    0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};
const unsigned char kEveryone[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
const unsigned char kAnonymousLogon[] = {1, 1, 0, 0, 0, 0, 0, 5, 7, 0, 0, 0};
const unsigned char kCreatorOwner[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
const unsigned char kCreatorGroup[] = {1, 1, 0, 0, 0, 0, 0, 3, 1, 0, 0, 0};
const unsigned char kOwnerRights[] = {1, 1, 0, 0, 0, 0, 0, 3, 4, 0, 0, 0};

// Denies for other SIDs than Everyone that the walk remembers; later ones are not taken into
// account, which can only make a DACL look looser than it is.
const int kMaxDenies = 32;

std::uint16_t Read16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Read32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// One SID within the descriptor: where it starts and how long it is.
struct SSid {
    const unsigned char* p = nullptr;
    std::size_t nLength = 0;
};

// The SID at pStart, which must end by pEnd; false when it does not.
bool ReadSid(const unsigned char* pStart, const unsigned char* pEnd, SSid* pSid) {
    if (pEnd < pStart || static_cast<std::size_t>(pEnd - pStart) < kSidHeaderSize ||
        pStart[0] != 1 || pStart[1] > kMaxSubAuthorities)
        return false;
    const std::size_t nLength = kSidHeaderSize + 4u * pStart[1];
    if (static_cast<std::size_t>(pEnd - pStart) < nLength)
        return false;
    pSid->p = pStart;
    pSid->nLength = nLength;
    return true;
}

template <std::size_t N>
bool IsSid(const SSid& sid, const unsigned char (&aKnown)[N]) {
    return sid.nLength == N && std::memcmp(sid.p, aKnown, N) == 0;
}

bool IsSameSid(const SSid& a, const SSid& b) {
    return a.nLength == b.nLength && std::memcmp(a.p, b.p, a.nLength) == 0;
}

bool IsAdministratorsOwn(const SSid& sid) {
    return IsSid(sid, kLocalSystem) || IsSid(sid, kAdministrators) || IsSid(sid, kTrustedInstaller);
}

// Stand-ins that no account's token holds on the key itself.
bool IsPlaceholder(const SSid& sid) {
    return IsSid(sid, kCreatorOwner) || IsSid(sid, kCreatorGroup) || IsSid(sid, kOwnerRights);
}

// Generic rights in the specific ones they stand for on a key.
std::uint32_t MapGeneric(std::uint32_t nMask) {
    std::uint32_t nMapped = nMask & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (nMask & (kGenericRead | kGenericExecute))
        nMapped |= kKeyRead;
    if (nMask & kGenericWrite)
        nMapped |= kKeyWrite;
    if (nMask & kGenericAll)
        nMapped |= kKeyAllAccess;
    return nMapped;
}

// The walk of one DACL: true when some allowing ACE lets another account change the key.
class CDaclWalk {
public:
    // False when an ACE is not well formed.
    bool Walk(const unsigned char* pAcl, const unsigned char* pEnd, bool* pbLoose) {
        *pbLoose = false;
        if (static_cast<std::size_t>(pEnd - pAcl) < kAclHeaderSize)
            return false;
        const std::size_t nAclSize = Read16(pAcl + 2);
        const unsigned nCount = Read16(pAcl + 4);
        if (nAclSize < kAclHeaderSize || nAclSize > static_cast<std::size_t>(pEnd - pAcl))
            return false;
        const unsigned char* pAclEnd = pAcl + nAclSize;
        const unsigned char* pAce = pAcl + kAclHeaderSize;
        for (unsigned n = 0; n < nCount; ++n) {
            if (static_cast<std::size_t>(pAclEnd - pAce) < kAceHeaderSize)
                return false;
            const std::size_t nAceSize = Read16(pAce + 2);
            if (nAceSize < kAceHeaderSize + 4 ||
                nAceSize > static_cast<std::size_t>(pAclEnd - pAce))
                return false;
            if (!Judge(pAce, pAce + nAceSize, pbLoose))
                return false;
            pAce += nAceSize;
        }
        return true;
    }

private:
    bool Judge(const unsigned char* pAce, const unsigned char* pAceEnd, bool* pbLoose) {
        const unsigned char nType = pAce[0];
        const bool bObject = nType == kAllowedObject || nType == kAllowedCallbackObject;
        const bool bAllow = nType == kAllowed || nType == kAllowedCallback || bObject;
        if ((pAce[1] & kInheritOnly) != 0)
            return true;
        // An ACE whose layout is not known here may grant anyone anything: its SID cannot even
        // be found, so it counts as a grant to another account.
        if (nType == kAllowedCompound || nType > kLastKnownType) {
            *pbLoose = true;
            return true;
        }
        // Audit, alarm, label and the conditional denies (which may not apply) grant nothing and
        // are not relied on to take anything away.
        if (!bAllow && nType != kDenied)
            return true;
        const std::uint32_t nMask = MapGeneric(Read32(pAce + kAceHeaderSize));
        const unsigned char* pSidStart = pAce + kAceHeaderSize + 4;
        if (bObject) {
            if (pAceEnd - pSidStart < 4)
                return false;
            const std::uint32_t nFlags = Read32(pSidStart);
            pSidStart += 4;
            // Each GUID only where it lies inside the ACE: a pointer past it is never made.
            for (const std::uint32_t nPresent : {kObjectTypePresent, kInheritedObjectTypePresent}) {
                if ((nFlags & nPresent) == 0)
                    continue;
                if (pAceEnd - pSidStart < static_cast<std::ptrdiff_t>(kGuidSize))
                    return false;
                pSidStart += kGuidSize;
            }
        }
        SSid sid;
        if (!ReadSid(pSidStart, pAceEnd, &sid))
            return false;
        if (!bAllow) {
            Deny(sid, nMask);
            return true;
        }
        if (IsAdministratorsOwn(sid) || IsPlaceholder(sid))
            return true;
        if ((nMask & kChangeRights & ~DeniedTo(sid)) != 0)
            *pbLoose = true;
        return true;
    }

    void Deny(const SSid& sid, std::uint32_t nMask) {
        if (IsSid(sid, kEveryone)) {
            m_nDeniedToEveryone |= nMask;
            return;
        }
        if (m_nDenies < kMaxDenies) {
            m_aDenies[m_nDenies].sid = sid;
            m_aDenies[m_nDenies].nMask = nMask;
            ++m_nDenies;
        }
    }

    std::uint32_t DeniedTo(const SSid& sid) const {
        // An anonymous token holds Everyone only where a policy says so (off by default since
        // Windows XP; Microsoft's documentation of the "Let Everyone permissions apply to
        // anonymous users" setting): a deny for Everyone does not reach it.
        std::uint32_t nDenied = IsSid(sid, kAnonymousLogon) ? 0 : m_nDeniedToEveryone;
        for (int n = 0; n < m_nDenies; ++n) {
            if (IsSameSid(m_aDenies[n].sid, sid))
                nDenied |= m_aDenies[n].nMask;
        }
        return nDenied;
    }

    struct SDeny {
        SSid sid;
        std::uint32_t nMask = 0;
    };
    std::uint32_t m_nDeniedToEveryone = 0;
    SDeny m_aDenies[kMaxDenies];
    int m_nDenies = 0;
};

}  // namespace

EKeyTrust JudgeKeySecurity(const unsigned char* pDescriptor, std::size_t nSize) {
    if (pDescriptor == nullptr || nSize < kDescriptorHeaderSize || pDescriptor[0] != 1)
        return kKeyTrustUnknown;
    const unsigned char* pEnd = pDescriptor + nSize;
    const std::uint16_t nControl = Read16(pDescriptor + 2);
    const std::uint32_t nOwner = Read32(pDescriptor + 4);
    const std::uint32_t nDacl = Read32(pDescriptor + 16);
    if ((nControl & kSelfRelative) == 0 || nOwner == 0 || nOwner >= nSize || nDacl >= nSize)
        return kKeyTrustUnknown;
    SSid owner;
    if (!ReadSid(pDescriptor + nOwner, pEnd, &owner))
        return kKeyTrustUnknown;

    bool bLoose = true;  // no DACL: everyone may do everything
    if ((nControl & kDaclPresent) != 0 && nDacl != 0) {
        CDaclWalk walk;
        if (!walk.Walk(pDescriptor + nDacl, pEnd, &bLoose))
            return kKeyTrustUnknown;
    }
    if (!IsAdministratorsOwn(owner))
        return kKeyForeignOwner;
    return bLoose ? kKeyLooseDacl : kKeyTrusted;
}
