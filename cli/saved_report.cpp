#include "cli/saved_report.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>

#include "cli/json_text.h"

namespace {

const std::size_t kMaxEchoedKeyLength = 40;
const std::size_t kZeroBytesBehind = 4;
const int kOldFormat = 1;
const int kCurrentFormat = 2;
// The layouts a key belongs to, one bit for each format.
const unsigned kOldLayout = 1u << kOldFormat;
const unsigned kCurrentLayout = 1u << kCurrentFormat;
const unsigned kBothLayouts = kOldLayout | kCurrentLayout;

// The report's keys, with the layouts each belongs to and, for messages, what its value must be.
enum EKey {
    kKeyID,
    kKeyApplication,
    kKeyMarker,
    kKeyMarkerKey,
    kKeyRootText,
    kKeyVolumeText,
    kKeyRootFingerprint,
    kKeyVolumeFingerprint,
    kKeyFormat,
    kKeyVersion,
    kKeyError,
    kKeyCount,
};

struct SKeyRule {
    const char* pszName;
    unsigned nFormats;
    const char* pszExpected;
};

const SKeyRule kKeyRules[kKeyCount] = {
    {"id", kBothLayouts, "32 hexadecimal digits or null"},
    {"app", 0, ""},
    {"marker", kBothLayouts, "\"present\", \"created\" or \"missing\""},
    // Added within the current layout: optional (IsOptionalKey).
    {"marker_key", kCurrentLayout, "\"trusted\", \"loose\", \"unknown\" or null"},
    {"root_created", kOldLayout, "a text of characters up to U+00FF without U+0000, or null"},
    {"volume", kOldLayout, "a text of characters up to U+00FF without U+0000, or null"},
    {"root_created_fingerprint", kCurrentLayout, "3 hexadecimal digits from 000 to 3ff, or null"},
    {"volume_fingerprint", kCurrentLayout, "3 hexadecimal digits from 000 to 3ff, or null"},
    {"format", kCurrentLayout, "the number 2 (the only layout with it that this version reads)"},
    {"version", kBothLayouts, "a string"},
    {"error", kBothLayouts, "null or an object"},
};

// The keys of the object under "error".
enum EErrorKey { kErrorStep, kErrorCode, kErrorMessage, kErrorKeyCount };
const SKeyRule kErrorKeyRules[kErrorKeyCount] = {
    {"error.step", kBothLayouts, "a string or null"},
    {"error.code", kBothLayouts, "an integer"},
    {"error.message", kBothLayouts, "a string or null"},
};

bool IsLowerHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

bool IsFingerprintText(const char* pText, std::size_t nLength) {
    return nLength == kFactFingerprintLength && pText[0] >= '0' && pText[0] <= '3' &&
           IsLowerHexDigit(pText[1]) && IsLowerHexDigit(pText[2]);
}

bool IsOneOf(const char* pText, std::size_t nLength, std::initializer_list<const char*> names) {
    for (const char* pszName : names) {
        if (std::strlen(pszName) == nLength && std::memcmp(pszName, pText, nLength) == 0)
            return true;
    }
    return false;
}

bool IsMarkerStateText(const char* pText, std::size_t nLength) {
    return IsOneOf(pText, nLength, {"present", "created", "missing", "unusable"});
}

// Keys that reports of the current layout from earlier versions lack.
bool IsOptionalKey(int nKey) {
    return nKey == kKeyMarkerKey;
}

// The bytes of a fact text from the UTF-8 that the parser gives: the report wrote each byte as
// the character of that value, so only characters up to U+00FF come back, and never U+0000,
// which no fact text holds.
bool DecodeFactText(const char* pText, std::size_t nLength, CTextBuilder* pBytes) {
    for (std::size_t i = 0; i < nLength; ++i) {
        const unsigned char uc = static_cast<unsigned char>(pText[i]);
        if (uc == 0)
            return false;
        if (uc < 0x80) {
            pBytes->Append(static_cast<char>(uc));
            continue;
        }
        // Only the two-byte forms of U+0080 to U+00FF; the parser has checked the encoding.
        if ((uc != 0xC2 && uc != 0xC3) || i + 1 == nLength)
            return false;
        const unsigned char ucNext = static_cast<unsigned char>(pText[++i]);
        pBytes->Append(static_cast<char>(((uc & 0x03) << 6) | (ucNext & 0x3F)));
    }
    return pBytes->IsComplete();
}

// A UTF-16 code unit of either byte order.
unsigned ReadUnit(const unsigned char* p, bool bBigEndian) {
    return bBigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0];
}

void PutUtf8(unsigned nCodePoint, char*& pOut) {
    if (nCodePoint < 0x80) {
        *pOut++ = static_cast<char>(nCodePoint);
    } else if (nCodePoint < 0x800) {
        *pOut++ = static_cast<char>(0xC0 | (nCodePoint >> 6));
        *pOut++ = static_cast<char>(0x80 | (nCodePoint & 0x3F));
    } else if (nCodePoint < 0x10000) {
        *pOut++ = static_cast<char>(0xE0 | (nCodePoint >> 12));
        *pOut++ = static_cast<char>(0x80 | ((nCodePoint >> 6) & 0x3F));
        *pOut++ = static_cast<char>(0x80 | (nCodePoint & 0x3F));
    } else {
        *pOut++ = static_cast<char>(0xF0 | (nCodePoint >> 18));
        *pOut++ = static_cast<char>(0x80 | ((nCodePoint >> 12) & 0x3F));
        *pOut++ = static_cast<char>(0x80 | ((nCodePoint >> 6) & 0x3F));
        *pOut++ = static_cast<char>(0x80 | (nCodePoint & 0x3F));
    }
}

// UTF-16 with its byte-order mark (as PowerShell's redirection saves a report) to terminated
// UTF-8; the mark itself is left out. False for an odd length, an unpaired surrogate or U+0000,
// which JSON text never holds and the parser would take for the end.
bool Utf16ToUtf8(const unsigned char* pData, std::size_t nLength, bool bBigEndian, char* pOut) {
    if (nLength % 2 != 0)
        return false;
    for (std::size_t i = 2; i < nLength; i += 2) {
        unsigned nCodePoint = ReadUnit(pData + i, bBigEndian);
        if (nCodePoint == 0 || (nCodePoint >= 0xDC00 && nCodePoint <= 0xDFFF))
            return false;
        if (nCodePoint >= 0xD800 && nCodePoint <= 0xDBFF) {
            if (i + 4 > nLength)
                return false;
            const unsigned nLow = ReadUnit(pData + i + 2, bBigEndian);
            if (nLow < 0xDC00 || nLow > 0xDFFF)
                return false;
            nCodePoint = 0x10000 + ((nCodePoint - 0xD800) << 10) + (nLow - 0xDC00);
            i += 2;
        }
        PutUtf8(nCodePoint, pOut);
    }
    *pOut = '\0';
    return true;
}

// The report as terminated UTF-8 in pText (nLength * 3 / 2 + 1 bytes or more): UTF-8 as it is,
// without a leading byte-order mark, or UTF-16 with its mark converted. A zero byte, which JSON
// text never holds, is refused: the parser would take it for the end.
bool ToUtf8(const char* pData, std::size_t nLength, char* pText, CTextBuilder* pError) {
    const unsigned char* pBytes = reinterpret_cast<const unsigned char*>(pData);
    const bool bLittleEndian = nLength >= 2 && pBytes[0] == 0xFF && pBytes[1] == 0xFE;
    const bool bBigEndian = nLength >= 2 && pBytes[0] == 0xFE && pBytes[1] == 0xFF;
    if (bLittleEndian || bBigEndian) {
        if (Utf16ToUtf8(pBytes, nLength, bBigEndian, pText))
            return true;
        pError->Append("the report is not valid UTF-16");
        return false;
    }
    if (nLength >= 3 && std::memcmp(pData, "\xEF\xBB\xBF", 3) == 0) {
        pData += 3;
        nLength -= 3;
    }
    if (std::memchr(pData, 0, nLength) != nullptr) {
        pError->Append(
            "the report holds a zero byte (UTF-16 is read only with its byte-order mark)");
        return false;
    }
    std::memcpy(pText, pData, nLength);
    pText[nLength] = '\0';
    return true;
}

// rapidjson's SAX handler: checks each value against its key as it arrives and stops the parse
// at the first fault, with the message in m_pError.
class CReportHandler {
public:
    explicit CReportHandler(CTextBuilder* pError) : m_pError(pError) {}

    bool Null() {
        if (m_nDepth == 2)
            return m_nErrorKey != kErrorCode || WrongType();
        switch (m_nKey) {
            case kKeyID:
            case kKeyMarkerKey:
            case kKeyRootText:
            case kKeyVolumeText:
            case kKeyRootFingerprint:
            case kKeyVolumeFingerprint:
            case kKeyError:
                return true;
            default:
                return WrongType();
        }
    }
    bool Bool(bool) { return WrongType(); }
    bool Int(int nValue) { return Integer(nValue == kCurrentFormat); }
    bool Uint(unsigned nValue) { return Integer(nValue == kCurrentFormat); }
    bool Int64(std::int64_t) { return Integer(false); }
    bool Uint64(std::uint64_t) { return Integer(false); }
    bool Double(double) { return WrongType(); }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return WrongType(); }

    bool String(const char* pText, rapidjson::SizeType nLength, bool) {
        if (m_nDepth == 2)
            return m_nErrorKey != kErrorCode || WrongType();
        switch (m_nKey) {
            case kKeyID:
                if (nLength != static_cast<unsigned>(kComputerIDLength))
                    return WrongType();
                for (rapidjson::SizeType i = 0; i < nLength; ++i) {
                    if (!IsHexDigit(pText[i]))
                        return WrongType();
                }
                std::memcpy(m_report.szID, pText, nLength);
                return true;
            case kKeyMarker:
                return IsMarkerStateText(pText, nLength) || WrongType();
            case kKeyMarkerKey:
                return IsOneOf(pText, nLength, {"trusted", "loose", "unknown"}) || WrongType();
            case kKeyRootText:
                return DecodeFactText(pText, nLength, &m_rootText) || WrongType();
            case kKeyVolumeText:
                return DecodeFactText(pText, nLength, &m_volumeText) || WrongType();
            case kKeyRootFingerprint:
            case kKeyVolumeFingerprint:
                if (!IsFingerprintText(pText, nLength))
                    return WrongType();
                std::memcpy(m_nKey == kKeyRootFingerprint ? m_report.szRootFingerprint
                                                          : m_report.szVolumeFingerprint,
                            pText, nLength);
                return true;
            case kKeyVersion:
                return true;
            default:
                return WrongType();
        }
    }

    bool StartObject() {
        if (m_nDepth == 0 || (m_nDepth == 1 && m_nKey == kKeyError)) {
            ++m_nDepth;
            return true;
        }
        return WrongType();
    }

    bool Key(const char* pText, rapidjson::SizeType nLength, bool) {
        if (m_nDepth == 1) {
            m_nKey = FindKey(kKeyRules, kKeyCount, pText, nLength);
            if (m_nKey == kKeyApplication) {
                return Fail(
                    "it is the report of one application (--app-specific), which cannot be "
                    "compared; save a report of the computer with idrovan-cli --json");
            }
            return m_nKey >= 0 && Note(&m_nSeen, kKeyRules, m_nKey);
        }
        m_nErrorKey = FindKey(kErrorKeyRules, kErrorKeyCount, pText, nLength);
        return m_nErrorKey >= 0 && Note(&m_nErrorSeen, kErrorKeyRules, m_nErrorKey);
    }

    bool EndObject(rapidjson::SizeType) {
        if (--m_nDepth == 1) {
            for (int n = 0; n < kErrorKeyCount; ++n) {
                if ((m_nErrorSeen & (1u << n)) == 0)
                    return Fail("key '", kErrorKeyRules[n].pszName, "' is missing");
            }
        }
        return true;
    }

    bool StartArray() { return WrongType(); }
    bool EndArray(rapidjson::SizeType) { return WrongType(); }

    bool HasFailed() const { return m_bFailed; }

    // The checks that need the whole object; then the old layout's texts are fingerprinted.
    bool Finish(CSavedReport* pReport) {
        if (m_bOtherFormat)
            return Fail(
                "the report's format is not 2: it comes from another version of this "
                "program");
        // A report with any key of the current layout is taken for one, so that a lost
        // "format" is reported as just that.
        unsigned nCurrentKeys = 0;
        for (int n = 0; n < kKeyCount; ++n) {
            if (kKeyRules[n].nFormats == kCurrentLayout)
                nCurrentKeys |= 1u << n;
        }
        const int nFormat = (m_nSeen & nCurrentKeys) != 0 ? kCurrentFormat : kOldFormat;
        for (int n = 0; n < kKeyCount; ++n) {
            if ((kKeyRules[n].nFormats & (1u << nFormat)) != 0 && (m_nSeen & (1u << n)) == 0 &&
                !IsOptionalKey(n))
                return Fail("key '", kKeyRules[n].pszName, "' is missing");
        }
        for (int n = 0; n < kKeyCount; ++n) {
            if ((kKeyRules[n].nFormats & (1u << nFormat)) == 0 && (m_nSeen & (1u << n)) != 0) {
                return Fail("key '", kKeyRules[n].pszName,
                            "' belongs to reports without a 'format' key");
            }
        }
        if (m_report.szID[0] == '\0')
            return Fail("the report holds no ID: the run that wrote it failed");
        if (nFormat == kOldFormat) {
            ComputeFactFingerprint(kFactRootCreated, m_rootText.GetText(), m_rootText.GetLength(),
                                   m_report.szRootFingerprint);
            ComputeFactFingerprint(kFactVolume, m_volumeText.GetText(), m_volumeText.GetLength(),
                                   m_report.szVolumeFingerprint);
        }
        // With an ID, both facts were read; a report without them was not written by this
        // program (or the fingerprint of an old one could not be computed, which is rarer still).
        if (m_report.szRootFingerprint[0] == '\0' || m_report.szVolumeFingerprint[0] == '\0')
            return Fail("the report has an ID but not both facts");
        m_report.nFormat = nFormat;
        *pReport = m_report;
        return true;
    }

private:
    bool Fail(const char* pszFirst, const char* pszSecond = nullptr, const char* pszThird = nullptr,
              const char* pszFourth = nullptr) {
        m_bFailed = true;
        m_pError->Append(pszFirst);
        m_pError->Append(pszSecond);
        m_pError->Append(pszThird);
        m_pError->Append(pszFourth);
        return false;
    }

    bool WrongType() {
        if (m_nDepth == 0)
            return Fail("the report is not a JSON object");
        const SKeyRule& rule = m_nDepth == 2 ? kErrorKeyRules[m_nErrorKey] : kKeyRules[m_nKey];
        return Fail("key '", rule.pszName, "' is not ", rule.pszExpected);
    }

    // Only "format" and "error.code" take integers, and "format" takes only 2.
    bool Integer(bool bTwo) {
        if (m_nDepth == 2)
            return m_nErrorKey == kErrorCode || WrongType();
        if (m_nKey != kKeyFormat)
            return WrongType();
        // Judged once the whole text has parsed: "02" starts as the number 0, and is not JSON.
        m_bOtherFormat = !bTwo;
        return true;
    }

    int FindKey(const SKeyRule* pRules, int nCount, const char* pText,
                rapidjson::SizeType nLength) {
        for (int n = 0; n < nCount; ++n) {
            const char* pszName = pRules[n].pszName;
            if (pRules == kErrorKeyRules)
                pszName += std::strlen("error.");
            if (std::strlen(pszName) == nLength && std::memcmp(pszName, pText, nLength) == 0)
                return n;
        }
        Fail(pRules == kErrorKeyRules ? "unknown key in 'error': '" : "unknown key '");
        // By its length: a key may hold U+0000, which must not make "id\u0000" look like "id".
        AppendPrintableBytes(pText, nLength < kMaxEchoedKeyLength ? nLength : kMaxEchoedKeyLength,
                             m_pError);
        m_pError->Append(nLength > kMaxEchoedKeyLength ? "...'" : "'");
        return -1;
    }

    bool Note(unsigned* pSeen, const SKeyRule* pRules, int nKey) {
        if ((*pSeen & (1u << nKey)) != 0)
            return Fail("key '", pRules[nKey].pszName, "' is given twice");
        *pSeen |= 1u << nKey;
        return true;
    }

    CTextBuilder* m_pError;
    bool m_bFailed = false;
    int m_nDepth = 0;
    int m_nKey = -1;
    int m_nErrorKey = -1;
    unsigned m_nSeen = 0;
    unsigned m_nErrorSeen = 0;
    bool m_bOtherFormat = false;
    CSavedReport m_report;
    CTextBuilder m_rootText;
    CTextBuilder m_volumeText;
};

}  // namespace

bool ReadSavedReport(const char* pData, std::size_t nLength, CSavedReport* pReport,
                     CTextBuilder* pError) {
    if (nLength > kMaxSavedReportSize) {
        pError->Append("the report is larger than 64 KiB");
        return false;
    }
    // At most 3 bytes of UTF-8 for every 2 bytes of UTF-16, and zero bytes behind: the
    // terminator and 3 more, all zeroed now. This version of rapidjson checks a multi-byte
    // character in place by taking all of its bytes before it looks at them, so a text that ends
    // in the first byte of one is read up to 3 bytes past its terminator.
    const std::size_t nSize = nLength * 3 / 2 + kZeroBytesBehind;
    char* pText = new (std::nothrow) char[nSize]();
    if (pText == nullptr) {
        pError->Append("out of memory");
        return false;
    }
    bool bRead = false;
    if (ToUtf8(pData, nLength, pText, pError)) {
        // In place: the parser then keeps no stack of its own, whose first use in this version
        // of rapidjson does arithmetic on a null pointer.
        rapidjson::InsituStringStream input(pText);
        rapidjson::Reader reader;
        CReportHandler handler(pError);
        const rapidjson::ParseResult result =
            reader.Parse<rapidjson::kParseInsituFlag | rapidjson::kParseValidateEncodingFlag>(
                input, handler);
        if (result.IsError() && !handler.HasFailed()) {
            pError->Append("the report is not valid JSON: ");
            pError->Append(rapidjson::GetParseError_En(result.Code()));
            pError->Append(" (at byte ");
            pError->AppendNumber(static_cast<long>(result.Offset()));
            pError->Append(')');
        } else if (!result.IsError()) {
            bRead = handler.Finish(pReport);
        }
    }
    delete[] pText;
    pText = nullptr;
    return bRead;
}
