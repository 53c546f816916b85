// Reading a saved report (--compare) from any bytes: never a crash, a read past the input or a
// deep recursion. A refused report has a one-line ASCII message; a read one has a well-formed ID
// and two fingerprints, and the same values read back alike both from 2.2.0.0's report (without
// "marker_key") and from what this version's --json writer makes of them.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/id_output.h"
#include "cli/saved_report.h"
#include "cli/status_messages.h"

namespace {

#define EXPECT(condition)                                                                      \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "report check failed: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

bool IsHexText(const char* pszText, std::size_t nLength) {
    if (std::strlen(pszText) != nLength)
        return false;
    for (std::size_t i = 0; i < nLength; ++i) {
        if (std::strchr("0123456789abcdefABCDEF", pszText[i]) == nullptr || pszText[i] == '\0')
            return false;
    }
    return true;
}

bool IsFingerprint(const char* pszText) {
    return IsHexText(pszText, kFactFingerprintLength) && pszText[0] >= '0' && pszText[0] <= '3';
}

void ExpectReadsAs(const std::string& strText, const CSavedReport& report) {
    CSavedReport again;
    CTextBuilder againError;
    EXPECT(ReadSavedReport(strText.data(), strText.size(), &again, &againError));
    EXPECT(again.nFormat == 2);
    EXPECT(std::strcmp(again.szID, report.szID) == 0);
    EXPECT(std::strcmp(again.szRootFingerprint, report.szRootFingerprint) == 0);
    EXPECT(std::strcmp(again.szVolumeFingerprint, report.szVolumeFingerprint) == 0);
}

class CNoMessages : public CStatusMessages {
public:
    void AppendStatusText(long, CTextBuilder*) override {}
};

// What `idrovan-cli --json` prints for a derivation with the report's ID and fingerprints.
std::string WrittenReport(const CSavedReport& report) {
    CDerivation derivation;
    derivation.eCommand = kCommandJson;
    derivation.eAccess = kMarkerReadFirst;
    derivation.report.eMarker = kMarkerPresent;
    derivation.report.bMarkerKeyOpened = true;
    derivation.report.eMarkerKey = kKeyLooseDacl;
    std::memcpy(derivation.szID, report.szID, sizeof(derivation.szID));
    std::memcpy(derivation.szRootFingerprint, report.szRootFingerprint,
                sizeof(derivation.szRootFingerprint));
    std::memcpy(derivation.szVolumeFingerprint, report.szVolumeFingerprint,
                sizeof(derivation.szVolumeFingerprint));
    CNoMessages messages;
    CTextBuilder text;
    FormatJson(derivation, messages, &text);
    EXPECT(text.IsComplete());
    return text.GetText();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    CSavedReport report;
    CTextBuilder error;
    if (!ReadSavedReport(reinterpret_cast<const char*>(pData), nSize, &report, &error)) {
        const std::string strError = error.GetText();
        EXPECT(!strError.empty());
        for (char c : strError)
            EXPECT(c >= 0x20 && c <= 0x7E);
        return 0;
    }
    EXPECT(error.GetLength() == 0);
    EXPECT(report.nFormat == 1 || report.nFormat == 2);
    EXPECT(IsHexText(report.szID, 32));
    EXPECT(IsFingerprint(report.szRootFingerprint));
    EXPECT(IsFingerprint(report.szVolumeFingerprint));

    const std::string strCanonical = std::string("{\"id\":\"") + report.szID +
                                     "\",\"marker\":\"present\",\"root_created_fingerprint\":\"" +
                                     report.szRootFingerprint + "\",\"volume_fingerprint\":\"" +
                                     report.szVolumeFingerprint +
                                     "\",\"format\":2,\"version\":\"2.2.0.0\",\"error\":null}";
    ExpectReadsAs(strCanonical, report);
    ExpectReadsAs(WrittenReport(report), report);
    return 0;
}
