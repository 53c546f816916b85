// Random operation sequences on a CVeltraneList, its iterators and its nested iterations, checked
// after every step against a plain model: the elements in order with each one's value, the list's
// current element, whether the index array exists, each iterator's list and element, and the
// stack of open iterations. Values are raw pointers into a pool (found by identity) or owned
// values of one of the four built-in types (found by content: strings in either form, doubles
// with NaN and both zeros). The value type can change in the middle of a run, and the list can be
// destroyed under attached iterators. Leaks of owned values show through LeakSanitizer.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/veltrane_list.h"
#include "support/veltrane_list_iterator.h"
#include "support/veltrane_string.h"
#include "tests/unit/veltrane_list_reference.h"

namespace {

const int kKeys = 12;
const int kIterators = 3;
const int kMaxDepth = 3;
const int kMaxSteps = 200;
const int kMaxCount = 64;

const char* g_pStep = "";

#define EXPECT(condition)                                                                     \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            std::fprintf(stderr, "list model mismatch in step '%s': %s (line %d)\n", g_pStep, \
                         #condition, __LINE__);                                               \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

enum EMode { MODE_RAW, MODE_INTEGER, MODE_PAIR, MODE_DOUBLE, MODE_STRING, MODE_COUNT };

// The content that stands for a key in each owned mode.
double DoubleOf(int nKey) {
    if (nKey == 0) {
        return std::nan("");
    }
    if (nKey == 1) {
        return -0.0;
    }
    return (nKey - 2) * 0.5;  // key 2 is +0.0, equal to key 1's -0.0
}

VELTRANE_PAIR PairOf(int nKey) {
    return VELTRANE_PAIR{nKey / 4, nKey % 4};
}

// Keys 0, 4 and 8 all give the empty text.
std::string TextOf(int nKey) {
    return std::string(static_cast<size_t>(nKey % 4), static_cast<char>('a' + nKey / 4));
}

// Whether the values of two keys are equal under the mode's equal operation.
bool KeysEqual(EMode mode, int a, int b) {
    switch (mode) {
        case MODE_RAW:
        case MODE_INTEGER:
        case MODE_PAIR:
            return a == b;
        case MODE_DOUBLE:
            return DoubleOf(a) == DoubleOf(b);
        default:
            return TextOf(a) == TextOf(b);
    }
}

class CListRun : public CListReference {
public:
    explicit CListRun(FuzzedDataProvider& input)
        : CListReference(kIterators), m_input(input), m_list(new CVeltraneList) {
        for (int i = 0; i < kKeys; ++i) {
            m_pool[i] = i;
        }
        m_foreign.AddTail(&m_pool[0]);
        SetMode(static_cast<EMode>(m_input.ConsumeIntegralInRange<int>(0, MODE_COUNT - 1)));
    }

    ~CListRun() {
        for (CVeltraneListIterator& iterator : m_iterators) {
            iterator.Attach(nullptr);
        }
        while (m_list->EndIteration()) {
        }
        FreeAll();
    }

    void Run() {
        for (int nStep = 0; nStep < kMaxSteps && m_input.remaining_bytes() > 0; ++nStep) {
            Step();
            Check();
        }
    }

private:
    bool Owned() const { return m_mode != MODE_RAW; }
    bool SameContent(int nKeyA, int nKeyB) const override {
        return KeysEqual(m_mode, nKeyA, nKeyB);
    }

    // A new value for a key, owned by whoever it is handed to.
    void* NewValue(int nKey) {
        switch (m_mode) {
            case MODE_RAW:
                return &m_pool[nKey];
            case MODE_INTEGER:
                return new int32_t(nKey);
            case MODE_PAIR:
                return new VELTRANE_PAIR(PairOf(nKey));
            case MODE_DOUBLE:
                return new double(DoubleOf(nKey));
            default:
                return NewString(nKey);
        }
    }
    CVeltraneString* NewString(int nKey) {
        CVeltraneString* pText = new CVeltraneString(TextOf(nKey).c_str());
        // Odd keys in wide form: equality must hold across forms.
        if (nKey % 2 == 1) {
            pText->MakeWide();
        }
        return pText;
    }
    void DropValue(void* pValue) {
        switch (m_mode) {
            case MODE_RAW:
                break;
            case MODE_INTEGER:
                delete static_cast<int32_t*>(pValue);
                break;
            case MODE_PAIR:
                delete static_cast<VELTRANE_PAIR*>(pValue);
                break;
            case MODE_DOUBLE:
                delete static_cast<double*>(pValue);
                break;
            default:
                delete static_cast<CVeltraneString*>(pValue);
                break;
        }
    }
    // A value to search for or copy from: the pool slot (raw) or an equal value elsewhere.
    // Probes live until the next step.
    const void* Probe(int nKey) {
        if (!Owned()) {
            return &m_pool[nKey];
        }
        void* pValue = NewValue(nKey);
        if (m_mode == MODE_STRING && m_input.ConsumeBool()) {
            static_cast<CVeltraneString*>(pValue)->MakeWide();
        }
        m_probes.push_back({m_mode, pValue});
        return pValue;
    }
    void FreeProbes() {
        const EMode mode = m_mode;
        for (const auto& probe : m_probes) {
            m_mode = probe.first;
            DropValue(probe.second);
        }
        m_mode = mode;
        m_probes.clear();
    }
    // Whether the value at pValue holds the content of nKey.
    bool HoldsKey(const void* pValue, int nKey) const {
        switch (m_mode) {
            case MODE_RAW:
                return pValue == &m_pool[nKey];
            case MODE_INTEGER:
                return *static_cast<const int32_t*>(pValue) == nKey;
            case MODE_PAIR: {
                const VELTRANE_PAIR& pair = *static_cast<const VELTRANE_PAIR*>(pValue);
                return pair.nFirst == PairOf(nKey).nFirst && pair.nSecond == PairOf(nKey).nSecond;
            }
            case MODE_DOUBLE: {
                const double value = *static_cast<const double*>(pValue);
                const double expected = DoubleOf(nKey);
                return std::isnan(expected)
                           ? std::isnan(value)
                           : value == expected && std::signbit(value) == std::signbit(expected);
            }
            default: {
                CVeltraneString copy(*static_cast<const CVeltraneString*>(pValue));
                return std::string(copy.GetText()) == TextOf(nKey);
            }
        }
    }

    // The owned values still in the list go with it; raw ones belong to the pool.
    void FreeAll() {
        if (Owned()) {
            m_list->DeleteAll();
        } else {
            m_list->RemoveAll();
        }
        m_items.clear();
        FreeProbes();
    }

    void SetMode(EMode mode) {
        switch (mode) {
            case MODE_RAW:
                m_list->SetValueType(nullptr);
                break;
            case MODE_INTEGER:
                m_list->SetIntegerValues();
                break;
            case MODE_PAIR:
                m_list->SetPairValues();
                break;
            case MODE_DOUBLE:
                m_list->SetDoubleValues();
                break;
            default:
                m_list->SetStringValues();
                break;
        }
        // Emptied first: by DeleteAll with a value type, else by RemoveAll.
        ModelClear();
        m_mode = mode;
    }

    Element ModelHeadAfterAddHead() const {
        Element pHead = m_list->GetTailElement();
        while (pHead != nullptr && pHead->GetPrev() != nullptr) {
            pHead = pHead->GetPrev();
        }
        return pHead;
    }

    int Key() { return m_input.ConsumeIntegralInRange<int>(0, kKeys - 1); }
    int Index() { return m_input.ConsumeIntegralInRange<int>(-2, Count() + 1); }

    void Step() {
        FreeProbes();
        const int nSlot = m_input.ConsumeIntegralInRange<int>(0, kIterators - 1);
        CVeltraneListIterator& iterator = m_iterators[nSlot];
        SIteratorModel& model = m_model[nSlot];
        const bool bRoom = Count() < kMaxCount;
        switch (m_input.ConsumeIntegralInRange<int>(0, 33)) {
            case 0:
            case 1: {
                g_pStep = "AddTail";
                const int nKey = Key();
                if (bRoom) {
                    void* pValue = NewValue(nKey);
                    EXPECT(m_list->AddTail(pValue));
                    ModelInsert(Count(), nKey, m_list->GetTailElement());
                }
                break;
            }
            case 2: {
                g_pStep = "AddHead";
                const int nKey = Key();
                if (bRoom) {
                    void* pValue = NewValue(nKey);
                    EXPECT(m_list->AddHead(pValue));
                    ModelInsert(0, nKey, ModelHeadAfterAddHead());
                }
                break;
            }
            case 3: {
                g_pStep = "AddTailCopy / AddHeadCopy / Add";
                const int nKey = Key();
                const int nHow = m_input.ConsumeIntegralInRange<int>(0, 2);
                if (!bRoom) {
                    break;
                }
                const void* pProbe = Probe(nKey);
                bool bAdded;
                if (nHow == 0) {
                    bAdded = m_list->AddTailCopy(pProbe);
                } else if (nHow == 1) {
                    bAdded = m_list->AddHeadCopy(pProbe);
                } else {
                    bAdded = m_list->Add(const_cast<void*>(pProbe));
                }
                // Without a value type only Add stores, and then the pointer itself.
                EXPECT(bAdded == (Owned() || nHow == 2));
                if (bAdded) {
                    if (nHow == 1) {
                        ModelInsert(0, nKey, ModelHeadAfterAddHead());
                    } else {
                        ModelInsert(Count(), nKey, m_list->GetTailElement());
                    }
                    EXPECT(Owned() == (m_items[nHow == 1 ? 0 : Count() - 1].pValue != pProbe));
                }
                break;
            }
            case 4: {
                g_pStep = "null and foreign arguments";
                EXPECT(!m_list->AddTail(nullptr));
                EXPECT(!m_list->AddHead(nullptr));
                EXPECT(!m_list->AddTailCopy(nullptr));
                EXPECT(!m_list->Add(nullptr));
                EXPECT(!m_list->InsertAfter(nullptr, &m_pool[0]));
                EXPECT(!m_list->InsertAfter(m_foreign.GetTailElement(), &m_pool[0]));
                EXPECT(!m_list->SwapValues(&m_pool[1], &m_pool[1]));
                EXPECT(!m_list->RegisterIterator(nullptr));
                EXPECT(!m_list->UnregisterIterator(nullptr));
                EXPECT(m_list->FindElement(nullptr) == nullptr);
                EXPECT(!m_list->Remove(nullptr));
                if (Head() != nullptr) {
                    EXPECT(
                        !m_list->InsertAfter(const_cast<CVeltraneListElement*>(Head()), nullptr));
                    EXPECT(!m_list->SetAt(0, nullptr));
                }
                break;
            }
            case 5: {
                g_pStep = "InsertAfter";
                const int nIndex = Index();
                const int nKey = Key();
                if (!bRoom) {
                    break;
                }
                CVeltraneListElement* pAfter = m_list->GetElementAt(nIndex);
                EXPECT(pAfter == ModelElementAt(nIndex));
                void* pValue = NewValue(nKey);
                const bool bInserted = m_list->InsertAfter(pAfter, pValue);
                EXPECT(bInserted == (pAfter != nullptr));
                if (bInserted) {
                    ModelInsert(nIndex + 1, nKey, pAfter->GetNext());
                } else {
                    DropValue(pValue);
                }
                break;
            }
            case 6: {
                g_pStep = "iterator InsertAfter";
                const int nKey = Key();
                if (!bRoom) {
                    break;
                }
                void* pValue = NewValue(nKey);
                bool bExpected = false;
                if (model.bAttached) {
                    if (model.pCurrent == nullptr) {
                        model.pCurrent = Head();
                        ModelMoveFirst();
                    }
                    bExpected = model.pCurrent != nullptr;
                }
                EXPECT(iterator.InsertAfter(pValue) == bExpected);
                if (bExpected) {
                    ModelInsert(IndexOf(model.pCurrent) + 1, nKey, model.pCurrent->GetNext());
                } else {
                    DropValue(pValue);
                }
                break;
            }
            case 7:
            case 8: {
                g_pStep = "Remove";
                const int nKey = Key();
                const bool bThroughIterator = m_input.ConsumeBool();
                const void* pProbe = Probe(nKey);
                if (bThroughIterator) {
                    // StepOff moves the iterator, then the removal resets every iterator.
                    const bool bRemoved = iterator.Remove(pProbe);
                    if (!model.bAttached) {
                        EXPECT(!bRemoved);
                        break;
                    }
                    ModelFind(nKey);
                    ExpectRemoved(bRemoved, ModelFind(nKey));
                } else {
                    ExpectRemoved(m_list->Remove(pProbe), ModelFind(nKey));
                }
                ModelResetIterators();
                break;
            }
            case 9: {
                g_pStep = "RemoveHead";
                const bool bThroughIterator = m_input.ConsumeBool();
                void* pValue = bThroughIterator ? iterator.RemoveHead() : m_list->RemoveHead();
                if (m_items.empty() || (bThroughIterator && !model.bAttached)) {
                    EXPECT(pValue == nullptr);
                    break;
                }
                EXPECT(pValue == m_items.front().pValue);
                ModelUnlink(0);
                ModelResetIterators();
                DropValue(pValue);
                break;
            }
            case 10: {
                g_pStep = "DeleteValue / Delete";
                const int nKey = Key();
                const int nHow = m_input.ConsumeIntegralInRange<int>(0, 2);
                const void* pProbe = Probe(nKey);
                if (nHow == 0) {
                    const bool bDeleted = m_list->DeleteValue(pProbe);
                    const int nFound = Owned() ? ModelFind(nKey) : -1;
                    EXPECT(bDeleted == (nFound >= 0));
                    if (nFound >= 0) {
                        ModelUnlink(nFound);
                        ModelResetIterators();
                    }
                } else if (nHow == 1) {
                    // DeleteValue, else Remove (which resets the iterators even when it finds
                    // nothing).
                    const bool bDeleted = m_list->Delete(pProbe);
                    const int nFound = ModelFind(nKey);
                    EXPECT(bDeleted == (nFound >= 0));
                    if (nFound >= 0) {
                        ModelUnlink(nFound);
                    }
                    ModelResetIterators();
                } else {
                    // StepOff moves the iterator first; only a removal resets the iterators.
                    const bool bDeleted = iterator.DeleteValue(pProbe);
                    if (!model.bAttached) {
                        EXPECT(!bDeleted);
                        break;
                    }
                    const int nFound = ModelFind(nKey);
                    if (nFound >= 0) {
                        Element pNext = Neighbour(m_items[nFound].pElement, 1);
                        model.pCurrent =
                            pNext != nullptr ? pNext : Neighbour(m_items[nFound].pElement, -1);
                    }
                    if (Owned()) {
                        ModelFind(nKey);
                    }
                    EXPECT(bDeleted == (Owned() && nFound >= 0));
                    if (bDeleted) {
                        ModelUnlink(nFound);
                        ModelResetIterators();
                    }
                }
                break;
            }
            case 11: {
                g_pStep = "RemoveAll / DeleteAll";
                // Rare, so that the list grows long enough to matter.
                if (m_input.ConsumeIntegralInRange<int>(0, 7) != 0) {
                    break;
                }
                const bool bThroughIterator = m_input.ConsumeBool();
                const bool bEnabled = !bThroughIterator || model.bAttached;
                bool bDone;
                if (Owned()) {
                    bDone = bThroughIterator ? iterator.DeleteAll() : m_list->DeleteAll();
                } else {
                    bDone = bThroughIterator ? iterator.RemoveAll() : m_list->RemoveAll();
                }
                EXPECT(bDone == (bEnabled && !m_items.empty()));
                if (bEnabled) {
                    ModelClear();
                }
                break;
            }
            case 12: {
                g_pStep = "GetElementAt / GetAt";
                const int nIndex = Index();
                if (m_input.ConsumeBool()) {
                    EXPECT(m_list->GetElementAt(nIndex) == ModelElementAt(nIndex));
                } else {
                    void* pValue = m_list->GetAt(nIndex);
                    Element pExpected = ModelElementAt(nIndex);
                    EXPECT(pValue == (pExpected != nullptr ? pExpected->GetValue() : nullptr));
                    if (pExpected != nullptr) {
                        m_pCurrent = pExpected;
                    }
                }
                break;
            }
            case 13: {
                g_pStep = "SetAt";
                const int nIndex = Index();
                const int nKey = Key();
                void* pValue = NewValue(nKey);
                const bool bSet = m_list->SetAt(nIndex, pValue);
                EXPECT(bSet == (ModelElementAt(nIndex) != nullptr));
                if (bSet) {
                    // The old value is neither destroyed nor returned.
                    DropValue(m_items[nIndex].pValue);
                    m_items[nIndex].nKey = nKey;
                    m_items[nIndex].pValue = pValue;
                } else {
                    DropValue(pValue);
                }
                break;
            }
            case 14: {
                g_pStep = "MoveFirst / MoveNext / MovePrev";
                const int nMove = m_input.ConsumeIntegralInRange<int>(0, 2);
                Element pMoved;
                if (nMove == 0) {
                    pMoved = m_list->MoveFirst();
                    ModelMoveFirst();
                    EXPECT(pMoved == Head());
                } else {
                    pMoved = nMove == 1 ? m_list->MoveNext() : m_list->MovePrev();
                    if (m_pCurrent != nullptr) {
                        m_pCurrent = Neighbour(m_pCurrent, nMove == 1 ? 1 : -1);
                    }
                    EXPECT(pMoved == m_pCurrent);
                }
                break;
            }
            case 15: {
                g_pStep = "SetCurrentElement";
                const int nWhich = m_input.ConsumeIntegralInRange<int>(0, Count() + 1);
                if (nWhich < Count()) {
                    m_list->SetCurrentElement(
                        const_cast<CVeltraneListElement*>(m_items[nWhich].pElement));
                    m_pCurrent = m_items[nWhich].pElement;
                } else if (nWhich == Count()) {
                    m_list->SetCurrentElement(nullptr);
                    m_pCurrent = nullptr;
                } else {
                    // A foreign element is not taken.
                    m_list->SetCurrentElement(m_foreign.GetTailElement());
                }
                break;
            }
            case 16:
            case 17: {
                g_pStep = "iterator moves";
                const int nMove = m_input.ConsumeIntegralInRange<int>(0, 5);
                const int nIndex = Index();
                if (nMove == 0) {
                    ++iterator;
                } else if (nMove == 1) {
                    iterator--;
                } else if (nMove == 2) {
                    EXPECT(iterator.First() == (model.bAttached && !m_items.empty()));
                } else if (nMove == 3) {
                    EXPECT(iterator.Last() == (model.bAttached && !m_items.empty()));
                } else if (nMove == 4) {
                    iterator++;
                } else {
                    void* pValue = iterator.GoTo(nIndex);
                    Element pExpected = model.bAttached ? ModelElementAt(nIndex) : nullptr;
                    EXPECT(pValue == (pExpected != nullptr ? pExpected->GetValue() : nullptr));
                    if (pExpected != nullptr) {
                        model.pCurrent = pExpected;
                    }
                    break;
                }
                if (!model.bAttached) {
                    break;
                }
                const bool bForward = nMove == 0 || nMove == 4;
                if (nMove == 2 || (bForward && model.pCurrent == nullptr)) {
                    model.pCurrent = Head();
                    ModelMoveFirst();
                } else if (nMove == 3 || (nMove == 1 && model.pCurrent == nullptr)) {
                    model.pCurrent = Tail();
                } else {
                    model.pCurrent = Neighbour(model.pCurrent, bForward ? 1 : -1);
                }
                break;
            }
            case 18: {
                g_pStep = "Attach";
                if (model.bAttached && m_input.ConsumeBool()) {
                    EXPECT(!iterator.Attach(nullptr));
                    model = SIteratorModel();
                } else {
                    EXPECT(iterator.Attach(m_list.get()) == !m_items.empty());
                    model.bAttached = true;
                    model.pCurrent = Head();
                    ModelMoveFirst();
                }
                break;
            }
            case 19: {
                g_pStep = "iterator assignment";
                const int nOther = m_input.ConsumeIntegralInRange<int>(0, kIterators - 1);
                iterator = m_iterators[nOther];
                if (nOther != nSlot) {
                    const SIteratorModel other = m_model[nOther];
                    model = SIteratorModel();
                    if (other.bAttached) {
                        model.bAttached = true;
                        ModelMoveFirst();
                        model.pCurrent = other.pCurrent;
                    }
                }
                break;
            }
            case 20: {
                g_pStep = "iterator adds";
                const int nKey = Key();
                const int nHow = m_input.ConsumeIntegralInRange<int>(0, 3);
                if (!bRoom) {
                    break;
                }
                bool bAdded;
                if (nHow < 2) {
                    void* pValue = NewValue(nKey);
                    bAdded = nHow == 0 ? iterator.AddTail(pValue) : iterator.AddHead(pValue);
                    if (!bAdded) {
                        DropValue(pValue);
                    }
                    EXPECT(bAdded == model.bAttached);
                } else {
                    const void* pProbe = Probe(nKey);
                    bAdded =
                        nHow == 2 ? iterator.AddTailCopy(pProbe) : iterator.AddHeadCopy(pProbe);
                    EXPECT(bAdded == (model.bAttached && Owned()));
                }
                if (bAdded) {
                    if (nHow % 2 == 1) {
                        ModelInsert(0, nKey, ModelHeadAfterAddHead());
                    } else {
                        ModelInsert(Count(), nKey, m_list->GetTailElement());
                    }
                }
                break;
            }
            case 21:
            case 22: {
                g_pStep = "nested iteration";
                const int nHow = m_input.ConsumeIntegralInRange<int>(0, 5);
                void* pValue;
                if (nHow == 0 && m_positions.size() < static_cast<size_t>(kMaxDepth)) {
                    pValue = m_list->BeginIteration();
                    ModelMoveFirst();
                    SIteratorModel position;
                    position.bAttached = true;
                    position.pCurrent = Head();
                    m_positions.push_back(position);
                } else if (nHow == 1) {
                    EXPECT(m_list->EndIteration() == !m_positions.empty());
                    if (!m_positions.empty()) {
                        m_positions.pop_back();
                    }
                    break;
                } else {
                    pValue = m_list->IterateNext();
                    if (m_positions.empty()) {
                        EXPECT(pValue == nullptr);
                        break;
                    }
                }
                // Both read the innermost position, make it current and advance it.
                SIteratorModel& position = m_positions.back();
                EXPECT(pValue ==
                       (position.pCurrent != nullptr ? position.pCurrent->GetValue() : nullptr));
                m_pCurrent = position.pCurrent;
                if (position.pCurrent != nullptr) {
                    position.pCurrent = Neighbour(position.pCurrent, 1);
                }
                break;
            }
            case 23: {
                g_pStep = "SwapValues";
                const int nFirst = Key();
                const int nSecond = Key();
                const void* pFirst = Probe(nFirst);
                const void* pSecond = Probe(nSecond);
                const bool bSwapped = m_list->SwapValues(pFirst, pSecond);
                if (pFirst == pSecond) {
                    EXPECT(!bSwapped);
                    break;
                }
                const int nFoundFirst = ModelFind(nFirst);
                const int nFoundSecond = ModelFind(nSecond);
                EXPECT(bSwapped == (nFoundFirst >= 0 && nFoundSecond >= 0));
                if (bSwapped) {
                    std::swap(m_items[nFoundFirst].nKey, m_items[nFoundSecond].nKey);
                    std::swap(m_items[nFoundFirst].pValue, m_items[nFoundSecond].pValue);
                }
                break;
            }
            case 24: {
                g_pStep = "GetPrevValue / GetNextValue / FindElement";
                const int nKey = Key();
                void* pPrev = m_list->GetPrevValue(Probe(nKey));
                int nFound = ModelFind(nKey);
                EXPECT(pPrev == (nFound > 0 ? m_items[nFound - 1].pValue : nullptr));
                void* pNext = m_list->GetNextValue(Probe(nKey));
                nFound = ModelFind(nKey);
                EXPECT(pNext == (nFound >= 0 && nFound + 1 < Count() ? m_items[nFound + 1].pValue
                                                                     : nullptr));
                Element pFound = m_list->FindElement(Probe(nKey));
                nFound = ModelFind(nKey);
                EXPECT(pFound == (nFound >= 0 ? m_items[nFound].pElement : nullptr));
                break;
            }
            case 25: {
                g_pStep = "SetValueType";
                if (m_input.ConsumeIntegralInRange<int>(0, 3) == 0) {
                    SetMode(
                        static_cast<EMode>(m_input.ConsumeIntegralInRange<int>(0, MODE_COUNT - 1)));
                }
                break;
            }
            case 26: {
                g_pStep = "RegisterIterator / UnregisterIterator";
                if (m_input.ConsumeBool()) {
                    // An attached iterator is registered already; a detached one is refused.
                    EXPECT(!m_list->RegisterIterator(&iterator));
                } else {
                    const bool bUnregistered = m_list->UnregisterIterator(&iterator);
                    EXPECT(bUnregistered == model.bAttached);
                    model = SIteratorModel();
                }
                break;
            }
            case 27: {
                g_pStep = "ReleaseIterators";
                if (m_input.ConsumeIntegralInRange<int>(0, 3) != 0) {
                    break;
                }
                EXPECT(m_list->ReleaseIterators() == (AttachedCount() > 0));
                for (SIteratorModel& it : m_model) {
                    it = SIteratorModel();
                }
                for (SIteratorModel& position : m_positions) {
                    position = SIteratorModel();
                }
                break;
            }
            case 28: {
                g_pStep = "destroy the list under attached iterators";
                if (m_input.ConsumeIntegralInRange<int>(0, 7) != 0) {
                    break;
                }
                FreeAll();
                m_list.reset(new CVeltraneList);
                m_mode = MODE_RAW;
                m_pCurrent = nullptr;
                m_bIndexed = false;
                m_positions.clear();
                for (SIteratorModel& it : m_model) {
                    it = SIteratorModel();
                }
                break;
            }
            case 29: {
                g_pStep = "detached iterator";
                if (model.bAttached) {
                    break;
                }
                EXPECT(iterator.GetValue() == nullptr);
                EXPECT(iterator.GetCount() == 0);
                EXPECT(iterator.GoTo(0) == nullptr);
                EXPECT(!iterator.AddTail(&m_pool[0]));
                EXPECT(!iterator.InsertAfter(&m_pool[0]));
                EXPECT(!iterator.RemoveAll());
                EXPECT(!iterator.DeleteAll());
                EXPECT(iterator.RemoveHead() == nullptr);
                break;
            }
            case 30: {
                g_pStep = "iterator value";
                EXPECT(iterator.GetValue() == (model.bAttached && model.pCurrent != nullptr
                                                   ? model.pCurrent->GetValue()
                                                   : nullptr));
                break;
            }
            default: {
                g_pStep = "queries";
                EXPECT(m_list->HasValueType() == Owned());
                EXPECT(m_list->HasPairValues() == (m_mode == MODE_PAIR));
                EXPECT((m_list->GetValueType() != nullptr) == Owned());
                break;
            }
        }
    }

    void ExpectRemoved(bool bRemoved, int nFound) {
        EXPECT(bRemoved == (nFound >= 0));
        if (nFound >= 0) {
            void* pValue = m_items[nFound].pValue;
            ModelUnlink(nFound);
            DropValue(pValue);
        }
    }

    void Check() {
        g_pStep = "check";
        // Walk from the tail with the elements' own links: that moves nothing.
        std::vector<Element> chain;
        for (Element pElement = m_list->GetTailElement(); pElement != nullptr;
             pElement = pElement->GetPrev()) {
            chain.insert(chain.begin(), pElement);
            EXPECT(chain.size() <= m_items.size());
        }
        EXPECT(m_list->GetCount() == Count());
        EXPECT(static_cast<int>(chain.size()) == Count());
        for (int i = 0; i < Count(); ++i) {
            EXPECT(chain[i] == m_items[i].pElement);
            EXPECT(chain[i]->GetValue() == m_items[i].pValue);
            EXPECT(HoldsKey(chain[i]->GetValue(), m_items[i].nKey));
            EXPECT(chain[i]->GetNext() == (i + 1 < Count() ? chain[i + 1] : nullptr));
        }
        EXPECT(m_list->GetHead() == (m_items.empty() ? nullptr : m_items.front().pValue));
        EXPECT(m_list->GetTail() == (m_items.empty() ? nullptr : m_items.back().pValue));
        EXPECT(m_list->GetCurrentElement() == m_pCurrent);
        EXPECT(m_list->GetIterationDepth() == static_cast<int>(m_positions.size()));
        EXPECT(m_list->GetIteratorCount() == AttachedCount());
        for (int i = 0; i < kIterators; ++i) {
            EXPECT(m_iterators[i].GetList() == (m_model[i].bAttached ? m_list.get() : nullptr));
            EXPECT(m_iterators[i].GetCurrentElement() == m_model[i].pCurrent);
            EXPECT(m_iterators[i].GetCount() == (m_model[i].bAttached ? Count() : 0));
        }
    }

    FuzzedDataProvider& m_input;
    std::array<int32_t, kKeys> m_pool{};
    std::vector<std::pair<EMode, void*>> m_probes;
    CVeltraneList m_foreign;
    std::array<CVeltraneListIterator, kIterators> m_iterators;
    std::unique_ptr<CVeltraneList> m_list;
    EMode m_mode = MODE_RAW;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    FuzzedDataProvider input(pData, nSize);
    CListRun run(input);
    run.Run();
    return 0;
}
