// Random operation sequences on CVeltraneList and its iterators, checked step by step against a
// plain reference: a vector of (key, element) pairs, the current element, each iterator's element
// and the stack of open iterations. Two modes: raw pointers into a pool (found by identity) and
// owned 32-bit integers (found by content).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/veltrane_list.h"
#include "support/veltrane_list_iterator.h"
#include "tests/unit/veltrane_list_reference.h"

namespace {

const int kKeys = 12;
const int kIterators = 3;
const int kMaxDepth = 3;

class CListModelRun : public CListReference {
public:
    CListModelRun(uint32_t nSeed, bool bOwned)
        : CListReference(kIterators), m_rng(nSeed), m_bOwned(bOwned) {
        for (int i = 0; i < kKeys; ++i) {
            m_pool[i] = i;
        }
        if (m_bOwned) {
            m_list.SetIntegerValues();
        }
        m_foreign.AddTail(&m_pool[0]);
    }

    ~CListModelRun() {
        // Owned values go through the list; iterators are detached before the list goes.
        for (CVeltraneListIterator& iterator : m_iterators) {
            iterator.Attach(nullptr);
        }
        while (m_list.EndIteration()) {
        }
        if (m_bOwned) {
            m_list.DeleteAll();
        }
    }

    void Run(int nSteps) {
        for (int nStep = 0; nStep < nSteps; ++nStep) {
            const std::string strDone = Step();
            SCOPED_TRACE("step " + std::to_string(nStep) + ": " + strDone);
            Check();
            if (::testing::Test::HasFailure()) {
                return;
            }
        }
    }

private:
    int Random(int nBound) { return static_cast<int>(m_rng() % static_cast<uint32_t>(nBound)); }
    // A value to hand to the list for a key: the pool slot itself, or a fresh owned integer.
    void* NewValue(int32_t nKey) {
        return m_bOwned ? static_cast<void*>(new int32_t(nKey)) : static_cast<void*>(&m_pool[nKey]);
    }
    void DropValue(void* pValue) {
        if (m_bOwned) {
            delete static_cast<int32_t*>(pValue);
        }
    }
    // A value to search for: an equal integer elsewhere (owned) or the pool slot (raw).
    const void* Probe(int32_t nKey) {
        m_probes[m_nProbe] = nKey;
        const void* pProbe = m_bOwned ? &m_probes[m_nProbe] : &m_pool[nKey];
        m_nProbe = (m_nProbe + 1) % 2;
        return pProbe;
    }
    int32_t KeyOf(const void* pValue) const {
        if (m_bOwned) {
            return *static_cast<const int32_t*>(pValue);
        }
        return static_cast<int32_t>(static_cast<const int32_t*>(pValue) - m_pool.data());
    }

    std::string Step() {
        const int32_t nKey = Random(kKeys);
        const int nIndex = Random(Count() + 4) - 2;
        const int nSlot = Random(kIterators);
        CVeltraneListIterator& iterator = m_iterators[nSlot];
        SIteratorModel& model = m_model[nSlot];
        switch (Random(24)) {
            case 0:
            case 1:
            case 2:
            case 3: {
                const bool bAtTail = Random(2) == 0;
                bool bAdded;
                if (m_bOwned && Random(2) == 0) {
                    const void* pProbe = Probe(nKey);
                    bAdded = bAtTail ? m_list.AddTailCopy(pProbe) : m_list.AddHeadCopy(pProbe);
                } else {
                    void* pValue = NewValue(nKey);
                    bAdded = bAtTail ? m_list.AddTail(pValue) : m_list.AddHead(pValue);
                    if (!bAdded) {
                        DropValue(pValue);
                    }
                }
                EXPECT_TRUE(bAdded);
                // Found through the links from the tail, so that finding it moves nothing.
                Element pAdded = m_list.GetTailElement();
                while (!bAtTail && pAdded != nullptr && pAdded->GetPrev() != nullptr) {
                    pAdded = pAdded->GetPrev();
                }
                ModelInsert(bAtTail ? Count() : 0, nKey, pAdded);
                return (bAtTail ? "AddTail " : "AddHead ") + std::to_string(nKey);
            }
            case 4: {
                // Through GetElementAt, which may build the index and so clear the current element.
                CVeltraneListElement* pAfter = m_list.GetElementAt(nIndex);
                EXPECT_EQ(pAfter, ModelElementAt(nIndex));
                void* pValue = NewValue(nKey);
                const bool bInserted = m_list.InsertAfter(pAfter, pValue);
                EXPECT_EQ(bInserted, pAfter != nullptr);
                if (bInserted) {
                    ModelInsert(nIndex + 1, nKey, pAfter->GetNext());
                } else {
                    DropValue(pValue);
                }
                return "InsertAfter element " + std::to_string(nIndex);
            }
            case 5: {
                void* pValue = NewValue(nKey);
                bool bExpected = false;
                if (model.bAttached) {
                    if (model.pCurrent == nullptr) {
                        model.pCurrent = Head();
                        ModelMoveFirst();
                    }
                    bExpected = model.pCurrent != nullptr;
                }
                const bool bInserted = iterator.InsertAfter(pValue);
                EXPECT_EQ(bInserted, bExpected);
                if (bInserted) {
                    ModelInsert(IndexOf(model.pCurrent) + 1, nKey, model.pCurrent->GetNext());
                } else {
                    DropValue(pValue);
                }
                return "iterator InsertAfter " + std::to_string(nSlot);
            }
            case 6:
            case 7: {
                CVeltraneListElement* pFound = m_list.FindElement(Probe(nKey));
                void* pStored = pFound != nullptr ? pFound->GetValue() : nullptr;
                const bool bRemoved = m_list.Remove(Probe(nKey));
                const int nFound = ModelFind(nKey);
                EXPECT_EQ(bRemoved, nFound >= 0);
                if (nFound >= 0) {
                    ModelUnlink(nFound);
                    DropValue(pStored);
                }
                ModelResetIterators();
                return "Remove " + std::to_string(nKey);
            }
            case 8: {
                void* pValue = m_list.RemoveHead();
                if (m_items.empty()) {
                    EXPECT_EQ(pValue, nullptr);
                } else {
                    EXPECT_NE(pValue, nullptr);
                    if (pValue != nullptr) {
                        EXPECT_EQ(KeyOf(pValue), m_items.front().nKey);
                    }
                    ModelUnlink(0);
                    ModelResetIterators();
                    DropValue(pValue);
                }
                return "RemoveHead";
            }
            case 9: {
                const bool bDeleted = m_list.DeleteValue(Probe(nKey));
                if (m_bOwned) {
                    const int nFound = ModelFind(nKey);
                    EXPECT_EQ(bDeleted, nFound >= 0);
                    if (nFound >= 0) {
                        ModelUnlink(nFound);
                        ModelResetIterators();
                    }
                } else {
                    EXPECT_FALSE(bDeleted);
                }
                return "DeleteValue " + std::to_string(nKey);
            }
            case 10: {
                // StepOff, then the list's Remove.
                CVeltraneListElement* pFound =
                    model.bAttached ? m_list.FindElement(Probe(nKey)) : nullptr;
                void* pStored = pFound != nullptr ? pFound->GetValue() : nullptr;
                const bool bRemoved = iterator.Remove(Probe(nKey));
                if (!model.bAttached) {
                    EXPECT_FALSE(bRemoved);
                    return "detached iterator Remove";
                }
                const int nFound = ModelFind(nKey);
                EXPECT_EQ(bRemoved, nFound >= 0);
                if (nFound >= 0) {
                    ModelUnlink(nFound);
                    DropValue(pStored);
                }
                ModelResetIterators();
                return "iterator Remove " + std::to_string(nKey);
            }
            case 11: {
                EXPECT_EQ(m_list.GetElementAt(nIndex), ModelElementAt(nIndex));
                return "GetElementAt " + std::to_string(nIndex);
            }
            case 12: {
                void* pValue = m_list.GetAt(nIndex);
                Element pExpected = ModelElementAt(nIndex);
                if (pExpected == nullptr) {
                    EXPECT_EQ(pValue, nullptr);
                } else {
                    m_pCurrent = pExpected;
                    EXPECT_EQ(pValue, pExpected->GetValue());
                }
                return "GetAt " + std::to_string(nIndex);
            }
            case 13: {
                void* pValue = NewValue(nKey);
                void* pOld = nIndex >= 0 && nIndex < Count() ? m_items[nIndex].pElement->GetValue()
                                                             : nullptr;
                const bool bSet = m_list.SetAt(nIndex, pValue);
                const bool bExpected = ModelElementAt(nIndex) != nullptr;
                EXPECT_EQ(bSet, bExpected);
                if (bSet) {
                    m_items[nIndex].nKey = nKey;
                    m_items[nIndex].pValue = pValue;
                    DropValue(pOld);
                } else {
                    DropValue(pValue);
                }
                return "SetAt " + std::to_string(nIndex);
            }
            case 14: {
                const int nMove = Random(3);
                Element pMoved;
                Element pExpected;
                if (nMove == 0) {
                    pMoved = m_list.MoveFirst();
                    ModelMoveFirst();
                    pExpected = Head();
                } else {
                    pMoved = nMove == 1 ? m_list.MoveNext() : m_list.MovePrev();
                    if (m_pCurrent != nullptr) {
                        m_pCurrent = Neighbour(m_pCurrent, nMove == 1 ? 1 : -1);
                    }
                    pExpected = m_pCurrent;
                }
                EXPECT_EQ(pMoved, pExpected);
                return "Move " + std::to_string(nMove);
            }
            case 15:
            case 16: {
                const int nMove = Random(5);
                if (nMove == 0) {
                    ++iterator;
                } else if (nMove == 1) {
                    iterator--;
                } else if (nMove == 2) {
                    EXPECT_EQ(iterator.First(), model.bAttached && !m_items.empty());
                } else if (nMove == 3) {
                    EXPECT_EQ(iterator.Last(), model.bAttached && !m_items.empty());
                } else {
                    void* pValue = iterator.GoTo(nIndex);
                    Element pExpected = model.bAttached ? ModelElementAt(nIndex) : nullptr;
                    EXPECT_EQ(pValue, pExpected != nullptr ? pExpected->GetValue() : nullptr);
                    if (pExpected != nullptr) {
                        model.pCurrent = pExpected;
                    }
                }
                if (model.bAttached) {
                    if (nMove == 2 || (nMove == 0 && model.pCurrent == nullptr)) {
                        model.pCurrent = Head();
                        ModelMoveFirst();
                    } else if (nMove == 3 || (nMove == 1 && model.pCurrent == nullptr)) {
                        model.pCurrent = Tail();
                    } else if (nMove < 2) {
                        model.pCurrent = Neighbour(model.pCurrent, nMove == 0 ? 1 : -1);
                    }
                }
                return "iterator " + std::to_string(nSlot) + " move " + std::to_string(nMove);
            }
            case 17: {
                if (model.bAttached) {
                    EXPECT_FALSE(iterator.Attach(nullptr));
                    model = SIteratorModel();
                } else {
                    EXPECT_EQ(iterator.Attach(&m_list), !m_items.empty());
                    model.bAttached = true;
                    model.pCurrent = Head();
                    ModelMoveFirst();
                }
                return "toggle iterator " + std::to_string(nSlot);
            }
            case 18:
            case 19: {
                void* pValue;
                if (m_positions.size() < static_cast<size_t>(kMaxDepth) && Random(3) == 0) {
                    pValue = m_list.BeginIteration();
                    ModelMoveFirst();
                    m_positions.push_back(SIteratorModel{true, Head()});
                } else if (!m_positions.empty() && Random(4) == 0) {
                    EXPECT_TRUE(m_list.EndIteration());
                    m_positions.pop_back();
                    return "EndIteration";
                } else {
                    pValue = m_list.IterateNext();
                    if (m_positions.empty()) {
                        EXPECT_EQ(pValue, nullptr);
                        return "IterateNext without iteration";
                    }
                }
                // Both read the innermost position, make it current and advance it.
                Element& pPosition = m_positions.back().pCurrent;
                EXPECT_EQ(pValue, pPosition != nullptr ? pPosition->GetValue() : nullptr);
                m_pCurrent = pPosition;
                if (pPosition != nullptr) {
                    pPosition = Neighbour(pPosition, 1);
                }
                return "iteration step";
            }
            case 20: {
                const bool bSwapped = m_list.SwapValues(Probe(nKey), Probe((nKey + 1) % kKeys));
                const int nFirst = ModelFind(nKey);
                const int nSecond = ModelFind((nKey + 1) % kKeys);
                EXPECT_EQ(bSwapped, nFirst >= 0 && nSecond >= 0);
                if (bSwapped) {
                    std::swap(m_items[nFirst].nKey, m_items[nSecond].nKey);
                    std::swap(m_items[nFirst].pValue, m_items[nSecond].pValue);
                }
                return "SwapValues " + std::to_string(nKey);
            }
            case 21: {
                void* pValue = NewValue(nKey);
                EXPECT_FALSE(m_list.InsertAfter(m_foreign.GetTailElement(), pValue));
                DropValue(pValue);
                return "InsertAfter foreign element";
            }
            case 22: {
                void* pPrev = m_list.GetPrevValue(Probe(nKey));
                void* pNext = m_list.GetNextValue(Probe(nKey));
                const int nFound = ModelFind(nKey);
                EXPECT_EQ(pPrev, nFound > 0 ? m_items[nFound - 1].pElement->GetValue() : nullptr);
                EXPECT_EQ(pNext, nFound >= 0 && nFound + 1 < Count()
                                     ? m_items[nFound + 1].pElement->GetValue()
                                     : nullptr);
                return "GetPrevValue/GetNextValue " + std::to_string(nKey);
            }
            default: {
                // Rare, so that the list grows long enough to matter.
                if (Random(8) != 0) {
                    return "nothing";
                }
                const bool bRemoved = m_bOwned ? m_list.DeleteAll() : m_list.RemoveAll();
                EXPECT_EQ(bRemoved, !m_items.empty());
                ModelClear();
                return "RemoveAll";
            }
        }
    }

    void Check() {
        // Walk from the tail with the elements' own links: that moves nothing.
        std::vector<Element> chain;
        for (Element pElement = m_list.GetTailElement(); pElement != nullptr;
             pElement = pElement->GetPrev()) {
            chain.insert(chain.begin(), pElement);
        }
        ASSERT_EQ(m_list.GetCount(), Count());
        ASSERT_EQ(static_cast<int>(chain.size()), Count());
        for (int i = 0; i < Count(); ++i) {
            ASSERT_EQ(chain[i], m_items[i].pElement) << "element " << i;
            ASSERT_EQ(chain[i]->GetValue(), m_items[i].pValue) << "element " << i;
            ASSERT_EQ(KeyOf(chain[i]->GetValue()), m_items[i].nKey) << "element " << i;
            ASSERT_EQ(chain[i]->GetNext(), i + 1 < Count() ? chain[i + 1] : nullptr);
        }
        EXPECT_EQ(m_list.GetHead(), m_items.empty() ? nullptr : Head()->GetValue());
        EXPECT_EQ(m_list.GetTail(), m_items.empty() ? nullptr : Tail()->GetValue());
        EXPECT_EQ(m_list.GetCurrentElement(), m_pCurrent);
        EXPECT_EQ(m_list.GetIterationDepth(), static_cast<int>(m_positions.size()));
        for (int i = 0; i < kIterators; ++i) {
            EXPECT_EQ(m_iterators[i].GetList(), m_model[i].bAttached ? &m_list : nullptr);
            EXPECT_EQ(m_iterators[i].GetCurrentElement(), m_model[i].pCurrent) << "iterator " << i;
            EXPECT_EQ(m_iterators[i].GetCount(), m_model[i].bAttached ? Count() : 0);
        }
        EXPECT_EQ(m_list.GetIteratorCount(), AttachedCount());
    }

    std::mt19937 m_rng;
    const bool m_bOwned;
    std::array<int32_t, kKeys> m_pool{};
    std::array<int32_t, 2> m_probes{};
    int m_nProbe = 0;
    CVeltraneList m_foreign;
    CVeltraneList m_list;
    std::array<CVeltraneListIterator, kIterators> m_iterators;
};

class VeltraneListModelTest : public ::testing::TestWithParam<std::tuple<uint32_t, bool>> {};

TEST_P(VeltraneListModelTest, AgreesWithReferenceStepByStep) {
    CListModelRun run(std::get<0>(GetParam()), std::get<1>(GetParam()));
    run.Run(5000);
}

INSTANTIATE_TEST_SUITE_P(Seeds, VeltraneListModelTest,
                         ::testing::Combine(::testing::Values(1u, 7u, 42u, 2024u, 90210u),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<uint32_t, bool>>& info) {
                             return std::string(std::get<1>(info.param) ? "Owned" : "Raw") +
                                    "Seed" + std::to_string(std::get<0>(info.param));
                         });

}  // namespace
