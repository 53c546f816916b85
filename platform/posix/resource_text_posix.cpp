#include "platform/resource_text.h"

#include <cstring>

namespace {

struct SStringTableEntry {
    int nID;
    const char* pText;
};

// The program's string table; the same texts as the Windows resource script.
const SStringTableEntry kStringTable[] = {
    {3000, "&About..."},
    {3003, "Quillon Idrovan"},
    {3004,
     "The computer ID could not be generated. Make sure you\n"
     "have administrator rights on this computer."},
};

}  // namespace

int LoadStringTableText(void* /*hModule*/, int nID, char* pBuffer, int nBufferSize) {
    if (pBuffer == nullptr || nBufferSize <= 0) {
        return 0;
    }
    pBuffer[0] = '\0';
    if (nID <= 0) {
        return 0;
    }
    for (const SStringTableEntry& entry : kStringTable) {
        if (entry.nID == nID) {
            // Cut like LoadStringA: at most nBufferSize - 1 characters.
            size_t nLength = std::strlen(entry.pText);
            if (nLength > static_cast<size_t>(nBufferSize - 1)) {
                nLength = static_cast<size_t>(nBufferSize - 1);
            }
            std::memcpy(pBuffer, entry.pText, nLength);
            pBuffer[nLength] = '\0';
            return static_cast<int>(nLength);
        }
    }
    return 0;
}
