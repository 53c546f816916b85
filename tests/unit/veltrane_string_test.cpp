#include "support/veltrane_string.h"

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/resource_text.h"
#include "platform/wide_char.h"

// The string type takes every buffer from the nothrow array form of operator new;
// replacing it here lets a test make the n-th allocation fail.
namespace {
std::atomic<int> g_nAllocationsBeforeFailure{-1};
}

void* operator new[](std::size_t nBytes, const std::nothrow_t&) noexcept {
    if (g_nAllocationsBeforeFailure.load() == 0) {
        return nullptr;
    }
    if (g_nAllocationsBeforeFailure.load() > 0) {
        --g_nAllocationsBeforeFailure;
    }
    try {
        return ::operator new[](nBytes);
    } catch (...) {
        return nullptr;
    }
}

namespace {

typedef std::basic_string<VWCHAR> WideString;

// Wide text holding the byte values of pText, one unit per byte.
WideString Wide(const char* pText) {
    WideString result;
    for (const char* p = pText; *p != '\0'; ++p) {
        result.push_back(static_cast<VWCHAR>(static_cast<unsigned char>(*p)));
    }
    return result;
}

CVeltraneString WideUnits(const VWCHAR* pUnits) {
    CVeltraneString s;
    EXPECT_TRUE(s.SetWideText(pUnits));
    return s;
}

CVeltraneString WideOf(const char* pText) {
    return WideUnits(Wide(pText).c_str());
}

// The narrow text of s, read from a copy so that s keeps its form.
std::string TextOf(const CVeltraneString& s) {
    CVeltraneString copy(s);
    return copy.GetText();
}

// Lets the next nSucceeding allocations through, then fails every one until reset.
class ScopedAllocationFailure {
public:
    explicit ScopedAllocationFailure(int nSucceeding) { g_nAllocationsBeforeFailure = nSucceeding; }
    ~ScopedAllocationFailure() { g_nAllocationsBeforeFailure = -1; }
};

void ExpectWithoutBuffer(CVeltraneString& s) {
    EXPECT_EQ(s.GetBuffer(), nullptr);
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_FALSE(s.IsWide());
}

TEST(VeltraneStringTest, ConstructionGivesNarrowText) {
    const CVeltraneString source("abc");
    const struct {
        const char* pName;
        CVeltraneString value;
        const char* pExpected;
    } cases[] = {
        {"default", CVeltraneString(), ""},
        {"text", CVeltraneString("abc"), "abc"},
        {"null text", CVeltraneString(static_cast<const char*>(nullptr)), ""},
        {"character", CVeltraneString('x'), "x"},
        {"zero character", CVeltraneString('\0'), ""},
        {"copy", CVeltraneString(source), "abc"},
        {"pointer to string", CVeltraneString(&source), "abc"},
        {"null pointer to string", CVeltraneString(static_cast<const CVeltraneString*>(nullptr)),
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pName);
        EXPECT_FALSE(c.value.IsWide());
        EXPECT_EQ(c.value.GetLength(), static_cast<int>(std::strlen(c.pExpected)));
        ASSERT_NE(c.value.GetBuffer(), nullptr);
        EXPECT_STREQ(c.value.GetBuffer(), c.pExpected);
    }
}

TEST(VeltraneStringTest, CopiesOwnTheirBuffers) {
    CVeltraneString original("abc");
    CVeltraneString copy(original);
    CVeltraneString assigned;
    assigned = original;
    ASSERT_NE(copy.GetBuffer(), original.GetBuffer());
    ASSERT_NE(assigned.GetBuffer(), original.GetBuffer());
    copy.GetBuffer()[0] = 'X';
    assigned.GetBuffer()[1] = 'Y';
    EXPECT_STREQ(original.GetText(), "abc");
    EXPECT_STREQ(copy.GetText(), "Xbc");
    EXPECT_STREQ(assigned.GetText(), "aYc");
}

TEST(VeltraneStringTest, AssignCopiesSizeAndFormAndRefusesItself) {
    CVeltraneString reserved("ab");
    ASSERT_TRUE(reserved.Reserve(20));
    CVeltraneString target("something longer");
    EXPECT_TRUE(target.Assign(reserved));
    EXPECT_EQ(target.GetLength(), 20);
    EXPECT_STREQ(target.GetBuffer(), "ab");

    EXPECT_TRUE(target.Assign(WideOf("wide")));
    EXPECT_TRUE(target.IsWide());
    EXPECT_EQ(target.GetLength(), 4);

    CVeltraneString self("keep");
    CVeltraneString& alias = self;
    EXPECT_FALSE(self.Assign(alias));
    self = alias;
    EXPECT_STREQ(self.GetText(), "keep");
    EXPECT_EQ(self.GetLength(), 4);
}

TEST(VeltraneStringTest, NullTextIsRefusedAndKeepsText) {
    CVeltraneString s("keep");
    EXPECT_FALSE(s.SetText(nullptr));
    EXPECT_FALSE(s.SetWideText(nullptr));
    EXPECT_FALSE(s.CopyText(nullptr));
    EXPECT_FALSE(s.CopyWideText(nullptr));
    EXPECT_FALSE(s.AppendText(nullptr));
    EXPECT_FALSE(s.AppendWideText(nullptr));
    s = static_cast<const char*>(nullptr);
    s += static_cast<const char*>(nullptr);
    EXPECT_FALSE(s.IsWide());
    EXPECT_EQ(s.GetLength(), 4);
    EXPECT_STREQ(s.GetText(), "keep");
}

TEST(VeltraneStringTest, AllocateGivesZeroFilledBufferOrNone) {
    CVeltraneString s("text");
    ASSERT_TRUE(s.Allocate(5));
    EXPECT_EQ(s.GetLength(), 4);
    EXPECT_EQ(std::memcmp(s.GetBuffer(), "\0\0\0\0\0", 5), 0);

    for (int nBytes : {0, -1}) {
        SCOPED_TRACE(nBytes);
        CVeltraneString t("text");
        EXPECT_FALSE(t.Allocate(nBytes));
        ExpectWithoutBuffer(t);
        EXPECT_STREQ(t.GetText(), "");
        EXPECT_TRUE(t.SetText("back"));
        EXPECT_STREQ(t.GetText(), "back");
    }
}

TEST(VeltraneStringTest, CopyTextRespectsCapacity) {
    CVeltraneString s("abcd");
    EXPECT_FALSE(s.CopyText("abcde"));
    EXPECT_STREQ(s.GetBuffer(), "abcd");
    EXPECT_TRUE(s.CopyText("xy"));
    EXPECT_EQ(s.GetLength(), 4);
    EXPECT_EQ(std::memcmp(s.GetBuffer(), "xy\0d", 5), 0);

    // The wide flag is set before the capacity check and stays set.
    CVeltraneString narrow("abc");
    EXPECT_FALSE(narrow.CopyWideText(Wide("abcdef").c_str()));
    EXPECT_TRUE(narrow.IsWide());
    CVeltraneString room("abcdefgh");
    EXPECT_TRUE(room.CopyWideText(Wide("xyz").c_str()));
    EXPECT_TRUE(room.IsWide());
    EXPECT_EQ(room.GetLength(), 3);
    EXPECT_EQ(TextOf(room), "xyz");
    // A one-byte buffer has no room for a 16-bit terminator.
    CVeltraneString empty;
    EXPECT_FALSE(empty.CopyWideText(Wide("").c_str()));
    EXPECT_EQ(empty.GetLength(), 0);
}

TEST(VeltraneStringTest, ReserveGrowAndFitToText) {
    CVeltraneString s("ab");
    ASSERT_TRUE(s.Reserve(260));
    EXPECT_EQ(s.GetLength(), 260);
    EXPECT_STREQ(s.GetBuffer(), "ab");
    std::strcpy(s.GetBuffer(), "C:\\Windows");
    EXPECT_EQ(s.GetLength(), 260);
    EXPECT_TRUE(s.FitToText());
    EXPECT_EQ(s.GetLength(), 10);
    EXPECT_STREQ(s.GetText(), "C:\\Windows");

    CVeltraneString ten("0123456789");
    EXPECT_TRUE(ten.Reserve(5));
    EXPECT_FALSE(ten.Grow(5));
    EXPECT_FALSE(ten.Grow(10));
    EXPECT_FALSE(ten.Reserve(0));
    EXPECT_FALSE(ten.Reserve(-3));
    EXPECT_EQ(ten.GetLength(), 10);
    EXPECT_STREQ(ten.GetText(), "0123456789");

    CVeltraneString wide = WideOf("wide");
    EXPECT_TRUE(wide.Grow(20));
    EXPECT_TRUE(wide.IsWide());
    EXPECT_EQ(wide.GetLength(), 20);
    EXPECT_TRUE(wide.FitToText());
    EXPECT_TRUE(wide.IsWide());
    EXPECT_EQ(wide.GetLength(), 4);
    EXPECT_EQ(TextOf(wide), "wide");
}

TEST(VeltraneStringTest, FitToTextStaysInsideAFullyWrittenBuffer) {
    CVeltraneString s;
    ASSERT_TRUE(s.Reserve(4));
    std::memset(s.GetBuffer(), 'x', 5);  // all five bytes, terminator overwritten
    EXPECT_TRUE(s.FitToText());
    EXPECT_EQ(s.GetLength(), 4);
    EXPECT_STREQ(s.GetText(), "xxxx");
}

TEST(VeltraneStringTest, GetTextTerminatesAFullyWrittenBuffer) {
    CVeltraneString s;
    ASSERT_TRUE(s.Reserve(4));
    std::memset(s.GetBuffer(), 'x', 5);  // all five bytes, terminator overwritten
    const char* pText = s.GetText();
    EXPECT_EQ(s.GetLength(), 4);
    ASSERT_NE(std::memchr(pText, 0, 5), nullptr);
    EXPECT_STREQ(pText, "xxxx");

    // A terminated text is handed out as it is, its reserved room included.
    CVeltraneString reserved("ab");
    ASSERT_TRUE(reserved.Reserve(10));
    const char* pBuffer = reserved.GetBuffer();
    EXPECT_EQ(reserved.GetText(), pBuffer);
    EXPECT_EQ(reserved.GetLength(), 10);
}

TEST(VeltraneStringTest, FormatStoresBoundedOutput) {
    const std::string longest(4095, '7');
    const struct {
        const char* pName;
        bool (*pFormat)(CVeltraneString&);
        bool bResult;
        std::string expected;
    } cases[] = {
        {"arguments", [](CVeltraneString& s) { return s.Format("%d-%s-%02x", 7, "x", 10); }, true,
         "7-x-0a"},
        {"64-bit", [](CVeltraneString& s) { return s.Format("%llu", 18446744073709551615ull); },
         true, "18446744073709551615"},
        {"longest", [](CVeltraneString& s) { return s.Format("%4095d", 7); }, true,
         std::string(4094, ' ') + "7"},
        {"empty output", [](CVeltraneString& s) { return s.Format("%s", ""); }, false, "previous"},
        {"one too long", [](CVeltraneString& s) { return s.Format("%4096d", 7); }, false,
         "previous"},
        {"far too long", [](CVeltraneString& s) { return s.Format("%9000d", 7); }, false,
         "previous"},
        {"null format", [](CVeltraneString& s) { return s.Format(nullptr); }, false, "previous"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pName);
        CVeltraneString s("previous");
        EXPECT_EQ(c.pFormat(s), c.bResult);
        EXPECT_EQ(s.GetLength(), static_cast<int>(c.expected.size()));
        EXPECT_EQ(std::string(s.GetText()), c.expected);
    }
}

TEST(VeltraneStringTest, LoadResourceTextRefusesMissingTexts) {
    for (int nID : {0, -1, 12345}) {
        SCOPED_TRACE(nID);
        CVeltraneString s("previous");
        EXPECT_FALSE(s.LoadResourceText(nID, nullptr));
        EXPECT_STREQ(s.GetText(), "previous");
    }
}

#ifndef _WIN32
TEST(VeltraneStringTest, LoadResourceTextFindsProgramTexts) {
    const struct {
        int nID;
        const char* pText;
    } cases[] = {
        {3000, "&About..."},
        {3003, "Quillon Idrovan"},
        {3004,
         "The computer ID could not be generated. Make sure you\nhave administrator rights on "
         "this computer."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nID);
        CVeltraneString s;
        EXPECT_TRUE(s.LoadResourceText(c.nID, nullptr));
        EXPECT_FALSE(s.IsWide());
        EXPECT_STREQ(s.GetText(), c.pText);
    }

    char szSmall[5] = "????";
    EXPECT_EQ(LoadStringTableText(nullptr, 3000, szSmall, sizeof(szSmall)), 4);
    EXPECT_STREQ(szSmall, "&Abo");
    EXPECT_EQ(LoadStringTableText(nullptr, 3000, nullptr, 10), 0);
}
#endif

TEST(VeltraneStringTest, FormConversionMapsBytesToUnits) {
    const char narrowBytes[] =
        "\x01"
        "A\x7f\x80\xe4\xff";
    CVeltraneString s(narrowBytes);
    EXPECT_FALSE(s.MakeNarrow());
    EXPECT_TRUE(s.MakeWide());
    EXPECT_FALSE(s.MakeWide());
    EXPECT_TRUE(s.IsWide());
    EXPECT_EQ(s.GetLength(), 6);
    const std::vector<unsigned> expectedUnits = {0x01, 0x41, 0x7f, 0x80, 0xe4, 0xff, 0};
    const VWCHAR* pWide = s.GetWideText();
    EXPECT_EQ(std::vector<unsigned>(pWide, pWide + 7), expectedUnits);
    EXPECT_TRUE(s.MakeNarrow());
    EXPECT_STREQ(s.GetBuffer(), narrowBytes);

    const VWCHAR beyondByte[] = {0x41, 0x100, 0x20ac, 0xffff, 0x42, 0};
    CVeltraneString w;
    ASSERT_TRUE(w.SetWideText(beyondByte));
    EXPECT_EQ(w.GetLength(), 5);
    EXPECT_STREQ(w.GetText(), "A???B");
    EXPECT_FALSE(w.IsWide());
    EXPECT_EQ(w.GetLength(), 5);
}

TEST(VeltraneStringTest, FormConversionKeepsReservedLength) {
    CVeltraneString s("ab");
    ASSERT_TRUE(s.Reserve(30));
    EXPECT_TRUE(s.MakeWide());
    EXPECT_EQ(s.GetLength(), 30);
    EXPECT_TRUE(s.MakeNarrow());
    EXPECT_EQ(s.GetLength(), 30);
    EXPECT_STREQ(s.GetBuffer(), "ab");

    CVeltraneString empty;
    EXPECT_EQ(*empty.GetWideText(), 0);
    EXPECT_TRUE(empty.IsWide());
    EXPECT_EQ(empty.GetLength(), 0);
}

TEST(VeltraneStringTest, HasNonAsciiLooksOnlyAtWideText) {
    const VWCHAR high[] = {'a', 0x80, 0};
    const VWCHAR beyondByte[] = {0x20ac, 0};
    const VWCHAR edge[] = {0x7f, 'z', 0};
    const struct {
        const char* pName;
        CVeltraneString value;
        bool bExpected;
    } cases[] = {
        {"narrow high bytes", CVeltraneString("\xe4\xff"), false},
        {"wide ascii", WideOf("plain"), false},
        {"wide 127", WideUnits(edge), false},
        {"wide 128", WideUnits(high), true},
        {"wide above a byte", WideUnits(beyondByte), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pName);
        EXPECT_EQ(c.value.HasNonAscii(), c.bExpected);
    }
}

TEST(VeltraneStringTest, IsEqualAcrossFormsAndSizes) {
    CVeltraneString reserved("abc");
    ASSERT_TRUE(reserved.Reserve(10));
    const struct {
        const char* pName;
        CVeltraneString left;
        CVeltraneString right;
        bool bExpected;
    } cases[] = {
        {"same text", CVeltraneString("abc"), CVeltraneString("abc"), true},
        {"narrow and wide", CVeltraneString("abc"), WideOf("abc"), true},
        {"wide and narrow", WideOf("abc"), CVeltraneString("abc"), true},
        {"other text", CVeltraneString("abc"), CVeltraneString("abd"), false},
        {"other case", CVeltraneString("abc"), WideOf("ABC"), false},
        {"prefix", CVeltraneString("abc"), CVeltraneString("ab"), false},
        {"empty forms", CVeltraneString(), WideOf(""), true},
        {"reserved", reserved, CVeltraneString("abc"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pName);
        const bool bLeftWide = c.left.IsWide();
        const bool bRightWide = c.right.IsWide();
        EXPECT_EQ(c.left.IsEqual(c.right), c.bExpected);
        EXPECT_EQ(c.right.IsEqual(c.left), c.bExpected);
        EXPECT_EQ(c.left.IsWide(), bLeftWide);
        EXPECT_EQ(c.right.IsWide(), bRightWide);
    }
    EXPECT_TRUE(reserved.FitToText());
    EXPECT_TRUE(reserved.IsEqual(CVeltraneString("abc")));
}

int Sign(int n) {
    return (n > 0) - (n < 0);
}

TEST(VeltraneStringTest, CompareNoCaseLowersOnlyAsciiLetters) {
    const struct {
        CVeltraneString left;
        CVeltraneString right;
        int nSign;
    } cases[] = {
        {CVeltraneString("abc"), CVeltraneString("ABC"), 0},
        {CVeltraneString(), CVeltraneString("x"), -1},
        {CVeltraneString("x"), CVeltraneString(), 1},
        {CVeltraneString(), WideOf(""), 0},
        {CVeltraneString("abc"), CVeltraneString("ABD"), -1},
        {CVeltraneString("abd"), CVeltraneString("ABC"), 1},
        {CVeltraneString("ab"), CVeltraneString("abc"), -1},
        {CVeltraneString("abc"), CVeltraneString("ab"), 1},
        {WideOf("ABC"), CVeltraneString("abc"), 0},
        {CVeltraneString("Abc"), WideOf("aBC"), 0},
        // '[' and '{' would be equal if more than A-Z were lowered; same for Latin-1 letters.
        {CVeltraneString("a["), CVeltraneString("A{"), -1},
        {CVeltraneString("\xc4"), CVeltraneString("\xe4"), -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TextOf(c.left) + " / " + TextOf(c.right));
        const bool bRightWide = c.right.IsWide();
        EXPECT_EQ(Sign(c.left.CompareNoCase(c.right)), c.nSign);
        EXPECT_EQ(c.right.IsWide(), bRightWide);
    }
}

TEST(VeltraneStringTest, Find) {
    const struct {
        const char* pText;
        const char* pPattern;
        int nStart;
        bool bIgnoreCase;
        int nExpected;
    } cases[] = {
        {"abcde", "", 3, false, 3},     {"abcde", "", 3, true, -1},
        {"ABC", "b", 0, true, 1},       {"ABC", "b", 0, false, -1},
        {"abcabc", "bc", 0, false, 1},  {"abcabc", "bc", 2, false, 4},
        {"aXbxc", "X", 2, true, 3},     {"abc", "c", 3, false, -1},
        {"abc", "c", 3, true, -1},      {"abc", "a", -1, false, -1},
        {"", "", 0, false, -1},         {"abc", "cd", 0, false, -1},
        {"abc", "cd", 0, true, -1},     {"abc", "abcd", 0, true, -1},
        {"abc", nullptr, 0, false, -1}, {"abc", nullptr, 0, true, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pText) + " / " + (c.pPattern ? c.pPattern : "(null)") +
                     " from " + std::to_string(c.nStart) + (c.bIgnoreCase ? " nocase" : ""));
        const CVeltraneString narrow(c.pText);
        EXPECT_EQ(narrow.Find(c.pPattern, c.nStart, c.bIgnoreCase), c.nExpected);
        const CVeltraneString wide = WideOf(c.pText);
        EXPECT_EQ(wide.Find(c.pPattern, c.nStart, c.bIgnoreCase), c.nExpected);
        EXPECT_TRUE(wide.IsWide());
    }
}

TEST(VeltraneStringTest, FindStaysInsideAReservedBuffer) {
    CVeltraneString s("abc");
    ASSERT_TRUE(s.Reserve(10));
    EXPECT_EQ(s.Find("", 6, false), 6);
    EXPECT_EQ(s.Find("c", 6, false), -1);
    EXPECT_EQ(s.Find("C", 1, true), 2);
    EXPECT_EQ(s.Find("cd", 0, true), -1);
}

TEST(VeltraneStringTest, SubstringTakesInclusiveRange) {
    const struct {
        int nFirst;
        int nLast;
        const char* pExpected;
    } cases[] = {
        {5, 4, ""},  {8, -1, ""},         {-1, 3, ""}, {2, 1000, "cdefgh"},
        {0, 0, "a"}, {0, -1, "abcdefgh"}, {3, -2, ""}, {7, 7, "h"},
    };
    const CVeltraneString narrow("abcdefgh");
    const CVeltraneString wide = WideOf("abcdefgh");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.nFirst) + ".." + std::to_string(c.nLast));
        const CVeltraneString fromNarrow = narrow.Substring(c.nFirst, c.nLast);
        EXPECT_FALSE(fromNarrow.IsWide());
        EXPECT_EQ(fromNarrow.GetLength(), static_cast<int>(std::strlen(c.pExpected)));
        EXPECT_EQ(TextOf(fromNarrow), c.pExpected);
        const CVeltraneString fromWide = wide.Substring(c.nFirst, c.nLast);
        EXPECT_EQ(fromWide.IsWide(), c.pExpected[0] != '\0');
        EXPECT_EQ(fromWide.GetLength(), static_cast<int>(std::strlen(c.pExpected)));
        EXPECT_EQ(TextOf(fromWide), c.pExpected);
    }
    EXPECT_EQ(TextOf(narrow), "abcdefgh");
    EXPECT_TRUE(wide.IsWide());

    const CVeltraneString hundred(std::string(100, 'q').c_str());
    EXPECT_EQ(hundred.Substring(0, 60).GetLength(), 61);
    EXPECT_EQ(hundred.Substring(61, -1).GetLength(), 39);
}

TEST(VeltraneStringTest, ReplaceAll) {
    const struct {
        const char* pText;
        const char* pPattern;
        const char* pReplacement;
        bool bIgnoreCase;
        bool bResult;
        const char* pExpected;
    } cases[] = {
        {"axb", "x", "xx", false, true, "axxb"},    {"abc", "z", "y", false, false, "abc"},
        {"a    b", "  ", " ", false, true, "a  b"}, {"aXbx", "x", "-", true, true, "a-b-"},
        {"aXbx", "x", "-", false, true, "aXb-"},    {"a,b,,c", ",", "", false, true, "abc"},
        {"xax", "x", "yy", false, true, "yyayy"},   {"xxx", "x", "", false, true, ""},
        {"abab", "ab", "ba", false, true, "baba"},  {"abc", "", "y", false, false, "abc"},
        {"abc", "", "y", true, false, "abc"},       {"abc", nullptr, "y", false, false, "abc"},
        {"abc", "b", nullptr, false, false, "abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pText) + " / " + (c.pPattern ? c.pPattern : "(null)") + " -> " +
                     (c.pReplacement ? c.pReplacement : "(null)"));
        CVeltraneString s(c.pText);
        EXPECT_EQ(s.ReplaceAll(c.pPattern, c.pReplacement, c.bIgnoreCase), c.bResult);
        EXPECT_FALSE(s.IsWide());
        EXPECT_EQ(s.GetLength(), static_cast<int>(std::strlen(c.pExpected)));
        EXPECT_STREQ(s.GetText(), c.pExpected);
    }

    CVeltraneString wide = WideOf("one two");
    EXPECT_TRUE(wide.ReplaceAll(" ", "--", false));
    EXPECT_FALSE(wide.IsWide());
    EXPECT_STREQ(wide.GetText(), "one--two");

    CVeltraneString untouched = WideOf("one");
    EXPECT_FALSE(untouched.ReplaceAll("x", "y", false));
    EXPECT_TRUE(untouched.IsWide());
}

TEST(VeltraneStringTest, AddBackslash) {
    CVeltraneString drive("C:");
    EXPECT_TRUE(drive.AddBackslash());
    EXPECT_STREQ(drive.GetText(), "C:\\");
    EXPECT_EQ(drive.GetLength(), 3);
    EXPECT_FALSE(drive.AddBackslash());
    EXPECT_STREQ(drive.GetText(), "C:\\");

    CVeltraneString empty;
    EXPECT_TRUE(empty.AddBackslash());
    EXPECT_STREQ(empty.GetText(), "\\");

    CVeltraneString wide = WideOf("C:");
    EXPECT_TRUE(wide.AddBackslash());
    EXPECT_FALSE(wide.IsWide());
    EXPECT_STREQ(wide.GetBuffer(), "C:\\");
    CVeltraneString wideEnding = WideOf("C:\\");
    EXPECT_FALSE(wideEnding.AddBackslash());
    EXPECT_TRUE(wideEnding.IsWide());
}

// The empty string marked wide by a refused CopyWideText: one byte, no room for a wide terminator.
CVeltraneString OneByteWide() {
    CVeltraneString s;
    EXPECT_FALSE(s.CopyWideText(Wide("x").c_str()));
    EXPECT_TRUE(s.IsWide());
    return s;
}

TEST(VeltraneStringTest, AppendJoinsTextsInTheRightForm) {
    const struct {
        const char* pName;
        CVeltraneString left;
        CVeltraneString right;
        bool bResult;
        bool bWide;
        const char* pExpected;
    } cases[] = {
        {"narrow + narrow", CVeltraneString("abc"), CVeltraneString("def"), true, false, "abcdef"},
        {"narrow + wide", CVeltraneString("abc"), WideOf("def"), true, true, "abcdef"},
        {"wide + narrow", WideOf("abc"), CVeltraneString("def"), true, false, "abcdef"},
        {"wide + wide", WideOf("abc"), WideOf("def"), true, true, "abcdef"},
        {"empty + text", CVeltraneString(), CVeltraneString("def"), true, false, "def"},
        {"narrow + empty wide", CVeltraneString("abc"), WideOf(""), false, false, "abc"},
        {"wide + empty", WideOf("abc"), CVeltraneString(), false, true, "abc"},
        // Counted as no buffer: the result gets a whole 16-bit terminator.
        {"one-byte wide + wide", OneByteWide(), WideOf("def"), true, true, "def"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pName);
        CVeltraneString s(c.left);
        EXPECT_EQ(s.Append(c.right), c.bResult);
        EXPECT_EQ(s.IsWide(), c.bWide);
        EXPECT_EQ(s.GetLength(), static_cast<int>(std::strlen(c.pExpected)));
        EXPECT_EQ(TextOf(s), c.pExpected);

        const CVeltraneString joined = c.left + c.right;
        EXPECT_EQ(TextOf(joined), c.pExpected);
        EXPECT_EQ(joined.IsWide(), c.bWide);
    }
}

TEST(VeltraneStringTest, AppendTextAndWideText) {
    CVeltraneString s("ab");
    EXPECT_FALSE(s.AppendText(""));
    EXPECT_FALSE(s.IsWide());
    EXPECT_FALSE(s.AppendWideText(Wide("").c_str()));
    EXPECT_TRUE(s.IsWide());
    EXPECT_EQ(TextOf(s), "ab");
    EXPECT_TRUE(s.AppendWideText(Wide("cd").c_str()));
    EXPECT_EQ(s.GetLength(), 4);
    EXPECT_TRUE(s.AppendText("e"));
    EXPECT_FALSE(s.IsWide());
    EXPECT_STREQ(s.GetBuffer(), "abcde");

    s += "f";
    s += CVeltraneString("g");
    EXPECT_STREQ(s.GetText(), "abcdefg");

    // Appending the object's own text or itself.
    s.AppendText(s.GetText());
    EXPECT_STREQ(s.GetText(), "abcdefgabcdefg");
    CVeltraneString twice("xy");
    EXPECT_TRUE(twice.Append(twice));
    twice += twice;
    EXPECT_STREQ(twice.GetText(), "xyxyxyxy");

    // The text goes behind the old text, not behind the reserved room.
    CVeltraneString reserved("abc");
    ASSERT_TRUE(reserved.Reserve(8));
    EXPECT_TRUE(reserved.AppendText("d"));
    EXPECT_STREQ(reserved.GetBuffer(), "abcd");

    // A one-byte buffer marked wide has no room for a wide terminator and counts as none.
    CVeltraneString oneByte = OneByteWide();
    EXPECT_TRUE(oneByte.AppendWideText(Wide("def").c_str()));
    EXPECT_EQ(oneByte.GetLength(), 3);
    EXPECT_EQ(TextOf(oneByte), "def");
}

// The object's own bytes, handed back as a narrow or a wide argument.
const char* Own(CVeltraneString& s, int nOffset) {
    return s.GetBuffer() + nOffset;
}

const VWCHAR* OwnWide(CVeltraneString& s, int nUnitOffset) {
    return reinterpret_cast<const VWCHAR*>(s.GetBuffer()) + nUnitOffset;
}

// An argument that points into the object's own buffer gives what the same text from elsewhere
// gives, although the operation replaces that buffer before it has finished reading the argument
// (a conversion comes first, or a loop stores its steps). AddressSanitizer reports a read of the
// released buffer; an argument without a terminator inside the buffer is read up to its end.
TEST(VeltraneStringTest, ArgumentsFromTheOwnBuffer) {
    const struct {
        const char* pName;
        CVeltraneString start;
        bool (*pOperation)(CVeltraneString&);
        bool bResult;
        bool bWide;
        int nLength;
        const char* pExpected;  // narrow form; '?' for a unit above 255
    } cases[] = {
        {"SetText of the tail", CVeltraneString("abcdef"),
         [](CVeltraneString& s) { return s.SetText(Own(s, 2)); }, true, false, 4, "cdef"},
        {"SetWideText of the tail", WideOf("abcdef"),
         [](CVeltraneString& s) { return s.SetWideText(OwnWide(s, 3)); }, true, true, 3, "def"},
        {"assignment of the tail", CVeltraneString("abcdef"),
         [](CVeltraneString& s) { return &(s = Own(s, 4)) == &s; }, true, false, 2, "ef"},
        {"CopyText of the tail", CVeltraneString("abcdef"),
         [](CVeltraneString& s) { return s.CopyText(Own(s, 2)); }, true, false, 6, "cdef"},
        // "abc" read as wide is 0x6261 0x0063 and no 16-bit terminator.
        {"CopyWideText of narrow bytes", CVeltraneString("abc"),
         [](CVeltraneString& s) { return s.CopyWideText(OwnWide(s, 0)); }, false, true, 1, "?"},
        {"AppendText of the whole text", CVeltraneString("ab"),
         [](CVeltraneString& s) { return s.AppendText(Own(s, 0)); }, true, false, 4, "abab"},
        {"+= of the tail", CVeltraneString("abc"),
         [](CVeltraneString& s) { return &(s += Own(s, 1)) == &s; }, true, false, 5, "abcbc"},
        // The wide bytes of "ab" read as narrow text are "a"; AppendText converts first.
        {"AppendText of wide bytes", WideOf("ab"),
         [](CVeltraneString& s) { return s.AppendText(Own(s, 0)); }, true, false, 3, "aba"},
        {"AppendWideText of the tail", WideOf("ab"),
         [](CVeltraneString& s) { return s.AppendWideText(OwnWide(s, 1)); }, true, true, 3, "abb"},
        // "abcd" read as wide is 0x6261 0x6463, then one byte: two units, no terminator.
        {"AppendWideText of narrow bytes", CVeltraneString("abcd"),
         [](CVeltraneString& s) { return s.AppendWideText(OwnWide(s, 0)); }, true, true, 6,
         "abcd??"},
        {"Append itself", CVeltraneString("xy"), [](CVeltraneString& s) { return s.Append(s); },
         true, false, 4, "xyxy"},
        {"Append itself, wide", WideOf("xy"), [](CVeltraneString& s) { return s.Append(s); }, true,
         true, 4, "xyxy"},
        {"+= itself", WideOf("xy"), [](CVeltraneString& s) { return &(s += s) == &s; }, true, true,
         4, "xyxy"},
        {"itself + itself", CVeltraneString("xy"),
         [](CVeltraneString& s) { return s.Assign(s + s); }, true, false, 4, "xyxy"},
        {"assignment of itself", CVeltraneString("xy"),
         [](CVeltraneString& s) { return &(s = s) == &s; }, true, false, 2, "xy"},
        {"Format of the own text", CVeltraneString("abc"),
         [](CVeltraneString& s) { return s.Format("%s+%s", Own(s, 0), Own(s, 1)); }, true, false, 6,
         "abc+bc"},
        {"ReplaceAll, pattern from the text", CVeltraneString("abab"),
         [](CVeltraneString& s) { return s.ReplaceAll(Own(s, 3), "-", false); }, true, false, 4,
         "a-a-"},
        {"ReplaceAll, replacement from the text", CVeltraneString("x.y."),
         [](CVeltraneString& s) { return s.ReplaceAll(".", Own(s, 2), false); }, true, false, 6,
         "xy.yy."},
        {"ReplaceAll, both from the text", CVeltraneString("a.a"),
         [](CVeltraneString& s) { return s.ReplaceAll(Own(s, 2), Own(s, 1), true); }, true, false,
         5, ".a..a"},
        {"ReplaceAll of wide bytes", WideOf("ab"),
         [](CVeltraneString& s) { return s.ReplaceAll(Own(s, 0), "A", false); }, true, false, 2,
         "Ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pName);
        CVeltraneString s(c.start);
        EXPECT_EQ(c.pOperation(s), c.bResult);
        EXPECT_EQ(s.IsWide(), c.bWide);
        EXPECT_EQ(s.GetLength(), c.nLength);
        EXPECT_EQ(TextOf(s), c.pExpected);
    }

    // Without memory for the copy the operation is refused and the text stays.
    CVeltraneString s("ab-");
    {
        ScopedAllocationFailure failure(0);
        EXPECT_FALSE(s.ReplaceAll(Own(s, 2), "+", false));
        EXPECT_FALSE(s.AppendWideText(OwnWide(s, 0)));
    }
    EXPECT_FALSE(s.IsWide());
    EXPECT_STREQ(s.GetText(), "ab-");
}

TEST(VeltraneStringTest, FailedAllocationLeavesNoBuffer) {
    // nSucceeding: allocations the operation's own argument needs (empty buffer, then text).
    const struct {
        const char* pName;
        int nSucceeding;
        bool (*pOperation)(CVeltraneString&);
    } cases[] = {
        {"SetText", 0, [](CVeltraneString& s) { return s.SetText("new text"); }},
        {"SetWideText", 0, [](CVeltraneString& s) { return s.SetWideText(Wide("new").c_str()); }},
        {"Empty", 0, [](CVeltraneString& s) { return s.Empty(); }},
        {"Allocate", 0, [](CVeltraneString& s) { return s.Allocate(8); }},
        {"Grow", 0, [](CVeltraneString& s) { return s.Grow(100); }},
        {"Reserve", 0, [](CVeltraneString& s) { return s.Reserve(100); }},
        {"MakeWide", 0, [](CVeltraneString& s) { return s.MakeWide(); }},
        {"AppendText", 0, [](CVeltraneString& s) { return s.AppendText("more"); }},
        {"Append", 2, [](CVeltraneString& s) { return s.Append(CVeltraneString("more")); }},
        {"Assign", 2, [](CVeltraneString& s) { return s.Assign(CVeltraneString("other")); }},
        {"FitToText", 0, [](CVeltraneString& s) { return s.FitToText(); }},
        {"Format", 0, [](CVeltraneString& s) { return s.Format("%d", 42); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pName);
        CVeltraneString s("old text");
        {
            ScopedAllocationFailure failure(c.nSucceeding);
            EXPECT_FALSE(c.pOperation(s));
            // The accessors still hand out an empty text, never null.
            EXPECT_STREQ(s.GetText(), "");
            EXPECT_EQ(*s.GetWideText(), 0);
        }
        ExpectWithoutBuffer(s);
        EXPECT_TRUE(s.SetText("again"));
        EXPECT_STREQ(s.GetText(), "again");
    }

    CVeltraneString wide = WideOf("wide");
    {
        ScopedAllocationFailure failure(0);
        EXPECT_FALSE(wide.MakeNarrow());
        EXPECT_STREQ(wide.GetText(), "");
    }
    ExpectWithoutBuffer(wide);
}

TEST(VeltraneStringTest, ReplaceAllReportsFailedAllocation) {
    // Fail each allocation in turn until the whole replacement gets through.
    bool bResult = false;
    int nSucceeding = 0;
    for (; !bResult && nSucceeding < 200; ++nSucceeding) {
        SCOPED_TRACE(nSucceeding);
        CVeltraneString s("a-b-c");
        {
            ScopedAllocationFailure failure(nSucceeding);
            bResult = s.ReplaceAll("-", "+", false);
        }
        const std::string text = TextOf(s);
        if (bResult) {
            EXPECT_EQ(text, "a+b+c");
        } else {
            // Stopped after a whole step, or without a buffer: never a text with a lost piece.
            EXPECT_TRUE(text == "a-b-c" || text == "a+b-c" || text.empty()) << text;
        }
    }
    EXPECT_TRUE(bResult);
    EXPECT_GT(nSucceeding, 10);
}

TEST(VeltraneStringTest, AppendWideTextToAWideBufferOfOddSize) {
    // Wide text copied into a 9-byte buffer: what is appended follows the old text's units.
    CVeltraneString s("abcdefgh");
    ASSERT_TRUE(s.CopyWideText(Wide("xyz").c_str()));
    ASSERT_TRUE(s.IsWide());
    EXPECT_TRUE(s.AppendWideText(Wide("de").c_str()));
    EXPECT_EQ(s.GetLength(), 5);
    EXPECT_EQ(TextOf(s), "xyzde");
}

TEST(VeltraneStringTest, WideLengthAndConversionAcceptNull) {
    EXPECT_EQ(WideTextLength(nullptr), 0);
    EXPECT_EQ(WideTextLength(Wide("four").c_str()), 4);
    VWCHAR unit = 'x';
    ConvertNarrowToWide(nullptr, 3, &unit);
    ConvertWideToNarrow(nullptr, 3, nullptr);
    EXPECT_EQ(unit, static_cast<VWCHAR>('x'));
}

}  // namespace
