#include "tests/conformance/independent_id.h"

#include <windows.h>

#include <cmath>
#include <cstdio>

#include "tests/conformance/machine_profile.h"

namespace {

const char* const kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
const char* const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};

std::uint32_t RotateLeft(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// The variant step: a byte of 0x80 or more, widened as signed, sets every bit above it.
std::uint32_t Widened(unsigned char b) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(b)));
}

void DigestBlock(const unsigned char* pBlock, std::uint32_t state[4]) {
    static const int kShifts[4][4] = {
        {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    std::uint32_t words[16];
    for (int i = 0; i < 16; ++i) {
        std::uint32_t w = Widened(pBlock[4 * i + 3]);
        for (int k = 2; k >= 0; --k)
            w = (w << 8) | Widened(pBlock[4 * i + k]);
        words[i] = w;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const std::uint32_t k = static_cast<std::uint32_t>(
            std::fabs(std::sin(static_cast<double>(i + 1))) * 4294967296.0);
        f += a + k + words[g];
        a = d;
        d = c;
        c = b;
        b += RotateLeft(f, kShifts[i / 16][i % 4]);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

// The text with the decimal of seven times its length put in after its first third, whose last
// character then stands on both sides of the number.
std::string Scramble(const std::string& strText) {
    if (strText.empty())
        return strText;
    const size_t nThird = strText.size() / 3;
    return strText.substr(0, nThird + 1) + std::to_string(7 * strText.size()) +
           strText.substr(nThird);
}

bool ReadMarker(std::string* pMarker, std::string* pWhy) {
    char szValue[512];
    DWORD nSize = sizeof(szValue);
    const long nStatus =
        ReadMachineValue("Software\\Classes\\lrgDocID", "Rndund", RRF_RT_REG_SZ, szValue, &nSize);
    if (nStatus != ERROR_SUCCESS) {
        *pWhy = "no marker readable (status " + std::to_string(nStatus) + ")";
        return false;
    }
    *pMarker = szValue;
    return true;
}

}  // namespace

std::string VariantDigest(const std::string& strData) {
    std::uint32_t state[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
    std::string strPadded = strData;
    strPadded += '\x80';
    while (strPadded.size() % 64 != 56)
        strPadded += '\0';
    const std::uint64_t nBits = static_cast<std::uint64_t>(strData.size()) * 8;
    for (int i = 0; i < 8; ++i)
        strPadded += static_cast<char>((nBits >> (8 * i)) & 0xFF);
    for (size_t n = 0; n < strPadded.size(); n += 64)
        DigestBlock(reinterpret_cast<const unsigned char*>(strPadded.data() + n), state);
    std::string strHex;
    char szByte[3];
    for (std::uint32_t word : state) {
        for (int i = 0; i < 4; ++i) {
            std::snprintf(szByte, sizeof(szByte), "%02x", (word >> (8 * i)) & 0xFF);
            strHex += szByte;
        }
    }
    return strHex;
}

bool IndependentDigestSelfCheck() {
    // The padding's 0x80 is a block byte too: only where it falls at the top of a word ("abc")
    // is the answer plain MD5's. Values as tests/e2e/expected_id.py gives them.
    struct {
        const char* pszInput;
        const char* pszDigest;
    } const known[] = {
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"a", "463d5e090825a89b4230e0890ac06495"},
        {"0123456789abcdef", "34dd45b8241c8c157810f6442e957e93"},
        {"\x80\xff\x41\x90", "48d3de4e3e6ffa8df989cf04517ec5e7"},
    };
    for (const auto& k : known) {
        if (VariantDigest(k.pszInput) != k.pszDigest)
            return false;
    }
    return Scramble("abc") == "ab21bc";
}

bool ReadIdFacts(SIdFacts* pFacts, std::string* pWhy) {
    // The system's own Windows directory: a program's private one on a Remote Desktop host
    // (GetWindowsDirectory without TERMINAL_SERVER_AWARE) may lie on another drive.
    char szWindows[MAX_PATH];
    const UINT nLength = ::GetSystemWindowsDirectoryA(szWindows, MAX_PATH);
    if (nLength < 2 || nLength >= MAX_PATH || szWindows[1] != ':') {
        *pWhy = "GetSystemWindowsDirectoryA gave no drive letter";
        return false;
    }
    pFacts->strRoot = std::string(1, szWindows[0]) + ":\\";
    char szFileSystem[MAX_PATH + 1] = {0};
    DWORD nSerial = 0;
    if (!::GetVolumeInformationA(pFacts->strRoot.c_str(), NULL, 0, &nSerial, NULL, NULL,
                                 szFileSystem, sizeof(szFileSystem))) {
        *pWhy = "GetVolumeInformationA failed: " + std::to_string(::GetLastError());
        return false;
    }
    pFacts->nSerial = nSerial;
    pFacts->strFileSystem = szFileSystem;
    WIN32_FILE_ATTRIBUTE_DATA data;
    SYSTEMTIME st;
    if (!::GetFileAttributesExA(pFacts->strRoot.c_str(), GetFileExInfoStandard, &data) ||
        !::FileTimeToSystemTime(&data.ftCreationTime, &st)) {
        *pWhy = "the root's creation time could not be read: " + std::to_string(::GetLastError());
        return false;
    }
    char szTime[128];
    std::snprintf(szTime, sizeof(szTime), "%s %s %02u %04u (%02u_%02u_%04u) %02u:%02u:%02u:%u",
                  kWeekdays[st.wDayOfWeek % 7], kMonths[(st.wMonth + 11) % 12], st.wDay, st.wYear,
                  st.wMonth, st.wDay, st.wYear, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    pFacts->strRootTime = szTime;
    return ReadMarker(&pFacts->strMarker, pWhy);
}

std::string DeriveId(const SIdFacts& facts) {
    char szSerial[16];
    std::snprintf(szSerial, sizeof(szSerial), "%X", static_cast<unsigned>(facts.nSerial));
    return VariantDigest(
        Scramble(facts.strRootTime + szSerial + facts.strFileSystem + facts.strMarker));
}
