// The C API's string and size arguments (api/library_calls.h) on a scripted machine with a stored
// marker: any application name, any text to verify, any buffer size and any flags. Every buffer
// is a heap block of exactly the size passed, so that ASan sees a byte written past it. Each
// answer must be the one the arguments call for: the application's ID computed on its own for a
// name, a match exactly for the ID's digits in either case, IDROVAN_BAD_ARGUMENT for everything
// else; and nothing is ever written to the registry.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "api/library_calls.h"
#include "identification/application_id.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"

namespace {

#define EXPECT(condition)                                                                   \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "api check failed: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Verify's answer worked out from the text alone: -1 for a malformed ID, else match or not.
int ExpectedMatch(const char* pszText, const char* pszID) {
    const std::size_t nLength = std::strlen(pszText);
    if (nLength != IDROVAN_ID_LENGTH)
        return -1;
    bool bSame = true;
    for (std::size_t i = 0; i < nLength; ++i) {
        if (!IsHex(pszText[i]))
            return -1;
        bSame = bSame && Lower(pszText[i]) == pszID[i];
    }
    return bSame ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    FuzzedDataProvider input(pData, nSize);
    const unsigned int nFlags = input.ConsumeBool() ? input.ConsumeIntegral<unsigned int>()
                                                    : input.ConsumeIntegralInRange(0u, 1u);
    const unsigned int nBufferSize = input.ConsumeIntegralInRange(0u, 48u);
    const std::string strApplication = input.ConsumeRandomLengthString(512);
    const std::string strID = input.ConsumeRemainingBytesAsString();
    const char* pszApplication = strApplication.c_str();
    const char* pszID = strID.c_str();

    CScriptedMachineFacts machine;
    machine.m_nCreationTime = kRootCreated;
    machine.SetMarker(VREG_SZ, kHandMarker);

    char szWanted[kApplicationIDLength + 1] = {};
    const bool bNamed = pszApplication[0] != '\0';
    EXPECT(DeriveApplicationID(kIDWithHandMarker, pszApplication, szWanted) == bNamed);

    // A block of exactly nBufferSize bytes (one byte for none, never passed).
    std::unique_ptr<char[]> pBuffer(new char[nBufferSize == 0 ? 1 : nBufferSize]);
    unsigned int nNeeded = 0;
    idrovan_detail detail;
    detail.size = sizeof(detail);
    const int nResult = GetApplicationIDOn(machine, pszApplication, nFlags, pBuffer.get(),
                                           nBufferSize, &nNeeded, &detail);
    EXPECT(nNeeded == IDROVAN_ID_SIZE);
    if (bNamed && nBufferSize >= IDROVAN_ID_SIZE && (nFlags & ~IDROVAN_READ_ONLY) == 0) {
        EXPECT(nResult == IDROVAN_OK);
        EXPECT(std::strcmp(pBuffer.get(), szWanted) == 0);
    } else {
        EXPECT(nResult == IDROVAN_BAD_ARGUMENT);
        EXPECT(nBufferSize == 0 || pBuffer[0] == '\0');
    }

    const int nComputerMatch = ExpectedMatch(pszID, kIDWithHandMarker);
    const int nVerified = VerifyComputerIDOn(machine, pszID, &detail);
    EXPECT(nVerified == (nComputerMatch < 0   ? IDROVAN_BAD_ARGUMENT
                         : nComputerMatch > 0 ? IDROVAN_OK
                                              : IDROVAN_NO_MATCH));
    const int nApplicationMatch = bNamed ? ExpectedMatch(pszID, szWanted) : -1;
    const int nVerifiedApplication = VerifyApplicationIDOn(machine, pszApplication, pszID, nullptr);
    EXPECT(nVerifiedApplication == (nApplicationMatch < 0   ? IDROVAN_BAD_ARGUMENT
                                    : nApplicationMatch > 0 ? IDROVAN_OK
                                                            : IDROVAN_NO_MATCH));
    EXPECT(machine.m_writes.empty());
    EXPECT(machine.m_nCreateCalls == 0);
    EXPECT(machine.m_openKeys.empty());
    return 0;
}
