#include "identification/md5_checksum.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

typedef std::uint32_t Word;

inline Word RotateLeft(Word x, int n) {
    return (x << n) | (x >> (32 - n));
}

// The four rounds' steps. Digesting is bound by the chain from one step's result, b, to the next,
// so each mixing function is written to need as few operations after b as it can: F as
// d ^ (b & (c ^ d)), H with c ^ d first, and G as a sum, since its two halves (b & d) and
// (c & ~d) never share a bit. The word and the constant are added to a before b is ready.
inline void StepF(Word& a, Word b, Word c, Word d, Word x, Word t, int s) {
    a = RotateLeft(a + x + t + (d ^ (b & (c ^ d))), s) + b;
}

inline void StepG(Word& a, Word b, Word c, Word d, Word x, Word t, int s) {
    a = RotateLeft(a + x + t + (c & ~d) + (b & d), s) + b;
}

inline void StepH(Word& a, Word b, Word c, Word d, Word x, Word t, int s) {
    a = RotateLeft(a + x + t + (b ^ (c ^ d)), s) + b;
}

inline void StepI(Word& a, Word b, Word c, Word d, Word x, Word t, int s) {
    a = RotateLeft(a + x + t + (c ^ (b | ~d)), s) + b;
}

// The little-endian word of four bytes, whatever the host's byte order; compilers make this one
// load on little-endian machines.
inline Word LoadLittleEndian(const unsigned char* p) {
    return static_cast<Word>(p[0]) | static_cast<Word>(p[1]) << 8 | static_cast<Word>(p[2]) << 16 |
           static_cast<Word>(p[3]) << 24;
}

inline void StoreLittleEndian(unsigned char* p, Word w) {
    p[0] = static_cast<unsigned char>(w);
    p[1] = static_cast<unsigned char>(w >> 8);
    p[2] = static_cast<unsigned char>(w >> 16);
    p[3] = static_cast<unsigned char>(w >> 24);
}

}  // namespace

CMD5Checksum::CMD5Checksum()
    : m_nBitCountLow(0),
      m_nBitCountHigh(0),
      m_nA(0x67452301),
      m_nB(0xefcdab89),
      m_nC(0x98badcfe),
      m_nD(0x10325476) {
    std::memset(m_aBlock, 0, sizeof(m_aBlock));
}

// The one departure from RFC 1321. Each word is assembled from its highest byte down, and every
// byte is widened as a signed character before it is OR-ed in:
//     w = (signed)b3; w = w << 8 | (signed)b2; w = w << 8 | (signed)b1; w = w << 8 | (signed)b0
// So a high bit in b0, b1 or b2 sets all bits above that byte, while b3's own extension is
// shifted out. Here the same word is made from the plain little-endian word: the lowest of the
// three sign bits that is set decides, and its negation sets that bit and every bit above it
// (0x80 gives 0xFFFFFF80, 0x8000 gives 0xFFFF8000, none gives 0).
void CMD5Checksum::BytesToWords(Word* pWords, const unsigned char* pBytes, Word nLength) {
    Word i = 0;
#if defined(__SSE2__)
    // Four words at a time, by the same formula in each 32-bit lane.
    const __m128i signMask = _mm_set1_epi32(0x00808080);
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= nLength; i += 16) {
        const __m128i plain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pBytes + i));
        const __m128i signs = _mm_and_si128(plain, signMask);
        const __m128i lowest = _mm_and_si128(signs, _mm_sub_epi32(zero, signs));
        const __m128i flood = _mm_sub_epi32(zero, lowest);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pWords + i / 4), _mm_or_si128(plain, flood));
    }
#endif
    for (; i + 4 <= nLength; i += 4) {
        const Word nPlain = LoadLittleEndian(pBytes + i);
        const Word nSigns = nPlain & 0x00808080u;
        const Word nLowestSign = nSigns & (0u - nSigns);
        pWords[i / 4] = nPlain | (0u - nLowestSign);
    }
}

void CMD5Checksum::ProcessBlock(const unsigned char* pBlock) {
    Word x[16];
    BytesToWords(x, pBlock, BLOCK_SIZE);

    Word a = m_nA;
    Word b = m_nB;
    Word c = m_nC;
    Word d = m_nD;

    StepF(a, b, c, d, x[0], 0xd76aa478, 7);
    StepF(d, a, b, c, x[1], 0xe8c7b756, 12);
    StepF(c, d, a, b, x[2], 0x242070db, 17);
    StepF(b, c, d, a, x[3], 0xc1bdceee, 22);
    StepF(a, b, c, d, x[4], 0xf57c0faf, 7);
    StepF(d, a, b, c, x[5], 0x4787c62a, 12);
    StepF(c, d, a, b, x[6], 0xa8304613, 17);
    StepF(b, c, d, a, x[7], 0xfd469501, 22);
    StepF(a, b, c, d, x[8], 0x698098d8, 7);
    StepF(d, a, b, c, x[9], 0x8b44f7af, 12);
    StepF(c, d, a, b, x[10], 0xffff5bb1, 17);
    StepF(b, c, d, a, x[11], 0x895cd7be, 22);
    StepF(a, b, c, d, x[12], 0x6b901122, 7);
    StepF(d, a, b, c, x[13], 0xfd987193, 12);
    StepF(c, d, a, b, x[14], 0xa679438e, 17);
    StepF(b, c, d, a, x[15], 0x49b40821, 22);

    StepG(a, b, c, d, x[1], 0xf61e2562, 5);
    StepG(d, a, b, c, x[6], 0xc040b340, 9);
    StepG(c, d, a, b, x[11], 0x265e5a51, 14);
    StepG(b, c, d, a, x[0], 0xe9b6c7aa, 20);
    StepG(a, b, c, d, x[5], 0xd62f105d, 5);
    StepG(d, a, b, c, x[10], 0x02441453, 9);
    StepG(c, d, a, b, x[15], 0xd8a1e681, 14);
    StepG(b, c, d, a, x[4], 0xe7d3fbc8, 20);
    StepG(a, b, c, d, x[9], 0x21e1cde6, 5);
    StepG(d, a, b, c, x[14], 0xc33707d6, 9);
    StepG(c, d, a, b, x[3], 0xf4d50d87, 14);
    StepG(b, c, d, a, x[8], 0x455a14ed, 20);
    StepG(a, b, c, d, x[13], 0xa9e3e905, 5);
    StepG(d, a, b, c, x[2], 0xfcefa3f8, 9);
    StepG(c, d, a, b, x[7], 0x676f02d9, 14);
    StepG(b, c, d, a, x[12], 0x8d2a4c8a, 20);

    StepH(a, b, c, d, x[5], 0xfffa3942, 4);
    StepH(d, a, b, c, x[8], 0x8771f681, 11);
    StepH(c, d, a, b, x[11], 0x6d9d6122, 16);
    StepH(b, c, d, a, x[14], 0xfde5380c, 23);
    StepH(a, b, c, d, x[1], 0xa4beea44, 4);
    StepH(d, a, b, c, x[4], 0x4bdecfa9, 11);
    StepH(c, d, a, b, x[7], 0xf6bb4b60, 16);
    StepH(b, c, d, a, x[10], 0xbebfbc70, 23);
    StepH(a, b, c, d, x[13], 0x289b7ec6, 4);
    StepH(d, a, b, c, x[0], 0xeaa127fa, 11);
    StepH(c, d, a, b, x[3], 0xd4ef3085, 16);
    StepH(b, c, d, a, x[6], 0x04881d05, 23);
    StepH(a, b, c, d, x[9], 0xd9d4d039, 4);
    StepH(d, a, b, c, x[12], 0xe6db99e5, 11);
    StepH(c, d, a, b, x[15], 0x1fa27cf8, 16);
    StepH(b, c, d, a, x[2], 0xc4ac5665, 23);

    StepI(a, b, c, d, x[0], 0xf4292244, 6);
    StepI(d, a, b, c, x[7], 0x432aff97, 10);
    StepI(c, d, a, b, x[14], 0xab9423a7, 15);
    StepI(b, c, d, a, x[5], 0xfc93a039, 21);
    StepI(a, b, c, d, x[12], 0x655b59c3, 6);
    StepI(d, a, b, c, x[3], 0x8f0ccc92, 10);
    StepI(c, d, a, b, x[10], 0xffeff47d, 15);
    StepI(b, c, d, a, x[1], 0x85845dd1, 21);
    StepI(a, b, c, d, x[8], 0x6fa87e4f, 6);
    StepI(d, a, b, c, x[15], 0xfe2ce6e0, 10);
    StepI(c, d, a, b, x[6], 0xa3014314, 15);
    StepI(b, c, d, a, x[13], 0x4e0811a1, 21);
    StepI(a, b, c, d, x[4], 0xf7537e82, 6);
    StepI(d, a, b, c, x[11], 0xbd3af235, 10);
    StepI(c, d, a, b, x[2], 0x2ad7d2bb, 15);
    StepI(b, c, d, a, x[9], 0xeb86d391, 21);

    m_nA += a;
    m_nB += b;
    m_nC += c;
    m_nD += d;
}

void CMD5Checksum::Update(const unsigned char* pData, Word nLength) {
    if (pData == nullptr)
        return;

    Word nIndex = (m_nBitCountLow >> 3) & (BLOCK_SIZE - 1);
    const Word nBitsLow = nLength << 3;
    m_nBitCountLow += nBitsLow;
    if (m_nBitCountLow < nBitsLow)
        ++m_nBitCountHigh;
    m_nBitCountHigh += nLength >> 29;

    const Word nRoom = BLOCK_SIZE - nIndex;
    if (nLength < nRoom) {
        std::memcpy(m_aBlock + nIndex, pData, nLength);
        return;
    }

    // Whole blocks are digested straight from the caller's bytes; only a block begun by an
    // earlier call is completed in the buffer first.
    Word nDone = 0;
    if (nIndex != 0) {
        std::memcpy(m_aBlock + nIndex, pData, nRoom);
        ProcessBlock(m_aBlock);
        nDone = nRoom;
    }
    for (; nLength - nDone >= BLOCK_SIZE; nDone += BLOCK_SIZE)
        ProcessBlock(pData + nDone);
    if (nDone < nLength)
        std::memcpy(m_aBlock, pData + nDone, nLength - nDone);
}

// The tail is laid out in place rather than fed through Update: a 0x80 byte, zeros up to offset
// 56 of a block (of the next block when fewer than 9 bytes are left), then the bit count, low half
// first, each half least significant byte first. Those are exactly the bytes that Update with the
// padding and then with the count would take in.
void CMD5Checksum::FinishBytes(unsigned char (&digest)[DIGEST_SIZE]) {
    const Word nCountAt = BLOCK_SIZE - 8;
    Word nIndex = (m_nBitCountLow >> 3) & (BLOCK_SIZE - 1);
    m_aBlock[nIndex++] = 0x80;
    if (nIndex > nCountAt) {
        std::memset(m_aBlock + nIndex, 0, BLOCK_SIZE - nIndex);
        ProcessBlock(m_aBlock);
        nIndex = 0;
    }
    std::memset(m_aBlock + nIndex, 0, nCountAt - nIndex);
    StoreLittleEndian(m_aBlock + nCountAt, m_nBitCountLow);
    StoreLittleEndian(m_aBlock + nCountAt + 4, m_nBitCountHigh);
    ProcessBlock(m_aBlock);

    StoreLittleEndian(digest, m_nA);
    StoreLittleEndian(digest + 4, m_nB);
    StoreLittleEndian(digest + 8, m_nC);
    StoreLittleEndian(digest + 12, m_nD);
}

CVeltraneString CMD5Checksum::FinishText() {
    unsigned char digest[DIGEST_SIZE];
    FinishBytes(digest);
    return DigestToText(digest);
}

CVeltraneString CMD5Checksum::DigestOf(const unsigned char* pData, Word nLength) {
    CMD5Checksum engine;
    engine.Update(pData, nLength);
    return engine.FinishText();
}

CVeltraneString CMD5Checksum::DigestToText(const unsigned char (&digest)[DIGEST_SIZE]) {
    static const char kDigits[] = "0123456789abcdef";
    char szText[2 * DIGEST_SIZE + 1];
    for (int i = 0; i < DIGEST_SIZE; ++i) {
        szText[2 * i] = kDigits[digest[i] >> 4];
        szText[2 * i + 1] = kDigits[digest[i] & 0x0f];
    }
    szText[2 * DIGEST_SIZE] = '\0';
    return CVeltraneString(szText);
}
