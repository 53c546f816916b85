#include "identification/md5_checksum_calculator.h"

#include <cstring>

namespace {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

}  // namespace

CMD5ChecksumCalculator::CMD5ChecksumCalculator() {
    std::memset(m_aDigest, 0, sizeof(m_aDigest));
}

bool CMD5ChecksumCalculator::Compute(const void* pData, int nLength) {
    if (pData == nullptr || nLength <= 0)
        return false;

    m_strDigestText = CMD5Checksum::DigestOf(static_cast<const unsigned char*>(pData),
                                             static_cast<std::uint32_t>(nLength));
    if (m_strDigestText.GetLength() != 2 * CMD5Checksum::DIGEST_SIZE)
        return false;

    // The bytes are read back from the text, so the two forms cannot disagree.
    const char* pszText = m_strDigestText.GetText();
    for (int i = 0; i < CMD5Checksum::DIGEST_SIZE; ++i) {
        m_aDigest[i] = static_cast<unsigned char>(HexDigitValue(pszText[2 * i]) * 16 +
                                                  HexDigitValue(pszText[2 * i + 1]));
    }
    return true;
}
