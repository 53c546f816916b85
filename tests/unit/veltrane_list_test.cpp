#include "support/veltrane_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/veltrane_list_iterator.h"
#include "support/veltrane_string.h"

namespace {

// Reads a list through the elements' own links, from the tail: that moves no current element.
std::vector<CVeltraneListElement*> Chain(const CVeltraneList& list) {
    std::vector<CVeltraneListElement*> chain;
    for (CVeltraneListElement* pElement = list.GetTailElement(); pElement != nullptr;
         pElement = pElement->GetPrev()) {
        chain.insert(chain.begin(), pElement);
    }
    return chain;
}

std::vector<void*> Values(const CVeltraneList& list) {
    std::vector<void*> values;
    for (CVeltraneListElement* pElement : Chain(list)) {
        values.push_back(pElement->GetValue());
    }
    return values;
}

// Position of an element in the list, -1 for null (and -2 for an element not in the list).
int PositionOf(const CVeltraneList& list, const CVeltraneListElement* pElement) {
    if (pElement == nullptr) {
        return -1;
    }
    const std::vector<CVeltraneListElement*> chain = Chain(list);
    for (size_t i = 0; i < chain.size(); ++i) {
        if (chain[i] == pElement) {
            return static_cast<int>(i);
        }
    }
    return -2;
}

std::string TextOf(const void* pValue) {
    if (pValue == nullptr) {
        return "(null)";
    }
    CVeltraneString copy(*static_cast<const CVeltraneString*>(pValue));
    return copy.GetText();
}

// A raw list (no value type) over four integers a, b, c, d.
struct RawList {
    int32_t values[4] = {10, 20, 30, 40};
    int32_t absent = 99;
    CVeltraneList list;
    RawList() {
        for (int32_t& value : values) {
            list.AddTail(&value);
        }
    }
    void* At(int nIndex) { return &values[nIndex]; }
};

// ---------------------------------------------------------------------------------------------
// Built-in value types

struct IntegerCase {
    typedef int32_t Value;
    static PFN_VELTRANE_VALUE_TYPE Function() { return &CVeltraneList::IntegerValueType; }
    static constexpr void (CVeltraneList::*kSetter)() = &CVeltraneList::SetIntegerValues;
    static Value Sample() { return 7; }
    static std::vector<Value> Others() { return {-7, 8}; }
};

struct PairCase {
    typedef VELTRANE_PAIR Value;
    static PFN_VELTRANE_VALUE_TYPE Function() { return &CVeltraneList::PairValueType; }
    static constexpr void (CVeltraneList::*kSetter)() = &CVeltraneList::SetPairValues;
    static Value Sample() { return {1, 2}; }
    // One differs in the first member only, one in the second only.
    static std::vector<Value> Others() { return {{3, 2}, {1, 3}}; }
};

struct DoubleCase {
    typedef double Value;
    static PFN_VELTRANE_VALUE_TYPE Function() { return &CVeltraneList::DoubleValueType; }
    static constexpr void (CVeltraneList::*kSetter)() = &CVeltraneList::SetDoubleValues;
    static Value Sample() { return 2.5; }
    static std::vector<Value> Others() { return {-2.5, 2.5000001}; }
};

struct StringCase {
    typedef CVeltraneString Value;
    static PFN_VELTRANE_VALUE_TYPE Function() { return &CVeltraneList::StringValueType; }
    static constexpr void (CVeltraneList::*kSetter)() = &CVeltraneList::SetStringValues;
    static Value Sample() { return CVeltraneString("line"); }
    static std::vector<Value> Others() {
        return {CVeltraneString("lina"), CVeltraneString("lines")};
    }
};

template <typename Case>
class VeltraneListValueTypeTest : public ::testing::Test {};

typedef ::testing::Types<IntegerCase, PairCase, DoubleCase, StringCase> BuiltInCases;
TYPED_TEST_SUITE(VeltraneListValueTypeTest, BuiltInCases);

TYPED_TEST(VeltraneListValueTypeTest, OperationCodes) {
    typedef typename TypeParam::Value Value;
    const PFN_VELTRANE_VALUE_TYPE pfn = TypeParam::Function();
    const Value defaultValue{};
    const Value sample = TypeParam::Sample();

    void* pSlot = nullptr;
    ASSERT_TRUE(pfn(VALUE_TYPE_CREATE, &pSlot, nullptr));
    ASSERT_NE(pSlot, nullptr);
    EXPECT_TRUE(pfn(VALUE_TYPE_EQUAL, &pSlot, &defaultValue));
    EXPECT_FALSE(pfn(VALUE_TYPE_EQUAL, &pSlot, &sample));

    EXPECT_TRUE(pfn(VALUE_TYPE_ASSIGN, &pSlot, &sample));
    EXPECT_TRUE(pfn(VALUE_TYPE_EQUAL, &pSlot, &sample));
    for (const Value& other : TypeParam::Others()) {
        EXPECT_FALSE(pfn(VALUE_TYPE_EQUAL, &pSlot, &other));
    }
    EXPECT_FALSE(pfn(VALUE_TYPE_ASSIGN, &pSlot, nullptr));
    EXPECT_FALSE(pfn(VALUE_TYPE_EQUAL, &pSlot, nullptr));
    EXPECT_TRUE(pfn(VALUE_TYPE_EQUAL, &pSlot, &sample)) << "a refused assignment changed the value";

    void* const pKept = pSlot;
    for (int nCode : {-1, 4, 100}) {
        EXPECT_FALSE(pfn(nCode, &pSlot, &sample)) << "code " << nCode;
        EXPECT_EQ(pSlot, pKept);
    }
    for (int nCode = VALUE_TYPE_CREATE; nCode <= VALUE_TYPE_EQUAL; ++nCode) {
        EXPECT_FALSE(pfn(nCode, nullptr, &sample)) << "null slot, code " << nCode;
    }

    EXPECT_TRUE(pfn(VALUE_TYPE_DESTROY, &pSlot, nullptr));
    EXPECT_EQ(pSlot, nullptr);
    // An emptied slot can be destroyed again, but holds nothing to assign to or compare.
    EXPECT_TRUE(pfn(VALUE_TYPE_DESTROY, &pSlot, nullptr));
    EXPECT_FALSE(pfn(VALUE_TYPE_ASSIGN, &pSlot, &sample));
    EXPECT_FALSE(pfn(VALUE_TYPE_EQUAL, &pSlot, &sample));
}

TYPED_TEST(VeltraneListValueTypeTest, ListOwnsCopiesAndFindsThemByContent) {
    typedef typename TypeParam::Value Value;
    CVeltraneList list;
    (list.*TypeParam::kSetter)();
    EXPECT_EQ(list.GetValueType(), TypeParam::Function());
    EXPECT_EQ(list.HasPairValues(), TypeParam::Function() == &CVeltraneList::PairValueType);

    Value first = TypeParam::Sample();
    std::vector<Value> others = TypeParam::Others();
    ASSERT_TRUE(list.AddTailCopy(&first));
    ASSERT_TRUE(list.AddTailCopy(&others[1]));
    ASSERT_TRUE(list.AddHeadCopy(&others[0]));
    ASSERT_EQ(list.GetCount(), 3);
    for (void* pStored : Values(list)) {
        EXPECT_NE(pStored, &first);
        EXPECT_NE(pStored, &others[0]);
        EXPECT_NE(pStored, &others[1]);
    }

    // A separate object with equal content finds the copy.
    const Value probe = TypeParam::Others()[1];
    CVeltraneListElement* pFound = list.FindElement(&probe);
    EXPECT_EQ(PositionOf(list, pFound), 2);
    EXPECT_EQ(list.GetCurrentElement(), pFound);
    const Value sample = TypeParam::Sample();
    EXPECT_EQ(PositionOf(list, list.FindElement(&sample)), 1);

    EXPECT_TRUE(list.DeleteValue(&sample));
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.FindElement(&sample), nullptr);
    EXPECT_TRUE(list.DeleteAll());
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(VeltraneListValueTypes, NotANumberIsNeverEqual) {
    const double nan = std::nan("");
    CVeltraneList list;
    list.SetDoubleValues();
    ASSERT_TRUE(list.AddTailCopy(&nan));
    EXPECT_EQ(list.FindElement(&nan), nullptr);
    EXPECT_FALSE(list.DeleteValue(&nan));
    EXPECT_TRUE(list.DeleteAll());
}

TEST(VeltraneListValueTypes, StringsMatchAcrossFormsAndOnlyByPointerWithoutValueType) {
    CVeltraneString narrow("abc");
    CVeltraneString wide("abc");
    ASSERT_TRUE(wide.MakeWide());
    CVeltraneString sameText("abc");

    CVeltraneList owned;
    owned.SetStringValues();
    ASSERT_TRUE(owned.AddTailCopy(&narrow));
    EXPECT_NE(owned.FindElement(&wide), nullptr);
    EXPECT_NE(owned.FindElement(&sameText), nullptr);
    owned.DeleteAll();

    CVeltraneList raw;
    ASSERT_TRUE(raw.AddTail(&narrow));
    EXPECT_EQ(raw.FindElement(&sameText), nullptr);
    EXPECT_EQ(PositionOf(raw, raw.FindElement(&narrow)), 0);
}

// ---------------------------------------------------------------------------------------------
// Ownership of values, counted with a value type of the test's own

struct Tracked {
    int32_t nContent;
};

std::set<void*> g_live;  // tracked values created and not yet destroyed
int g_nDestroyed = 0;
bool g_bRefuseDestroy = false;

bool TrackedValueType(int nOperation, void** ppSlot, const void* pValue) {
    if (ppSlot == nullptr) {
        return false;
    }
    switch (nOperation) {
        case VALUE_TYPE_CREATE:
            *ppSlot = new Tracked{0};
            g_live.insert(*ppSlot);
            return true;
        case VALUE_TYPE_DESTROY:
            if (g_bRefuseDestroy) {
                return false;
            }
            if (*ppSlot != nullptr) {
                EXPECT_EQ(g_live.erase(*ppSlot), 1u) << "destroyed twice or never created";
                ++g_nDestroyed;
            }
            delete static_cast<Tracked*>(*ppSlot);
            *ppSlot = nullptr;
            return true;
        case VALUE_TYPE_ASSIGN:
            if (pValue == nullptr || *ppSlot == nullptr) {
                return false;
            }
            static_cast<Tracked*>(*ppSlot)->nContent =
                static_cast<const Tracked*>(pValue)->nContent;
            return true;
        case VALUE_TYPE_EQUAL:
            return pValue != nullptr && *ppSlot != nullptr &&
                   static_cast<Tracked*>(*ppSlot)->nContent ==
                       static_cast<const Tracked*>(pValue)->nContent;
        default:
            return false;
    }
}

class VeltraneListOwnershipTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_live.clear();
        g_nDestroyed = 0;
        g_bRefuseDestroy = false;
        m_pList.reset(new CVeltraneList);
        m_pList->SetValueType(&TrackedValueType);
        for (int32_t n : {1, 2, 3}) {
            Tracked value{n};
            ASSERT_TRUE(m_pList->AddTailCopy(&value));
        }
    }
    void TearDown() override {
        g_bRefuseDestroy = false;
        if (m_pList) {
            m_pList->DeleteAll();
        }
        // Whatever the list let go of is the caller's to destroy.
        while (!g_live.empty()) {
            void* pValue = *g_live.begin();
            TrackedValueType(VALUE_TYPE_DESTROY, &pValue, nullptr);
        }
    }
    std::unique_ptr<CVeltraneList> m_pList;
};

TEST_F(VeltraneListOwnershipTest, EachOperationDestroysExactlyWhatItOwns) {
    struct Row {
        const char* pName;
        std::function<bool(std::unique_ptr<CVeltraneList>&)> operation;
        bool bResult;
        int nDestroyed;
        int nCountAfter;
    };
    const Tracked two{2};
    const Tracked absent{9};
    const Row rows[] = {
        {"DeleteValue", [&](auto& p) { return p->DeleteValue(&two); }, true, 1, 2},
        {"DeleteValue absent", [&](auto& p) { return p->DeleteValue(&absent); }, false, 0, 3},
        {"Delete", [&](auto& p) { return p->Delete(&two); }, true, 1, 2},
        {"DeleteAll", [](auto& p) { return p->DeleteAll(); }, true, 3, 0},
        {"SetValueType", [](auto& p) { return p->SetValueType(nullptr), true; }, true, 3, 0},
        {"Remove", [&](auto& p) { return p->Remove(&two); }, true, 0, 2},
        {"RemoveHead", [](auto& p) { return p->RemoveHead() != nullptr; }, true, 0, 2},
        {"RemoveAll", [](auto& p) { return p->RemoveAll(); }, true, 0, 0},
        {"SetAt",
         [](auto& p) {
             void* pReplacement = nullptr;
             TrackedValueType(VALUE_TYPE_CREATE, &pReplacement, nullptr);
             return p->SetAt(0, pReplacement);
         },
         true, 0, 3},
        {"destructor", [](auto& p) { return p.reset(), true; }, true, 0, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pName);
        TearDown();
        SetUp();
        EXPECT_EQ(row.operation(m_pList), row.bResult);
        EXPECT_EQ(g_nDestroyed, row.nDestroyed);
        if (m_pList) {
            EXPECT_EQ(m_pList->GetCount(), row.nCountAfter);
        }
    }
}

TEST_F(VeltraneListOwnershipTest, FailedCopyLeavesNoValueBehind) {
    EXPECT_FALSE(m_pList->AddTailCopy(nullptr));
    EXPECT_FALSE(m_pList->AddHeadCopy(nullptr));
    EXPECT_FALSE(m_pList->Add(nullptr));
    EXPECT_EQ(m_pList->GetCount(), 3);
    EXPECT_EQ(g_nDestroyed, 3) << "each value made for a refused copy is destroyed";
    EXPECT_EQ(g_live.size(), 3u);
}

TEST_F(VeltraneListOwnershipTest, RefusedDestroyKeepsTheElement) {
    const Tracked two{2};
    g_bRefuseDestroy = true;
    EXPECT_FALSE(m_pList->DeleteValue(&two));
    EXPECT_EQ(m_pList->GetCount(), 3);
    EXPECT_NE(m_pList->FindElement(&two), nullptr);
}

TEST(VeltraneListOwnership, AddAndDeleteFallBackOnlyWithoutValueType) {
    int32_t value = 5;
    CVeltraneList raw;
    EXPECT_TRUE(raw.Add(&value));
    EXPECT_EQ(raw.GetHead(), &value);
    EXPECT_TRUE(raw.Delete(&value));
    EXPECT_EQ(raw.GetCount(), 0);

    CVeltraneList owned;
    owned.SetIntegerValues();
    EXPECT_TRUE(owned.Add(&value));
    ASSERT_NE(owned.GetHead(), nullptr);
    EXPECT_NE(owned.GetHead(), &value);
    EXPECT_EQ(*static_cast<int32_t*>(owned.GetHead()), 5);
    EXPECT_TRUE(owned.Delete(&value));
    EXPECT_EQ(owned.GetCount(), 0);
}

TEST(VeltraneListOwnership, ChangingTheValueTypeDestroysFiveOwnedStrings) {
    // LeakSanitizer reports any string left behind; ASan a string destroyed twice.
    CVeltraneList list;
    list.SetStringValues();
    for (const char* pText : {"a", "bb", "ccc", "dddd", "eeeee"}) {
        CVeltraneString line(pText);
        ASSERT_TRUE(list.AddTailCopy(&line));
    }
    list.SetIntegerValues();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetValueType(), &CVeltraneList::IntegerValueType);
    EXPECT_FALSE(list.DeleteAll());
}

// ---------------------------------------------------------------------------------------------
// Nested iteration

TEST(VeltraneListIteration, LinesComeBackInOrderThenNullForEveryFurtherCall) {
    CVeltraneList list;
    list.SetStringValues();
    for (const char* pText : {"one", "two", "three"}) {
        CVeltraneString line(pText);
        ASSERT_TRUE(list.AddTailCopy(&line));
    }
    std::vector<std::string> seen;
    for (void* pValue = list.BeginIteration(); pValue != nullptr; pValue = list.IterateNext()) {
        seen.push_back(TextOf(pValue));
        ASSERT_NE(list.GetCurrentElement(), nullptr);
        EXPECT_EQ(list.GetCurrentElement()->GetValue(), pValue);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two", "three"}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list.IterateNext(), nullptr);
    }
    EXPECT_EQ(list.GetIterationDepth(), 1);
    EXPECT_TRUE(list.EndIteration());
    EXPECT_EQ(list.GetIterationDepth(), 0);
    EXPECT_EQ(list.GetIteratorCount(), 0);
    list.DeleteAll();
}

TEST(VeltraneListIteration, EmptyListKeepsItsIterationOpenUntilEnded) {
    CVeltraneList list;
    EXPECT_EQ(list.IterateNext(), nullptr);
    EXPECT_FALSE(list.EndIteration());
    EXPECT_EQ(list.BeginIteration(), nullptr);
    EXPECT_EQ(list.GetIterationDepth(), 1);
    EXPECT_EQ(list.IterateNext(), nullptr);
    EXPECT_EQ(list.GetIterationDepth(), 1);
    EXPECT_TRUE(list.EndIteration());
    EXPECT_EQ(list.GetIterationDepth(), 0);
    EXPECT_FALSE(list.EndIteration());
}

TEST(VeltraneListIteration, InnerIterationStartsOverAndOuterResumes) {
    RawList raw;
    CVeltraneList& list = raw.list;
    EXPECT_EQ(list.BeginIteration(), raw.At(0));
    EXPECT_EQ(list.IterateNext(), raw.At(1));

    EXPECT_EQ(list.BeginIteration(), raw.At(0));
    EXPECT_EQ(list.GetIterationDepth(), 2);
    EXPECT_EQ(list.IterateNext(), raw.At(1));
    EXPECT_EQ(list.IterateNext(), raw.At(2));
    EXPECT_TRUE(list.EndIteration());

    EXPECT_EQ(list.IterateNext(), raw.At(2));
    EXPECT_EQ(list.IterateNext(), raw.At(3));
    EXPECT_EQ(list.IterateNext(), nullptr);
    EXPECT_TRUE(list.EndIteration());
}

// ---------------------------------------------------------------------------------------------
// Removal and the attached iterators

TEST(VeltraneListRemoval, RemovalResetsEveryAttachedIteratorAndOpenIteration) {
    struct Row {
        const char* pName;
        std::function<bool(CVeltraneList&)> operation;
        bool bResult;
        bool bResets;
    };
    const int32_t third = 30;
    const int32_t absent = 99;
    // Remove and RemoveHead hand the owned value back to the caller.
    auto release = [](void* pValue) {
        CVeltraneList::IntegerValueType(VALUE_TYPE_DESTROY, &pValue, nullptr);
        return true;
    };
    const Row rows[] = {
        {"Remove",
         [&](CVeltraneList& l) {
             void* pValue = l.FindElement(&third)->GetValue();
             return l.Remove(&third) && release(pValue);
         },
         true, true},
        {"Remove absent", [&](CVeltraneList& l) { return l.Remove(&absent); }, false, true},
        {"RemoveHead", [&](CVeltraneList& l) { return release(l.RemoveHead()); }, true, true},
        {"DeleteValue", [&](CVeltraneList& l) { return l.DeleteValue(&third); }, true, true},
        {"DeleteValue absent", [&](CVeltraneList& l) { return l.DeleteValue(&absent); }, false,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pName);
        CVeltraneList list;
        list.SetIntegerValues();
        for (int32_t n : {10, 20, 30, 40}) {
            ASSERT_TRUE(list.AddTailCopy(&n));
        }
        CVeltraneListIterator middle;
        CVeltraneListIterator last;
        middle.Attach(&list);
        last.Attach(&list);
        middle.GoTo(1);
        last.Last();
        list.BeginIteration();
        list.IterateNext();
        ASSERT_EQ(list.GetIteratorCount(), 3);
        CVeltraneListElement* const pMiddle = middle.GetCurrentElement();

        EXPECT_EQ(row.operation(list), row.bResult);

        void* const pHead = list.GetHead();
        EXPECT_EQ(middle.GetValue() == pHead, row.bResets);
        EXPECT_EQ(last.GetValue() == pHead, row.bResets);
        if (!row.bResets) {
            EXPECT_EQ(middle.GetCurrentElement(), pMiddle);
            EXPECT_EQ(last.GetCurrentElement(), list.GetTailElement());
        }
        // The open iteration continues from the first value after a reset.
        EXPECT_EQ(list.IterateNext() == pHead, row.bResets);
        list.EndIteration();
        list.DeleteAll();
    }
}

TEST(VeltraneListRemoval, RemoveAllLeavesIteratorsWithoutElement) {
    RawList raw;
    CVeltraneListIterator iterator;
    ASSERT_TRUE(iterator.Attach(&raw.list));
    EXPECT_TRUE(raw.list.RemoveAll());
    EXPECT_EQ(iterator.GetCurrentElement(), nullptr);
    EXPECT_EQ(iterator.GetList(), &raw.list);
    EXPECT_FALSE(raw.list.RemoveAll());
}

TEST(VeltraneListRemoval, IteratorThatRemovesEndsOnTheFirstElement) {
    RawList raw;
    CVeltraneListIterator iterator;
    iterator.Attach(&raw.list);
    iterator.GoTo(2);
    EXPECT_TRUE(iterator.Remove(raw.At(2)));
    EXPECT_EQ(iterator.GetValue(), raw.At(0));
    EXPECT_EQ(Values(raw.list), (std::vector<void*>{raw.At(0), raw.At(1), raw.At(3)}));
    EXPECT_FALSE(iterator.Remove(&raw.absent));
    EXPECT_FALSE(iterator.DeleteValue(raw.At(0))) << "no value type";
}

// ---------------------------------------------------------------------------------------------
// The list's current element

TEST(VeltraneListCurrent, CurrentElementAfterEachOperation) {
    struct Row {
        const char* pName;
        std::function<void(RawList&)> operation;
        int nCurrent;  // position, -1 for none
        std::vector<int> remaining;
    };
    const Row rows[] = {
        {"Remove of the third", [](RawList& r) { r.list.Remove(r.At(2)); }, 1, {0, 1, 3}},
        {"Remove of the first", [](RawList& r) { r.list.Remove(r.At(0)); }, -1, {1, 2, 3}},
        {"Remove of an absent value",
         [](RawList& r) {
             r.list.GetAt(1);
             r.list.Remove(&r.absent);
         },
         -1,
         {0, 1, 2, 3}},
        {"RemoveHead while current",
         [](RawList& r) {
             r.list.MoveFirst();
             r.list.RemoveHead();
         },
         -1,
         {1, 2, 3}},
        {"RemoveHead with another current",
         [](RawList& r) {
             r.list.GetAt(2);
             r.list.RemoveHead();
         },
         1,
         {1, 2, 3}},
        {"GetElementAt on a fresh list",
         [](RawList& r) {
             r.list.MoveFirst();
             r.list.GetElementAt(2);
         },
         -1,
         {0, 1, 2, 3}},
        {"GetAt", [](RawList& r) { r.list.GetAt(2); }, 2, {0, 1, 2, 3}},
        {"GetElementAt with the index built",
         [](RawList& r) {
             r.list.GetAt(1);
             r.list.GetElementAt(3);
         },
         1,
         {0, 1, 2, 3}},
        {"GetElementAt after an insertion",
         [](RawList& r) {
             r.list.GetAt(1);
             r.list.AddTail(&r.absent);
             EXPECT_EQ(r.list.GetElementAt(4), r.list.GetTailElement());
         },
         -1,
         {0, 1, 2, 3, -1}},
        {"MoveNext behind the last",
         [](RawList& r) {
             r.list.GetAt(3);
             EXPECT_EQ(r.list.MoveNext(), nullptr);
             EXPECT_EQ(r.list.MoveNext(), nullptr);
         },
         -1,
         {0, 1, 2, 3}},
        {"MovePrev before the first",
         [](RawList& r) {
             r.list.MoveFirst();
             EXPECT_EQ(r.list.MovePrev(), nullptr);
             EXPECT_EQ(r.list.MovePrev(), nullptr);
         },
         -1,
         {0, 1, 2, 3}},
        {"SetAt rebuilding the index",
         [](RawList& r) { r.list.SetAt(1, &r.absent); },
         -1,
         {0, -1, 2, 3}},
        {"SetCurrentElement of a foreign element",
         [](RawList& r) {
             RawList other;
             r.list.GetAt(1);
             r.list.SetCurrentElement(other.list.GetTailElement());
         },
         1,
         {0, 1, 2, 3}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pName);
        RawList raw;
        row.operation(raw);
        EXPECT_EQ(PositionOf(raw.list, raw.list.GetCurrentElement()), row.nCurrent);
        std::vector<void*> expected;
        for (int n : row.remaining) {
            expected.push_back(n >= 0 ? raw.At(n) : &raw.absent);
        }
        EXPECT_EQ(Values(raw.list), expected);
        EXPECT_EQ(raw.list.GetCount(), static_cast<int>(expected.size()));
    }
}

// ---------------------------------------------------------------------------------------------
// Refused input and the empty list

TEST(VeltraneListRefusals, NullForeignAndOutOfRangeArgumentsChangeNothing) {
    struct Row {
        const char* pName;
        std::function<bool(RawList&, CVeltraneList&)> refused;
    };
    const Row rows[] = {
        {"AddTail null", [](RawList& r, CVeltraneList&) { return !r.list.AddTail(nullptr); }},
        {"AddHead null", [](RawList& r, CVeltraneList&) { return !r.list.AddHead(nullptr); }},
        {"InsertAfter null element",
         [](RawList& r, CVeltraneList&) { return !r.list.InsertAfter(nullptr, &r.absent); }},
        {"InsertAfter null value",
         [](RawList& r, CVeltraneList&) {
             return !r.list.InsertAfter(r.list.GetTailElement(), nullptr);
         }},
        {"InsertAfter foreign element",
         [](RawList& r, CVeltraneList& other) {
             return !r.list.InsertAfter(other.GetTailElement(), &r.absent);
         }},
        {"Remove null", [](RawList& r, CVeltraneList&) { return !r.list.Remove(nullptr); }},
        {"FindElement null",
         [](RawList& r, CVeltraneList&) { return r.list.FindElement(nullptr) == nullptr; }},
        {"GetPrevValue null",
         [](RawList& r, CVeltraneList&) { return r.list.GetPrevValue(nullptr) == nullptr; }},
        {"GetNextValue null",
         [](RawList& r, CVeltraneList&) { return r.list.GetNextValue(nullptr) == nullptr; }},
        {"SwapValues null",
         [](RawList& r, CVeltraneList&) { return !r.list.SwapValues(nullptr, r.At(0)); }},
        {"SwapValues same pointer",
         [](RawList& r, CVeltraneList&) { return !r.list.SwapValues(r.At(1), r.At(1)); }},
        {"SetAt null", [](RawList& r, CVeltraneList&) { return !r.list.SetAt(0, nullptr); }},
        {"SetAt past the end",
         [](RawList& r, CVeltraneList&) { return !r.list.SetAt(4, &r.absent); }},
        {"GetAt negative", [](RawList& r, CVeltraneList&) { return r.list.GetAt(-1) == nullptr; }},
        {"GetElementAt past the end",
         [](RawList& r, CVeltraneList&) { return r.list.GetElementAt(4) == nullptr; }},
        {"AddTailCopy without value type",
         [](RawList& r, CVeltraneList&) { return !r.list.AddTailCopy(&r.absent); }},
        {"AddHeadCopy without value type",
         [](RawList& r, CVeltraneList&) { return !r.list.AddHeadCopy(&r.absent); }},
        {"DeleteValue without value type",
         [](RawList& r, CVeltraneList&) { return !r.list.DeleteValue(r.At(0)); }},
        {"DeleteAll without value type",
         [](RawList& r, CVeltraneList&) { return !r.list.DeleteAll(); }},
        {"RegisterIterator null",
         [](RawList& r, CVeltraneList&) { return !r.list.RegisterIterator(nullptr); }},
        {"UnregisterIterator null",
         [](RawList& r, CVeltraneList&) { return !r.list.UnregisterIterator(nullptr); }},
        {"ReleaseIterators without any",
         [](RawList& r, CVeltraneList&) { return !r.list.ReleaseIterators(); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pName);
        RawList raw;
        RawList other;
        raw.list.GetAt(1);
        const std::vector<void*> before = Values(raw.list);
        EXPECT_TRUE(row.refused(raw, other.list));
        EXPECT_EQ(Values(raw.list), before);
        EXPECT_EQ(raw.list.GetCount(), 4);
        EXPECT_EQ(PositionOf(raw.list, raw.list.GetCurrentElement()), 1);
        EXPECT_EQ(Values(other.list).size(), 4u);
        EXPECT_EQ(other.list.GetCount(), 4);
    }
}

TEST(VeltraneListRefusals, EmptyListGivesNullFalseOrZero) {
    CVeltraneList list;
    list.SetIntegerValues();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.MoveFirst(), nullptr);
    EXPECT_EQ(list.GetHead(), nullptr);
    EXPECT_EQ(list.GetTail(), nullptr);
    EXPECT_EQ(list.GetTailElement(), nullptr);
    EXPECT_EQ(list.RemoveHead(), nullptr);
    EXPECT_EQ(list.GetAt(0), nullptr);
    EXPECT_EQ(list.GetElementAt(0), nullptr);
    EXPECT_FALSE(list.RemoveAll());
    EXPECT_FALSE(list.DeleteAll());
    EXPECT_FALSE(list.EndIteration());
    EXPECT_EQ(list.GetIteratorCount(), 0);
    EXPECT_EQ(list.GetCurrentElement(), nullptr);
}

TEST(VeltraneListSwap, SwapExchangesTheValuesOfTwoFoundElements) {
    RawList raw;
    EXPECT_TRUE(raw.list.SwapValues(raw.At(1), raw.At(3)));
    EXPECT_EQ(Values(raw.list), (std::vector<void*>{raw.At(0), raw.At(3), raw.At(2), raw.At(1)}));
    EXPECT_FALSE(raw.list.SwapValues(raw.At(0), &raw.absent));
    EXPECT_FALSE(raw.list.SwapValues(&raw.absent, raw.At(0)));
    EXPECT_EQ(Values(raw.list), (std::vector<void*>{raw.At(0), raw.At(3), raw.At(2), raw.At(1)}));

    CVeltraneList owned;
    owned.SetIntegerValues();
    for (int32_t n : {1, 2, 3}) {
        owned.AddTailCopy(&n);
    }
    const int32_t one = 1;
    const int32_t three = 3;
    EXPECT_TRUE(owned.SwapValues(&one, &three));
    EXPECT_EQ(*static_cast<int32_t*>(owned.GetHead()), 3);
    EXPECT_EQ(*static_cast<int32_t*>(owned.GetTail()), 1);
    owned.DeleteAll();
}

// ---------------------------------------------------------------------------------------------
// Iterators

TEST(VeltraneListIterator, RunsOffEitherEndAndRestartsFromTheOther) {
    RawList raw;
    CVeltraneListIterator iterator;
    EXPECT_TRUE(iterator.Attach(&raw.list));
    EXPECT_EQ(iterator.GetValue(), raw.At(0));
    EXPECT_EQ(iterator.GetCount(), 4);
    EXPECT_TRUE(iterator.Last());
    EXPECT_EQ(iterator.GetValue(), raw.At(3));
    ++iterator;
    EXPECT_EQ(iterator.GetCurrentElement(), nullptr);
    EXPECT_EQ(iterator.GetValue(), nullptr);
    iterator++;
    EXPECT_EQ(iterator.GetValue(), raw.At(0));
    --iterator;
    EXPECT_EQ(iterator.GetCurrentElement(), nullptr);
    iterator--;
    EXPECT_EQ(iterator.GetValue(), raw.At(3));
    EXPECT_EQ(iterator.GoTo(1), raw.At(1));
    EXPECT_EQ(iterator.GoTo(4), nullptr);
    EXPECT_EQ(iterator.GetValue(), raw.At(1));
}

TEST(VeltraneListIterator, InsertAfterGoesBehindTheCurrentOrTheFirstElement) {
    CVeltraneList list;
    CVeltraneListIterator iterator;
    int32_t values[3] = {1, 2, 3};
    EXPECT_FALSE(iterator.InsertAfter(&values[0])) << "detached";
    EXPECT_FALSE(iterator.Attach(&list));
    EXPECT_FALSE(iterator.InsertAfter(&values[0])) << "empty list";
    EXPECT_TRUE(iterator.AddTail(&values[0]));
    EXPECT_TRUE(iterator.InsertAfter(&values[2]));  // no current element: behind the first
    EXPECT_TRUE(iterator.GoTo(0) != nullptr);
    EXPECT_TRUE(iterator.InsertAfter(&values[1]));
    EXPECT_EQ(Values(list), (std::vector<void*>{&values[0], &values[1], &values[2]}));
    EXPECT_EQ(list.GetTailElement()->GetValue(), &values[2]);
}

TEST(VeltraneListIterator, DetachedIteratorRefusesEverything) {
    CVeltraneListIterator iterator;
    int32_t value = 1;
    ++iterator;
    --iterator;
    EXPECT_EQ(iterator.GetList(), nullptr);
    EXPECT_EQ(iterator.GetCurrentElement(), nullptr);
    EXPECT_EQ(iterator.GetValue(), nullptr);
    EXPECT_EQ(iterator.GetCount(), 0);
    EXPECT_FALSE(iterator.First());
    EXPECT_FALSE(iterator.Last());
    EXPECT_EQ(iterator.GoTo(0), nullptr);
    EXPECT_FALSE(iterator.AddTail(&value));
    EXPECT_FALSE(iterator.AddHead(&value));
    EXPECT_FALSE(iterator.Remove(&value));
    EXPECT_EQ(iterator.RemoveHead(), nullptr);
    EXPECT_FALSE(iterator.RemoveAll());
    EXPECT_FALSE(iterator.AddTailCopy(&value));
    EXPECT_FALSE(iterator.AddHeadCopy(&value));
    EXPECT_FALSE(iterator.DeleteValue(&value));
    EXPECT_FALSE(iterator.DeleteAll());
}

TEST(VeltraneListIterator, AssignmentAttachesToTheSameListAndElement) {
    RawList raw;
    RawList other;
    CVeltraneListIterator source;
    CVeltraneListIterator copy;
    source.Attach(&raw.list);
    source.GoTo(2);
    copy.Attach(&other.list);

    copy = source;
    EXPECT_EQ(copy.GetList(), &raw.list);
    EXPECT_EQ(copy.GetValue(), raw.At(2));
    EXPECT_EQ(raw.list.GetIteratorCount(), 2);
    EXPECT_EQ(other.list.GetIteratorCount(), 0);

    CVeltraneListIterator& self = copy;
    copy = self;
    EXPECT_EQ(copy.GetList(), &raw.list);
    EXPECT_EQ(copy.GetValue(), raw.At(2));
    EXPECT_EQ(raw.list.GetIteratorCount(), 2);

    CVeltraneListIterator detached;
    copy = detached;
    EXPECT_EQ(copy.GetList(), nullptr);
    EXPECT_EQ(copy.GetCurrentElement(), nullptr);
    EXPECT_EQ(raw.list.GetIteratorCount(), 1);
}

TEST(VeltraneListIterator, RegistrationFollowsAttachment) {
    RawList raw;
    RawList other;
    CVeltraneListIterator iterator;
    CVeltraneListIterator elsewhere;
    iterator.Attach(&raw.list);
    elsewhere.Attach(&other.list);
    EXPECT_EQ(raw.list.GetIteratorCount(), 1);
    EXPECT_FALSE(raw.list.RegisterIterator(&iterator)) << "registered twice";
    EXPECT_FALSE(raw.list.RegisterIterator(&elsewhere)) << "attached to another list";
    EXPECT_FALSE(raw.list.UnregisterIterator(&elsewhere));
    EXPECT_EQ(elsewhere.GetList(), &other.list);
    EXPECT_EQ(raw.list.GetIteratorCount(), 1);

    EXPECT_TRUE(raw.list.UnregisterIterator(&iterator));
    EXPECT_EQ(iterator.GetList(), nullptr);
    EXPECT_EQ(iterator.GetCurrentElement(), nullptr);

    iterator.Attach(&raw.list);
    CVeltraneListIterator second;
    second.Attach(&raw.list);
    EXPECT_TRUE(raw.list.ReleaseIterators());
    EXPECT_EQ(raw.list.GetIteratorCount(), 0);
    EXPECT_EQ(iterator.GetList(), nullptr);
    EXPECT_EQ(second.GetList(), nullptr);
    // Released iterators are no longer reset, so they must not stay on an element.
    raw.list.RemoveHead();
    EXPECT_EQ(iterator.GetValue(), nullptr);
    EXPECT_FALSE(raw.list.ReleaseIterators());
}

TEST(VeltraneListIterator, ReleasingTheIteratorsEndsOpenIterations) {
    // The iterations' own iterators are let go as well: an open iteration yields nothing more
    // until it is ended, and a new one starts from the first value.
    RawList raw;
    ASSERT_EQ(raw.list.BeginIteration(), raw.At(0));
    EXPECT_TRUE(raw.list.ReleaseIterators());
    EXPECT_EQ(raw.list.IterateNext(), nullptr);
    EXPECT_EQ(raw.list.GetIterationDepth(), 1);
    EXPECT_TRUE(raw.list.EndIteration());
    EXPECT_EQ(raw.list.BeginIteration(), raw.At(0));
    EXPECT_EQ(raw.list.IterateNext(), raw.At(1));
    EXPECT_TRUE(raw.list.EndIteration());
}

TEST(VeltraneListIterator, IteratorsOutlivingTheirListAreDetached) {
    CVeltraneListIterator survivor;
    CVeltraneListIterator moved;
    {
        RawList raw;
        survivor.Attach(&raw.list);
        moved.Attach(&raw.list);
        moved.GoTo(3);
        raw.list.BeginIteration();
        raw.list.BeginIteration();
    }
    EXPECT_EQ(survivor.GetList(), nullptr);
    EXPECT_EQ(moved.GetCurrentElement(), nullptr);
    ++moved;
    EXPECT_EQ(moved.GetValue(), nullptr);
    RawList next;
    EXPECT_TRUE(moved.Attach(&next.list));
    EXPECT_EQ(moved.GetValue(), next.At(0));
}

}  // namespace
