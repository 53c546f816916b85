// The list under memory exhaustion. This program replaces the global allocation functions so that
// a chosen nothrow allocation fails and every live block is counted; each operation is run once
// for every allocation it makes, with that allocation failing. A failed operation must leave the
// list as it was, and whatever path it took, nothing may leak or dangle.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "support/veltrane_list.h"
#include "support/veltrane_list_iterator.h"
#include "support/veltrane_string.h"

namespace {

std::atomic<long> g_nLiveBlocks{0};
std::atomic<int> g_nFailIn{-1};  // nothrow allocations to let through before one fails; -1: none

void* AllocateBlock(std::size_t nBytes) {
    void* pBlock = std::malloc(nBytes != 0 ? nBytes : 1);
    if (pBlock != nullptr) {
        ++g_nLiveBlocks;
    }
    return pBlock;
}

void ReleaseBlock(void* pBlock) {
    if (pBlock != nullptr) {
        --g_nLiveBlocks;
        std::free(pBlock);
    }
}

void* AllocateNothrow(std::size_t nBytes) {
    const int nFailIn = g_nFailIn.load();
    if (nFailIn >= 0) {
        g_nFailIn = nFailIn - 1;
        if (nFailIn == 0) {
            return nullptr;
        }
    }
    return AllocateBlock(nBytes);
}

void* AllocateOrThrow(std::size_t nBytes) {
    void* pBlock = AllocateBlock(nBytes);
    if (pBlock == nullptr) {
        throw std::bad_alloc();
    }
    return pBlock;
}

}  // namespace

void* operator new(std::size_t nBytes) {
    return AllocateOrThrow(nBytes);
}
void* operator new[](std::size_t nBytes) {
    return AllocateOrThrow(nBytes);
}
void* operator new(std::size_t nBytes, const std::nothrow_t&) noexcept {
    return AllocateNothrow(nBytes);
}
void* operator new[](std::size_t nBytes, const std::nothrow_t&) noexcept {
    return AllocateNothrow(nBytes);
}
void operator delete(void* pBlock) noexcept {
    ReleaseBlock(pBlock);
}
void operator delete[](void* pBlock) noexcept {
    ReleaseBlock(pBlock);
}
void operator delete(void* pBlock, std::size_t) noexcept {
    ReleaseBlock(pBlock);
}
void operator delete[](void* pBlock, std::size_t) noexcept {
    ReleaseBlock(pBlock);
}
void operator delete(void* pBlock, const std::nothrow_t&) noexcept {
    ReleaseBlock(pBlock);
}
void operator delete[](void* pBlock, const std::nothrow_t&) noexcept {
    ReleaseBlock(pBlock);
}

namespace {

struct Snapshot {
    std::vector<void*> values;
    int nCount;
    CVeltraneListElement* pCurrent;
    int nIterators;
    int nDepth;

    explicit Snapshot(const CVeltraneList& list)
        : nCount(list.GetCount()),
          pCurrent(list.GetCurrentElement()),
          nIterators(list.GetIteratorCount()),
          nDepth(list.GetIterationDepth()) {
        for (CVeltraneListElement* pElement = list.GetTailElement(); pElement != nullptr;
             pElement = pElement->GetPrev()) {
            values.insert(values.begin(), pElement->GetValue());
        }
    }
    bool operator==(const Snapshot& other) const {
        return values == other.values && nCount == other.nCount && pCurrent == other.pCurrent &&
               nIterators == other.nIterators && nDepth == other.nDepth;
    }
};

// A list prepared for one attempt, the attempt itself, and its verdict on success.
struct Scenario {
    std::function<void(CVeltraneList&)> prepare;
    std::function<bool(CVeltraneList&)> attempt;  // true when the operation succeeded
    std::function<void(CVeltraneList&)> checkSuccess;
};

// Runs the attempt with the first, second, ... nothrow allocation failing, until it makes no
// more allocations than are let through. Returns how many failure points were exercised.
int RunWithEveryAllocationFailing(const Scenario& scenario) {
    int nFailure = 0;
    for (;; ++nFailure) {
        SCOPED_TRACE("allocation " + std::to_string(nFailure) + " fails");
        const long nBaseline = g_nLiveBlocks.load();
        bool bReached;
        {
            std::unique_ptr<CVeltraneList> pList(new CVeltraneList);
            scenario.prepare(*pList);
            const Snapshot before(*pList);
            g_nFailIn = nFailure;
            const bool bDone = scenario.attempt(*pList);
            bReached = g_nFailIn.load() < 0;
            g_nFailIn = -1;
            if (bDone) {
                scenario.checkSuccess(*pList);
            } else {
                EXPECT_TRUE(bReached) << "failed without running out of memory";
                EXPECT_TRUE(Snapshot(*pList) == before) << "a failed operation changed the list";
            }
            while (pList->EndIteration()) {
            }
            pList->DeleteAll();
        }
        EXPECT_EQ(g_nLiveBlocks.load(), nBaseline) << "blocks leaked";
        if (!bReached || ::testing::Test::HasFailure()) {
            return nFailure;
        }
    }
}

int32_t g_values[4] = {10, 20, 30, 40};

void PrepareRaw(CVeltraneList& list) {
    for (int32_t& value : g_values) {
        list.AddTail(&value);
    }
    list.GetAt(1);
}

void PrepareStrings(CVeltraneList& list) {
    list.SetStringValues();
    CVeltraneString line("first");
    list.AddTailCopy(&line);
    list.MoveFirst();
}

TEST(VeltraneListOutOfMemory, InsertionsFailCleanly) {
    int32_t extra = 50;
    const auto addedOnce = [&](CVeltraneList& list) {
        EXPECT_EQ(list.GetCount(), 5);
        EXPECT_NE(list.FindElement(&extra), nullptr);
    };
    const Scenario scenarios[] = {
        {PrepareRaw, [&](CVeltraneList& l) { return l.AddTail(&extra); }, addedOnce},
        {PrepareRaw, [&](CVeltraneList& l) { return l.AddHead(&extra); }, addedOnce},
        {PrepareRaw, [&](CVeltraneList& l) { return l.InsertAfter(l.GetCurrentElement(), &extra); },
         addedOnce},
    };
    for (const Scenario& scenario : scenarios) {
        EXPECT_EQ(RunWithEveryAllocationFailing(scenario), 1);
    }
}

TEST(VeltraneListOutOfMemory, CopiesFailCleanlyAndNeverStoreTheCallersPointer) {
    CVeltraneString text("second");
    int32_t number = 7;
    const auto holdsText = [&](CVeltraneList& list) {
        ASSERT_EQ(list.GetCount(), 2);
        EXPECT_NE(list.GetTail(), &text);
        EXPECT_NE(list.FindElement(&text), nullptr);
    };
    const auto holdsNumber = [&](CVeltraneList& list) {
        ASSERT_EQ(list.GetCount(), 1);
        EXPECT_NE(list.GetHead(), &number);
        EXPECT_EQ(*static_cast<int32_t*>(list.GetHead()), 7);
    };
    const auto integers = [](CVeltraneList& list) { list.SetIntegerValues(); };
    const Scenario scenarios[] = {
        {PrepareStrings, [&](CVeltraneList& l) { return l.AddTailCopy(&text); }, holdsText},
        {PrepareStrings, [&](CVeltraneList& l) { return l.AddHeadCopy(&text); }, holdsText},
        {PrepareStrings, [&](CVeltraneList& l) { return l.Add(&text); }, holdsText},
        {integers, [&](CVeltraneList& l) { return l.AddTailCopy(&number); }, holdsNumber},
        {integers, [&](CVeltraneList& l) { return l.Add(&number); }, holdsNumber},
    };
    for (const Scenario& scenario : scenarios) {
        EXPECT_GE(RunWithEveryAllocationFailing(scenario), 2);
    }
}

TEST(VeltraneListOutOfMemory, PositionalAccessFailsWithoutLosingTheIndex) {
    int32_t replacement = 99;
    const Scenario scenarios[] = {
        {[](CVeltraneList& l) {
             PrepareRaw(l);
             l.AddTail(&g_values[0]);  // drops the index
         },
         [](CVeltraneList& l) { return l.GetElementAt(2) != nullptr; },
         [](CVeltraneList& l) { EXPECT_EQ(l.GetCurrentElement(), nullptr); }},
        {[](CVeltraneList& l) {
             PrepareRaw(l);
             l.AddTail(&g_values[0]);
         },
         [](CVeltraneList& l) { return l.GetAt(2) == &g_values[2]; },
         [](CVeltraneList& l) { EXPECT_EQ(l.GetCurrentElement()->GetValue(), &g_values[2]); }},
        {[](CVeltraneList& l) {
             PrepareRaw(l);
             l.AddTail(&g_values[0]);
         },
         [&](CVeltraneList& l) { return l.SetAt(3, &replacement); },
         [&](CVeltraneList& l) {
             EXPECT_EQ(l.GetTailElement()->GetPrev()->GetValue(), &replacement);
         }},
    };
    for (const Scenario& scenario : scenarios) {
        EXPECT_EQ(RunWithEveryAllocationFailing(scenario), 1);
    }

    // After a failed build the next access builds the index afresh.
    CVeltraneList list;
    PrepareRaw(list);
    list.AddTail(&g_values[0]);
    g_nFailIn = 0;
    EXPECT_EQ(list.GetElementAt(3), nullptr);
    g_nFailIn = -1;
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(list.GetElementAt(i), nullptr);
        EXPECT_EQ(list.GetElementAt(i)->GetValue(), &g_values[i]);
    }
}

TEST(VeltraneListOutOfMemory, IterationAndAttachmentFailCleanly) {
    const Scenario scenarios[] = {
        {PrepareRaw, [](CVeltraneList& l) { return l.BeginIteration() != nullptr; },
         [](CVeltraneList& l) {
             EXPECT_EQ(l.GetIterationDepth(), 1);
             EXPECT_EQ(l.IterateNext(), &g_values[1]);
         }},
        {[](CVeltraneList& l) {
             PrepareRaw(l);
             l.BeginIteration();
             l.IterateNext();
         },
         [](CVeltraneList& l) { return l.BeginIteration() != nullptr; },
         [](CVeltraneList& l) {
             EXPECT_EQ(l.GetIterationDepth(), 2);
             EXPECT_TRUE(l.EndIteration());
             EXPECT_EQ(l.IterateNext(), &g_values[2]) << "the outer iteration lost its place";
         }},
    };
    for (const Scenario& scenario : scenarios) {
        EXPECT_GE(RunWithEveryAllocationFailing(scenario), 3);
    }

    // An iterator the list could not register stays detached, so no removal can strand it.
    for (int nFailure = 0; nFailure < 2; ++nFailure) {
        CVeltraneList list;
        PrepareRaw(list);
        CVeltraneListIterator iterator;
        CVeltraneListIterator source;
        g_nFailIn = nFailure;
        EXPECT_FALSE(iterator.Attach(&list));
        g_nFailIn = -1;
        EXPECT_EQ(iterator.GetList(), nullptr);
        EXPECT_EQ(list.GetIteratorCount(), 0);

        ASSERT_TRUE(source.Attach(&list));
        source.GoTo(2);
        g_nFailIn = 0;
        iterator = source;
        g_nFailIn = -1;
        EXPECT_EQ(iterator.GetList(), nullptr);
        EXPECT_EQ(iterator.GetCurrentElement(), nullptr);
        list.RemoveHead();
        EXPECT_EQ(iterator.GetValue(), nullptr);
    }
}

}  // namespace
