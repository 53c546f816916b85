#pragma once

// The computer ID worked out apart from the programs' code, from the facts as this program reads
// them itself, so that the checks can hold every program's answer against it. Written from the
// description of the ID (the same one tests/e2e/expected_id.py follows), not from
// identification/: a fault there must not be repeated here.
//
// The ID: the digest of the scrambled text of the system drive root's creation time (UTC, to the
// millisecond), the volume serial in upper-case hex, the file system's name and the marker.
// The digest is MD5 but that each block byte is widened as a signed char before it is ORed into
// its word.

#include <cstdint>
#include <string>

struct SIdFacts {
    std::string strRoot;        // "C:\", of the system's own Windows directory
    std::uint32_t nSerial = 0;  // the volume serial number
    std::string strFileSystem;  // "NTFS"
    std::string strRootTime;    // the root's creation time as the ID's text
    std::string strMarker;      // the value Rndund of HKLM\Software\Classes\lrgDocID
};

// Reads the facts; false with what failed in *pWhy.
bool ReadIdFacts(SIdFacts* pFacts, std::string* pWhy);
// The 32 lowercase hex digits of the ID of those facts.
std::string DeriveId(const SIdFacts& facts);
// The digest of bytes as 32 hex digits (exposed for the self-check).
std::string VariantDigest(const std::string& strData);
// False when the digest gives a wrong answer for a known input: then no ID it makes is trusted.
bool IndependentDigestSelfCheck();
