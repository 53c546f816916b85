// Random operation sequences on a few CVeltraneString objects, checked after every step against a
// plain model of each object: the bytes of its buffer (terminator and anything behind it
// included), whether it is wide, and whether it has a buffer at all. A wrong length, form, text,
// result or a stray byte is a finding, not only a crash or an overrun.
//
// The model follows the string's documented rules directly: the length comes from the buffer
// size, operations that store a text allocate exactly one terminator more, Reserve and Grow leave
// room behind the text, conversions keep the length, and the narrow form of a wide unit above
// 255 is '?'.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/wide_char.h"
#include "support/veltrane_string.h"

namespace {

typedef std::vector<uint32_t> Units;

const int kObjects = 3;
const int kMaxSteps = 48;
// Operations that may grow an object are skipped beyond this many buffer bytes, so that a run
// stays fast; the interesting boundaries (4095-character formatting) lie below it.
const size_t kMaxBytes = 9000;
const int kMaxReplaceLength = 1024;

const char* g_pStep = "";

#define EXPECT(condition)                                                                       \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "string model mismatch in step '%s': %s (line %d)\n", g_pStep, \
                         #condition, __LINE__);                                                 \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

uint32_t Lower(uint32_t c) {
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

uint32_t NarrowOf(uint32_t unit) {
    return unit <= 255 ? unit : '?';
}

// What one object should hold.
struct SModel {
    bool bBuffer = true;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(1, 0);
    bool bWide = false;

    int Size() const { return static_cast<int>(bytes.size()); }
    int UnitBytes() const { return bWide ? 2 : 1; }
    int Length() const {
        if (!bBuffer || bytes.empty()) {
            return 0;
        }
        const int nLength = (bWide ? Size() / 2 : Size()) - 1;
        return std::max(nLength, 0);
    }
    uint32_t Unit(int i) const {
        return bWide ? static_cast<uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)) : bytes[i];
    }
    // The characters before the first zero, at most Length() of them.
    Units Text() const {
        Units text;
        for (int i = 0; i < Length() && Unit(i) != 0; ++i) {
            text.push_back(Unit(i));
        }
        return text;
    }
    std::string NarrowText() const {
        std::string text;
        for (uint32_t unit : Text()) {
            text.push_back(static_cast<char>(NarrowOf(unit)));
        }
        return text;
    }
    // A zero-filled buffer of nBytes with the units at its start.
    void Store(const Units& units, int nBytes, bool bNewWide) {
        bBuffer = true;
        bWide = bNewWide;
        bytes.assign(static_cast<size_t>(nBytes), 0);
        for (size_t i = 0; i < units.size(); ++i) {
            if (bWide) {
                bytes[2 * i] = static_cast<uint8_t>(units[i]);
                bytes[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
            } else {
                bytes[i] = static_cast<uint8_t>(units[i]);
            }
        }
    }
    void StoreExact(const Units& units, bool bNewWide) {
        Store(units, static_cast<int>(units.size() + 1) * (bNewWide ? 2 : 1), bNewWide);
    }
    void NoBuffer() {
        bBuffer = false;
        bytes.clear();
        bWide = false;
    }
};

Units UnitsOf(const std::string& text) {
    Units units;
    for (char c : text) {
        units.push_back(static_cast<unsigned char>(c));
    }
    return units;
}

bool ModelAllocate(SModel& m, int nBytes) {
    m.NoBuffer();
    if (nBytes <= 0) {
        return false;
    }
    m.Store(Units(), nBytes, false);
    return true;
}

bool ModelMakeNarrow(SModel& m) {
    if (!m.bWide) {
        return false;
    }
    Units text = m.Text();
    for (uint32_t& unit : text) {
        unit = NarrowOf(unit);
    }
    m.Store(text, m.Length() + 1, false);
    return true;
}

bool ModelMakeWide(SModel& m) {
    if (m.bWide) {
        return false;
    }
    m.Store(m.Text(), 2 * m.Length() + 2, true);
    return true;
}

// GetText: the narrow form, stored again when a write through GetBuffer left it without a
// terminator.
void ModelGetText(SModel& m) {
    ModelMakeNarrow(m);
    if (m.bBuffer && std::find(m.bytes.begin(), m.bytes.end(), 0) == m.bytes.end()) {
        m.StoreExact(m.Text(), false);
    }
}

bool ModelGrow(SModel& m, int nChars) {
    if (nChars <= m.Length()) {
        return false;
    }
    std::vector<uint8_t> old = m.bytes;
    m.bytes.assign(static_cast<size_t>(m.bWide ? 2 * nChars + 2 : nChars + 1), 0);
    std::copy(old.begin(), old.end(), m.bytes.begin());
    m.bBuffer = true;
    return true;
}

bool ModelReserve(SModel& m, int nChars) {
    if (nChars <= 0) {
        return false;
    }
    return nChars <= m.Length() || ModelGrow(m, nChars);
}

bool ModelAssign(SModel& m, const SModel& source, bool bSelf) {
    if (bSelf) {
        return false;
    }
    const bool bThisEmpty = !m.bBuffer || m.Length() == 0;
    const bool bSourceEmpty = !source.bBuffer || source.Length() == 0;
    if (bThisEmpty && bSourceEmpty && m.bWide == source.bWide) {
        return true;
    }
    if (!source.bBuffer) {
        return ModelAllocate(m, 1);
    }
    const SModel copy = source;
    m.Store(copy.Text(), copy.Size(), copy.bWide);
    return true;
}

SModel ModelCopy(const SModel& source) {
    SModel copy;
    ModelAssign(copy, source, false);
    return copy;
}

// Appends units in the given form behind the text; a buffer too small for a terminator of that
// form counts as none.
bool ModelAppendUnits(SModel& m, const Units& units, bool bWide) {
    const int nUnit = bWide ? 2 : 1;
    const int nBase = std::max(m.bBuffer ? m.Size() : 0, nUnit);
    Units text = m.Text();
    text.insert(text.end(), units.begin(), units.end());
    m.Store(text, nBase + nUnit * static_cast<int>(units.size()), bWide);
    return true;
}

bool ModelAppendText(SModel& m, const std::string& text) {
    if (text.empty()) {
        return false;
    }
    ModelMakeNarrow(m);
    return ModelAppendUnits(m, UnitsOf(text), false);
}

bool ModelAppendWideText(SModel& m, const Units& text) {
    ModelMakeWide(m);
    if (text.empty()) {
        return false;
    }
    return ModelAppendUnits(m, text, true);
}

bool ModelAppend(SModel& m, const SModel& otherIn) {
    const SModel other = otherIn;
    if (!other.bBuffer || other.Length() == 0) {
        return false;
    }
    if (m.bWide != other.bWide) {
        if (other.bWide) {
            ModelMakeWide(m);
        } else {
            ModelMakeNarrow(m);
        }
    }
    const Units text = other.Text();
    if (text.empty()) {
        return false;
    }
    return ModelAppendUnits(m, text, other.bWide);
}

int ModelFind(const SModel& m, const std::string& pattern, int nStart, bool bIgnoreCase) {
    if (m.Length() == 0 || nStart < 0 || nStart >= m.Length()) {
        return -1;
    }
    std::string text = m.NarrowText();
    std::string wanted = pattern;
    if (bIgnoreCase) {
        if (wanted.empty()) {
            return -1;
        }
        for (char& c : text) {
            c = static_cast<char>(Lower(static_cast<unsigned char>(c)));
        }
        for (char& c : wanted) {
            c = static_cast<char>(Lower(static_cast<unsigned char>(c)));
        }
    } else if (wanted.empty()) {
        return nStart;
    }
    const size_t nFound = text.find(wanted, static_cast<size_t>(nStart));
    return nFound == std::string::npos ? -1 : static_cast<int>(nFound);
}

SModel ModelSubstring(const SModel& m, int nFirst, int nLast) {
    SModel result;
    const int nLength = m.Length();
    if (nLength == 0 || nFirst < 0 || nFirst >= nLength) {
        return result;
    }
    if (nLast == -1 || nLast > nLength - 1) {
        nLast = nLength - 1;
    }
    if (nLast < 0 || nLast < nFirst) {
        return result;
    }
    Units units;
    for (int i = nFirst; i <= nLast; ++i) {
        units.push_back(m.Unit(i));
    }
    result.StoreExact(units, m.bWide);
    return result;
}

bool ModelReplaceAll(SModel& m, const std::string& pattern, const std::string& replacement,
                     bool bIgnoreCase) {
    if (pattern.empty()) {
        return false;
    }
    int nPos = ModelFind(m, pattern, 0, bIgnoreCase);
    if (nPos == -1) {
        return false;
    }
    std::string text = m.NarrowText();
    while (nPos != -1) {
        text = text.substr(0, static_cast<size_t>(nPos)) + replacement +
               text.substr(static_cast<size_t>(nPos) + pattern.size());
        SModel current;
        current.StoreExact(UnitsOf(text), false);
        nPos =
            ModelFind(current, pattern, nPos + static_cast<int>(replacement.size()), bIgnoreCase);
    }
    m.StoreExact(UnitsOf(text), false);
    return true;
}

bool ModelIsEqual(const SModel& a, const SModel& b) {
    if (a.Length() != b.Length()) {
        return false;
    }
    if (a.Length() == 0) {
        return true;
    }
    if (a.bWide == b.bWide) {
        const size_t nBytes = std::min(a.bytes.size(), b.bytes.size());
        return std::equal(a.bytes.begin(), a.bytes.begin() + static_cast<long>(nBytes),
                          b.bytes.begin());
    }
    SModel converted = ModelCopy(a);
    if (b.bWide) {
        ModelMakeWide(converted);
    } else {
        ModelMakeNarrow(converted);
    }
    return converted.bytes == b.bytes;
}

int ModelCompareNoCase(const SModel& a, const SModel& b) {
    if (a.Length() == 0) {
        return b.Length() == 0 ? 0 : -1;
    }
    if (b.Length() == 0) {
        return 1;
    }
    SModel other = ModelCopy(b);
    if (a.bWide) {
        ModelMakeWide(other);
    } else {
        ModelMakeNarrow(other);
    }
    Units left = a.Text();
    Units right = other.Text();
    for (uint32_t& c : left) {
        c = Lower(c);
    }
    for (uint32_t& c : right) {
        c = Lower(c);
    }
    return left < right ? -1 : (left == right ? 0 : 1);
}

bool ModelHasNonAscii(const SModel& m) {
    if (!m.bWide) {
        return false;
    }
    for (int i = 0; i < m.Length(); ++i) {
        if (m.Unit(i) > 127) {
            return true;
        }
    }
    return false;
}

int Sign(int n) {
    return n < 0 ? -1 : (n > 0 ? 1 : 0);
}

void ExpectSame(const CVeltraneString& s, const SModel& m) {
    EXPECT((s.GetBuffer() != nullptr) == m.bBuffer);
    EXPECT(s.IsWide() == m.bWide);
    EXPECT(s.GetLength() == m.Length());
    if (m.bBuffer) {
        EXPECT(std::memcmp(s.GetBuffer(), m.bytes.data(), m.bytes.size()) == 0);
    }
}

// Input decoding. Small alphabets make matches, case differences, backslashes and units that
// have no narrow form likely.
const char kNarrowAlphabet[] = {'a', 'A', 'b', 'B',    '\\',   '?',
                                ' ', 'x', '%', '\x80', '\xe9', '\xff'};
const uint32_t kWideAlphabet[] = {'a',  'A',  'b',  'B',   '\\',  '?',    ' ',   'x',
                                  0x80, 0xE9, 0xFF, 0x100, 0x3A9, 0xD800, 0xFFFF};

size_t TextLength(FuzzedDataProvider& input) {
    const size_t nLength = input.ConsumeIntegralInRange<size_t>(0, 13);
    return nLength < 13 ? nLength : input.ConsumeIntegralInRange<size_t>(13, 300);
}

std::string NarrowInput(FuzzedDataProvider& input) {
    std::string text;
    for (size_t n = TextLength(input); n > 0; --n) {
        text.push_back(kNarrowAlphabet[input.ConsumeIntegral<uint8_t>() % sizeof(kNarrowAlphabet)]);
    }
    return text;
}

Units WideInput(FuzzedDataProvider& input) {
    Units text;
    const size_t nAlphabet = sizeof(kWideAlphabet) / sizeof(kWideAlphabet[0]);
    for (size_t n = TextLength(input); n > 0; --n) {
        text.push_back(kWideAlphabet[input.ConsumeIntegral<uint8_t>() % nAlphabet]);
    }
    return text;
}

std::basic_string<VWCHAR> WideString(const Units& units) {
    std::basic_string<VWCHAR> text;
    for (uint32_t unit : units) {
        text.push_back(static_cast<VWCHAR>(unit));
    }
    return text;
}

// A position argument: usually inside the text, sometimes just outside or far off.
int PositionInput(FuzzedDataProvider& input, const SModel& m) {
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return -1;
        case 1:
            return input.ConsumeIntegralInRange<int>(-3, 3);
        case 2:
            return m.Length() + input.ConsumeIntegralInRange<int>(-2, 2);
        default:
            return input.ConsumeIntegralInRange<int>(0, std::max(m.Length(), 1));
    }
}

class CStringRun {
public:
    explicit CStringRun(FuzzedDataProvider& input) : m_input(input) {
        for (int i = 0; i < kObjects; ++i) {
            m_strings[i].reset(new CVeltraneString);
        }
    }

    void Run() {
        for (int nStep = 0; nStep < kMaxSteps && m_input.remaining_bytes() > 0; ++nStep) {
            Step();
            for (int i = 0; i < kObjects; ++i) {
                ExpectSame(*m_strings[i], m_models[i]);
            }
        }
    }

private:
    void Step() {
        const int nTarget = m_input.ConsumeIntegralInRange<int>(0, kObjects - 1);
        const int nOther = m_input.ConsumeIntegralInRange<int>(0, kObjects - 1);
        CVeltraneString& s = *m_strings[nTarget];
        SModel& m = m_models[nTarget];
        CVeltraneString& other = *m_strings[nOther];
        const SModel& otherModel = m_models[nOther];
        const bool bSelf = nTarget == nOther;
        const bool bMayGrow = m.bytes.size() + otherModel.bytes.size() < kMaxBytes;

        switch (m_input.ConsumeIntegralInRange<int>(0, 38)) {
            case 0: {
                g_pStep = "SetText";
                const std::string text = NarrowInput(m_input);
                EXPECT(s.SetText(text.c_str()));
                m.StoreExact(UnitsOf(text), false);
                break;
            }
            case 1: {
                g_pStep = "SetWideText";
                const Units text = WideInput(m_input);
                EXPECT(s.SetWideText(WideString(text).c_str()));
                m.StoreExact(text, true);
                break;
            }
            case 2: {
                g_pStep = "assignment from text";
                const std::string text = NarrowInput(m_input);
                s = text.c_str();
                m.StoreExact(UnitsOf(text), false);
                break;
            }
            case 3: {
                g_pStep = "null texts";
                EXPECT(!s.SetText(nullptr));
                EXPECT(!s.SetWideText(nullptr));
                EXPECT(!s.CopyText(nullptr));
                EXPECT(!s.CopyWideText(nullptr));
                EXPECT(!s.AppendText(nullptr));
                EXPECT(!s.AppendWideText(nullptr));
                EXPECT(!s.Format(nullptr));
                EXPECT(s.Find(nullptr, 0, false) == -1);
                EXPECT(!s.ReplaceAll(nullptr, "x", false));
                EXPECT(!s.ReplaceAll("x", nullptr, true));
                s = static_cast<const char*>(nullptr);
                s += static_cast<const char*>(nullptr);
                break;
            }
            case 4: {
                g_pStep = "Assign";
                EXPECT(s.Assign(other) == ModelAssign(m, otherModel, bSelf));
                break;
            }
            case 5: {
                g_pStep = "assignment operator";
                s = other;
                ModelAssign(m, otherModel, bSelf);
                break;
            }
            case 6: {
                g_pStep = "constructors";
                const int nKind = m_input.ConsumeIntegralInRange<int>(0, 3);
                if (nKind == 0) {
                    const char c = m_input.ConsumeBool() ? '\0' : kNarrowAlphabet[nOther];
                    m_strings[nTarget].reset(new CVeltraneString(c));
                    m.StoreExact(c == 0 ? Units() : Units(1, static_cast<unsigned char>(c)), false);
                } else if (nKind == 1) {
                    const std::string text = NarrowInput(m_input);
                    m_strings[nTarget].reset(new CVeltraneString(text.c_str()));
                    m.StoreExact(UnitsOf(text), false);
                } else if (nKind == 2 && !bSelf) {
                    m_strings[nTarget].reset(new CVeltraneString(&other));
                    m = ModelCopy(otherModel);
                } else if (!bSelf) {
                    m_strings[nTarget].reset(new CVeltraneString(other));
                    m = ModelCopy(otherModel);
                }
                break;
            }
            case 7: {
                g_pStep = "Allocate";
                const int nBytes = m_input.ConsumeIntegralInRange<int>(-2, 40);
                EXPECT(s.Allocate(nBytes) == ModelAllocate(m, nBytes));
                break;
            }
            case 8: {
                g_pStep = "Empty";
                EXPECT(s.Empty());
                ModelAllocate(m, 1);
                break;
            }
            case 9: {
                g_pStep = "CopyText";
                const std::string text = NarrowInput(m_input);
                bool bExpected = false;
                if (m.bBuffer && static_cast<int>(text.size()) <= m.Length()) {
                    std::copy(text.begin(), text.end(), m.bytes.begin());
                    m.bytes[text.size()] = 0;
                    bExpected = true;
                }
                EXPECT(s.CopyText(text.c_str()) == bExpected);
                break;
            }
            case 10: {
                g_pStep = "CopyWideText";
                const Units text = WideInput(m_input);
                m.bWide = true;
                bool bExpected = false;
                if (m.bBuffer && static_cast<int>(text.size()) <= m.Size() / 2 - 1) {
                    Units withEnd = text;
                    withEnd.push_back(0);
                    const std::vector<uint8_t> old = m.bytes;
                    m.Store(withEnd, m.Size(), true);
                    std::copy(old.begin() + 2 * static_cast<long>(withEnd.size()), old.end(),
                              m.bytes.begin() + 2 * static_cast<long>(withEnd.size()));
                    bExpected = true;
                }
                EXPECT(s.CopyWideText(WideString(text).c_str()) == bExpected);
                break;
            }
            case 11: {
                g_pStep = "Grow";
                const int nChars =
                    PositionInput(m_input, m) + m_input.ConsumeIntegralInRange<int>(0, 40);
                if (bMayGrow) {
                    EXPECT(s.Grow(nChars) == ModelGrow(m, nChars));
                }
                break;
            }
            case 12: {
                g_pStep = "Reserve";
                const int nChars = m_input.ConsumeBool()
                                       ? PositionInput(m_input, m)
                                       : m_input.ConsumeIntegralInRange<int>(-1, 4200);
                if (bMayGrow) {
                    EXPECT(s.Reserve(nChars) == ModelReserve(m, nChars));
                }
                break;
            }
            case 13: {
                g_pStep = "FitToText";
                EXPECT(s.FitToText());
                m.StoreExact(m.Text(), m.bWide);
                break;
            }
            case 14: {
                // What a caller does through GetBuffer: writes bytes somewhere before the final
                // terminator, or over it, then maybe FitToText.
                g_pStep = "write through GetBuffer";
                const int nRoom = m_input.ConsumeBool() ? m.Size() : m.Length() * m.UnitBytes();
                if (nRoom > 0) {
                    const int nOffset = m_input.ConsumeIntegralInRange<int>(0, nRoom - 1);
                    const std::string bytes =
                        m_input.ConsumeBytesAsString(m_input.ConsumeIntegralInRange<size_t>(
                            0, static_cast<size_t>(nRoom - nOffset)));
                    std::memcpy(s.GetBuffer() + nOffset, bytes.data(), bytes.size());
                    std::copy(bytes.begin(), bytes.end(), m.bytes.begin() + nOffset);
                }
                break;
            }
            case 15: {
                g_pStep = "MakeNarrow";
                EXPECT(s.MakeNarrow() == ModelMakeNarrow(m));
                break;
            }
            case 16: {
                g_pStep = "MakeWide";
                EXPECT(s.MakeWide() == ModelMakeWide(m));
                break;
            }
            case 17: {
                g_pStep = "GetText";
                const char* pText = s.GetText();
                ModelGetText(m);
                EXPECT(pText != nullptr);
                EXPECT(!m.bBuffer || pText == s.GetBuffer());
                EXPECT(UnitsOf(pText) == m.Text());
                break;
            }
            case 18: {
                g_pStep = "GetWideText";
                const VWCHAR* pText = s.GetWideText();
                ModelMakeWide(m);
                // Bytes marked wide by a refused CopyWideText are stored again when they hold no
                // 16-bit terminator.
                bool bTerminated = false;
                for (int i = 0; i < m.Size() / 2; ++i) {
                    bTerminated = bTerminated || m.Unit(i) == 0;
                }
                if (m.bBuffer && !bTerminated) {
                    m.StoreExact(m.Text(), true);
                }
                EXPECT(pText != nullptr);
                Units text;
                for (const VWCHAR* p = pText; *p != 0; ++p) {
                    text.push_back(static_cast<uint32_t>(*p));
                }
                EXPECT(text == m.Text());
                break;
            }
            case 19: {
                g_pStep = "HasNonAscii";
                EXPECT(s.HasNonAscii() == ModelHasNonAscii(m));
                break;
            }
            case 20: {
                g_pStep = "IsEqual";
                EXPECT(s.IsEqual(other) == ModelIsEqual(m, otherModel));
                break;
            }
            case 21: {
                g_pStep = "CompareNoCase";
                EXPECT(Sign(s.CompareNoCase(other)) == ModelCompareNoCase(m, otherModel));
                break;
            }
            case 22: {
                g_pStep = "Find";
                const std::string pattern =
                    m_input.ConsumeBool() ? NarrowInput(m_input) : SlicedText(m);
                const int nStart = PositionInput(m_input, m);
                const bool bIgnoreCase = m_input.ConsumeBool();
                EXPECT(s.Find(pattern.c_str(), nStart, bIgnoreCase) ==
                       ModelFind(m, pattern, nStart, bIgnoreCase));
                break;
            }
            case 23: {
                g_pStep = "Substring";
                const int nFirst = PositionInput(m_input, m);
                const int nLast = PositionInput(m_input, m);
                const CVeltraneString part = s.Substring(nFirst, nLast);
                ExpectSame(part, ModelSubstring(m, nFirst, nLast));
                break;
            }
            case 24: {
                g_pStep = "ReplaceAll";
                const std::string pattern =
                    m_input.ConsumeBool() ? NarrowInput(m_input) : SlicedText(m);
                const std::string replacement = NarrowInput(m_input);
                const bool bIgnoreCase = m_input.ConsumeBool();
                if (bMayGrow && m.Length() <= kMaxReplaceLength) {
                    EXPECT(s.ReplaceAll(pattern.c_str(), replacement.c_str(), bIgnoreCase) ==
                           ModelReplaceAll(m, pattern, replacement, bIgnoreCase));
                }
                break;
            }
            case 25: {
                g_pStep = "AppendText";
                const std::string text = NarrowInput(m_input);
                if (bMayGrow) {
                    EXPECT(s.AppendText(text.c_str()) == ModelAppendText(m, text));
                }
                break;
            }
            case 26: {
                g_pStep = "AppendWideText";
                const Units text = WideInput(m_input);
                if (bMayGrow) {
                    EXPECT(s.AppendWideText(WideString(text).c_str()) ==
                           ModelAppendWideText(m, text));
                }
                break;
            }
            case 27: {
                g_pStep = "Append";
                if (bMayGrow) {
                    EXPECT(s.Append(other) == ModelAppend(m, otherModel));
                }
                break;
            }
            case 28: {
                g_pStep = "+= text";
                const std::string text = NarrowInput(m_input);
                if (bMayGrow) {
                    s += text.c_str();
                    ModelAppendText(m, text);
                }
                break;
            }
            case 29: {
                g_pStep = "+= string";
                if (bMayGrow) {
                    s += other;
                    ModelAppend(m, otherModel);
                }
                break;
            }
            case 30: {
                g_pStep = "concatenation";
                if (bMayGrow) {
                    // Neither operand changes; the step's closing check sees to that.
                    const CVeltraneString joined = s + other;
                    SModel expected = ModelCopy(m);
                    ModelAppend(expected, ModelCopy(otherModel));
                    ExpectSame(joined, expected);
                }
                break;
            }
            case 31: {
                g_pStep = "AddBackslash";
                const Units text = m.Text();
                const bool bExpected = text.empty() || text.back() != '\\';
                EXPECT(s.AddBackslash() == bExpected);
                if (bExpected) {
                    SModel backslash;
                    backslash.StoreExact(Units(1, '\\'), false);
                    ModelAppend(m, backslash);
                }
                break;
            }
            case 32: {
                g_pStep = "Format text";
                FormatText(s, m, other, m_models[nOther]);
                break;
            }
            case 33: {
                g_pStep = "Format padded";
                const int nWidth = m_input.ConsumeBool()
                                       ? m_input.ConsumeIntegralInRange<int>(0, 12)
                                       : m_input.ConsumeIntegralInRange<int>(4090, 4100);
                const std::string text = NarrowInput(m_input);
                std::string expected = text;
                if (static_cast<int>(expected.size()) < nWidth) {
                    expected.insert(0, static_cast<size_t>(nWidth) - expected.size(), ' ');
                }
                ExpectFormat(s.Format("%*s", nWidth, text.c_str()), m, expected);
                break;
            }
            case 34: {
                g_pStep = "Format number";
                const int nValue = m_input.ConsumeIntegral<int>();
                ExpectFormat(s.Format("%d", nValue), m, std::to_string(nValue));
                break;
            }
            case 35: {
                g_pStep = "self append";
                if (bMayGrow) {
                    EXPECT(s.Append(s) == ModelAppend(m, m));
                }
                break;
            }
            case 36: {
                g_pStep = "self assign";
                CVeltraneString& alias = s;
                EXPECT(!s.Assign(alias));
                s = alias;
                break;
            }
            case 37: {
                g_pStep = "argument from the own buffer";
                if (bMayGrow) {
                    OwnArgument(s, m);
                }
                break;
            }
            default: {
                g_pStep = "LoadResourceText refused";
                EXPECT(!s.LoadResourceText(m_input.ConsumeIntegralInRange<int>(-5, 0), nullptr));
                break;
            }
        }
    }

    // Hands the object a text that lies in its own buffer, read narrow or wide from any offset:
    // the result is what the same text from elsewhere gives, the text read up to its terminator
    // or the buffer's end.
    void OwnArgument(CVeltraneString& s, SModel& m) {
        if (!m.bBuffer) {
            return;
        }
        const bool bWideArgument = m_input.ConsumeBool();
        const int nOffset =
            m_input.ConsumeIntegralInRange<int>(0, m.Size() - 1) & (bWideArgument ? ~1 : ~0);
        const char* pOwn = s.GetBuffer() + nOffset;
        Units argument;
        for (int i = nOffset; i + (bWideArgument ? 1 : 0) < m.Size(); i += bWideArgument ? 2 : 1) {
            const uint32_t unit = bWideArgument ? m.bytes[i] | (m.bytes[i + 1] << 8) : m.bytes[i];
            if (unit == 0) {
                break;
            }
            argument.push_back(unit);
        }
        if (bWideArgument) {
            const VWCHAR* pWide = reinterpret_cast<const VWCHAR*>(pOwn);
            if (m_input.ConsumeBool()) {
                EXPECT(s.SetWideText(pWide));
                m.StoreExact(argument, true);
            } else {
                EXPECT(s.AppendWideText(pWide) == ModelAppendWideText(m, argument));
            }
            return;
        }
        const std::string text(argument.begin(), argument.end());
        switch (m_input.ConsumeIntegralInRange<int>(0, 3)) {
            case 0:
                EXPECT(s.SetText(pOwn));
                m.StoreExact(argument, false);
                break;
            case 1:
                EXPECT(s.AppendText(pOwn) == ModelAppendText(m, text));
                break;
            case 2: {
                // The own text as the pattern, as the replacement, or as both.
                const int nRole = m_input.ConsumeIntegralInRange<int>(0, 2);
                const std::string other = NarrowInput(m_input);
                const bool bIgnoreCase = m_input.ConsumeBool();
                if (m.Length() <= kMaxReplaceLength) {
                    const char* pPattern = nRole == 1 ? other.c_str() : pOwn;
                    const char* pReplacement = nRole == 0 ? other.c_str() : pOwn;
                    EXPECT(s.ReplaceAll(pPattern, pReplacement, bIgnoreCase) ==
                           ModelReplaceAll(m, nRole == 1 ? other : text, nRole == 0 ? other : text,
                                           bIgnoreCase));
                }
                break;
            }
            default: {
                bool bExpected = false;
                if (static_cast<int>(text.size()) <= m.Length()) {
                    std::copy(text.begin(), text.end(), m.bytes.begin());
                    m.bytes[text.size()] = 0;
                    bExpected = true;
                }
                EXPECT(s.CopyText(pOwn) == bExpected);
                break;
            }
        }
    }

    // Formats another object's narrow text; the other object is converted by GetText first.
    void FormatText(CVeltraneString& s, SModel& m, CVeltraneString& other, SModel& otherModel) {
        const char* pText = other.GetText();
        ModelGetText(otherModel);
        const std::string expected(pText);
        ExpectFormat(s.Format("%s", pText), m, expected);
    }

    // Format stores texts of 1 to 4095 characters and otherwise keeps the previous text.
    void ExpectFormat(bool bFormatted, SModel& m, const std::string& expected) {
        const bool bExpected = !expected.empty() && expected.size() < 4096;
        EXPECT(bFormatted == bExpected);
        if (bExpected) {
            m.StoreExact(UnitsOf(expected), false);
        }
    }

    // A piece of the object's own narrow text (so that searches find something), or empty.
    std::string SlicedText(const SModel& m) {
        const std::string text = m.NarrowText();
        const size_t nFirst = m_input.ConsumeIntegralInRange<size_t>(0, text.size());
        const size_t nCount = m_input.ConsumeIntegralInRange<size_t>(0, 4);
        std::string piece = text.substr(nFirst, nCount);
        if (m_input.ConsumeBool()) {
            for (char& c : piece) {
                if (c >= 'a' && c <= 'z') {
                    c = static_cast<char>(c - 'a' + 'A');
                }
            }
        }
        return piece;
    }

    FuzzedDataProvider& m_input;
    std::unique_ptr<CVeltraneString> m_strings[kObjects];
    SModel m_models[kObjects];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    FuzzedDataProvider input(pData, nSize);
    CStringRun run(input);
    run.Run();
    return 0;
}
