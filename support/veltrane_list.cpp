#include "support/veltrane_list.h"

#include <new>
#include <utility>

#include "support/veltrane_list_iterator.h"

CVeltraneList::~CVeltraneList() {
    RemoveAll();
    ClearPositions();
    delete m_pPositions;
    m_pPositions = nullptr;
    // Iterators that outlive the list must not keep a pointer to it.
    CVeltraneList::ReleaseIterators();
    delete m_pIterators;
    m_pIterators = nullptr;
    DropIndex();
}

void* CVeltraneList::GetAt(int nIndex) {
    CVeltraneListElement* pElement = GetElementAt(nIndex);
    if (pElement == nullptr) {
        return nullptr;
    }
    m_pCurrent = pElement;
    return pElement->m_pValue;
}

int CVeltraneList::GetCount() const {
    return m_nCount;
}

CVeltraneListElement* CVeltraneList::MoveFirst() {
    if (m_nCount == 0 || m_pHead == nullptr) {
        return nullptr;
    }
    m_pCurrent = m_pHead;
    return m_pCurrent;
}

CVeltraneListElement* CVeltraneList::GetTailElement() const {
    return m_pTail;
}

CVeltraneListElement* CVeltraneList::MoveNext() {
    if (m_pCurrent == nullptr) {
        return nullptr;
    }
    m_pCurrent = m_pCurrent->m_pNext;
    return m_pCurrent;
}

CVeltraneListElement* CVeltraneList::MovePrev() {
    if (m_pCurrent == nullptr) {
        return nullptr;
    }
    m_pCurrent = m_pCurrent->m_pPrev;
    return m_pCurrent;
}

CVeltraneListElement* CVeltraneList::FindElement(const void* pValue) {
    if (pValue == nullptr || m_nCount == 0) {
        return nullptr;
    }
    for (CVeltraneListElement* pElement = MoveFirst(); pElement != nullptr; pElement = MoveNext()) {
        if (Matches(pElement, pValue)) {
            return pElement;
        }
    }
    return nullptr;
}

bool CVeltraneList::AddTail(void* pValue) {
    return pValue != nullptr && LinkNew(m_pTail, pValue);
}

bool CVeltraneList::AddHead(void* pValue) {
    return pValue != nullptr && LinkNew(nullptr, pValue);
}

bool CVeltraneList::InsertAfter(CVeltraneListElement* pElement, void* pValue) {
    // Linking behind an element of another list would corrupt both chains.
    if (pElement == nullptr || pValue == nullptr || !Contains(pElement)) {
        return false;
    }
    return LinkNew(pElement, pValue);
}

bool CVeltraneList::Remove(const void* pValue) {
    if (pValue == nullptr) {
        return false;
    }
    CVeltraneListElement* pElement = FindElement(pValue);
    const bool bRemoved = pElement != nullptr && Unlink(pElement);
    ResetIterators();
    return bRemoved;
}

void* CVeltraneList::RemoveHead() {
    if (m_pHead == nullptr) {
        return nullptr;
    }
    void* pValue = m_pHead->m_pValue;
    Unlink(m_pHead);
    ResetIterators();
    return pValue;
}

bool CVeltraneList::RemoveAll() {
    if (m_pHead == nullptr) {
        return false;
    }
    CVeltraneListElement* pElement = m_pHead;
    while (pElement != nullptr) {
        CVeltraneListElement* pNext = pElement->m_pNext;
        delete pElement;
        pElement = pNext;
    }
    m_pHead = nullptr;
    m_pTail = nullptr;
    m_pCurrent = nullptr;
    m_nCount = 0;
    DropIndex();
    ResetIterators();
    return true;
}

void* CVeltraneList::GetHead() const {
    return m_pHead != nullptr ? m_pHead->m_pValue : nullptr;
}

void* CVeltraneList::GetTail() const {
    return m_pTail != nullptr ? m_pTail->m_pValue : nullptr;
}

void* CVeltraneList::GetPrevValue(const void* pValue) {
    CVeltraneListElement* pElement = FindElement(pValue);
    if (pElement == nullptr || pElement->m_pPrev == nullptr) {
        return nullptr;
    }
    return pElement->m_pPrev->m_pValue;
}

void* CVeltraneList::GetNextValue(const void* pValue) {
    CVeltraneListElement* pElement = FindElement(pValue);
    if (pElement == nullptr || pElement->m_pNext == nullptr) {
        return nullptr;
    }
    return pElement->m_pNext->m_pValue;
}

void* CVeltraneList::BeginIteration() {
    if (!PushPosition()) {
        return nullptr;
    }
    CVeltraneListIterator* pPosition = GetTopPosition();
    pPosition->First();
    void* pValue = pPosition->GetValue();
    m_pCurrent = pPosition->GetCurrentElement();
    if (pValue != nullptr) {
        ++*pPosition;
    }
    return pValue;
}

void* CVeltraneList::IterateNext() {
    CVeltraneListIterator* pPosition = GetTopPosition();
    if (pPosition == nullptr) {
        return nullptr;
    }
    void* pValue = pPosition->GetValue();
    m_pCurrent = pPosition->GetCurrentElement();
    // Advancing from no element would restart at the first one: an ended iteration stays ended.
    if (pValue != nullptr) {
        ++*pPosition;
    }
    return pValue;
}

bool CVeltraneList::EndIteration() {
    if (GetIterationDepth() == 0) {
        return false;
    }
    delete static_cast<CVeltraneListIterator*>(m_pPositions->RemoveHead());
    return true;
}

CVeltraneListElement* CVeltraneList::GetCurrentElement() const {
    return m_pCurrent;
}

CVeltraneListElement* CVeltraneList::GetElementAt(int nIndex) {
    if (nIndex < 0 || nIndex >= m_nCount) {
        return nullptr;
    }
    if (m_ppIndex == nullptr && !BuildIndex()) {
        return nullptr;
    }
    return m_ppIndex[nIndex];
}

int CVeltraneList::GetIteratorCount() const {
    return m_pIterators != nullptr ? m_pIterators->GetCount() : 0;
}

bool CVeltraneList::HasValueType() const {
    return m_pfnValueType != nullptr;
}

bool CVeltraneList::SwapValues(const void* pValueA, const void* pValueB) {
    if (pValueA == nullptr || pValueB == nullptr || pValueA == pValueB) {
        return false;
    }
    CVeltraneListElement* pElementA = FindElement(pValueA);
    CVeltraneListElement* pElementB = FindElement(pValueB);
    if (pElementA == nullptr || pElementB == nullptr) {
        return false;
    }
    std::swap(pElementA->m_pValue, pElementB->m_pValue);
    return true;
}

bool CVeltraneList::SetAt(int nIndex, void* pValue) {
    if (pValue == nullptr) {
        return false;
    }
    CVeltraneListElement* pElement = GetElementAt(nIndex);
    if (pElement == nullptr) {
        return false;
    }
    pElement->m_pValue = pValue;
    return true;
}

PFN_VELTRANE_VALUE_TYPE CVeltraneList::GetValueType() const {
    return m_pfnValueType;
}

void CVeltraneList::SetValueType(PFN_VELTRANE_VALUE_TYPE pfnValueType) {
    if (m_pfnValueType != nullptr) {
        DeleteAll();
    } else {
        RemoveAll();
    }
    m_pfnValueType = pfnValueType;
}

bool CVeltraneList::AddTailCopy(const void* pValue) {
    return AddCopy(pValue, true);
}

bool CVeltraneList::AddHeadCopy(const void* pValue) {
    return AddCopy(pValue, false);
}

bool CVeltraneList::DeleteValue(const void* pValue) {
    if (m_pfnValueType == nullptr) {
        return false;
    }
    CVeltraneListElement* pElement = FindElement(pValue);
    if (pElement == nullptr) {
        return false;
    }
    if (!m_pfnValueType(VALUE_TYPE_DESTROY, &pElement->m_pValue, nullptr)) {
        return false;
    }
    Unlink(pElement);
    ResetIterators();
    return true;
}

bool CVeltraneList::DeleteAll() {
    DropIndex();
    if (m_nCount == 0 || m_pfnValueType == nullptr) {
        return false;
    }
    bool bDestroyed = false;
    for (CVeltraneListElement* pElement = MoveFirst(); pElement != nullptr; pElement = MoveNext()) {
        if (m_pfnValueType(VALUE_TYPE_DESTROY, &pElement->m_pValue, nullptr)) {
            bDestroyed = true;
        }
        pElement->m_pValue = nullptr;
    }
    RemoveAll();
    return bDestroyed;
}

bool CVeltraneList::Add(void* pValue) {
    if (AddTailCopy(pValue)) {
        return true;
    }
    // A list with a value type owns what it holds: storing the caller's pointer after a failed
    // copy would later destroy an object the list never made.
    return m_pfnValueType == nullptr && AddTail(pValue);
}

bool CVeltraneList::Delete(const void* pValue) {
    return DeleteValue(pValue) || Remove(pValue);
}

void CVeltraneList::SetIntegerValues() {
    SetValueType(&CVeltraneList::IntegerValueType);
}

void CVeltraneList::SetPairValues() {
    SetValueType(&CVeltraneList::PairValueType);
}

void CVeltraneList::SetDoubleValues() {
    SetValueType(&CVeltraneList::DoubleValueType);
}

void CVeltraneList::SetStringValues() {
    SetValueType(&CVeltraneList::StringValueType);
}

bool CVeltraneList::HasPairValues() const {
    return m_pfnValueType == &CVeltraneList::PairValueType;
}

bool CVeltraneList::RegisterIterator(CVeltraneListIterator* pIterator) {
    // Only an iterator attached to this list, and only once: the iterator unregisters itself once,
    // and a pointer left behind in the list would dangle.
    if (pIterator == nullptr || pIterator->m_pList != this) {
        return false;
    }
    if (m_pIterators == nullptr) {
        m_pIterators = new (std::nothrow) CVeltraneList;
        if (m_pIterators == nullptr) {
            return false;
        }
    }
    if (m_pIterators->FindElement(pIterator) != nullptr) {
        return false;
    }
    return m_pIterators->AddTail(pIterator);
}

bool CVeltraneList::UnregisterIterator(CVeltraneListIterator* pIterator) {
    if (pIterator == nullptr || m_pIterators == nullptr) {
        return false;
    }
    if (!m_pIterators->Remove(pIterator)) {
        return false;
    }
    // An unregistered iterator is no longer reset on removals, so it must not keep the list.
    DetachIterator(pIterator);
    return true;
}

bool CVeltraneList::ReleaseIterators() {
    if (m_pIterators == nullptr) {
        return false;
    }
    for (CVeltraneListElement* pElement = m_pIterators->m_pHead; pElement != nullptr;
         pElement = pElement->m_pNext) {
        DetachIterator(static_cast<CVeltraneListIterator*>(pElement->m_pValue));
    }
    return m_pIterators->RemoveAll();
}

void CVeltraneList::SetCurrentElement(CVeltraneListElement* pElement) {
    // A foreign element as the current one would let MoveNext and MovePrev walk another chain.
    if (pElement != nullptr && !Contains(pElement)) {
        return;
    }
    m_pCurrent = pElement;
}

int CVeltraneList::GetIterationDepth() const {
    return m_pPositions != nullptr ? m_pPositions->GetCount() : 0;
}

bool CVeltraneList::Unlink(CVeltraneListElement* pElement) {
    DropIndex();
    if (pElement == nullptr) {
        return false;
    }
    if (pElement->m_pPrev != nullptr) {
        pElement->m_pPrev->m_pNext = pElement->m_pNext;
    } else {
        m_pHead = pElement->m_pNext;
    }
    if (pElement->m_pNext != nullptr) {
        pElement->m_pNext->m_pPrev = pElement->m_pPrev;
    } else {
        m_pTail = pElement->m_pPrev;
    }
    if (m_pCurrent == pElement) {
        m_pCurrent = pElement->m_pPrev;
    }
    --m_nCount;
    delete pElement;
    return true;
}

bool CVeltraneList::BuildIndex() {
    DropIndex();
    if (m_nCount <= 0) {
        return false;
    }
    CVeltraneListElement** ppIndex = new (std::nothrow) CVeltraneListElement*[m_nCount];
    if (ppIndex == nullptr) {
        return false;
    }
    // m_nCount entries: the chain holds exactly that many elements.
    CVeltraneListElement** ppEntry = ppIndex;
    for (CVeltraneListElement* pElement = MoveFirst(); pElement != nullptr; pElement = MoveNext()) {
        *ppEntry++ = pElement;
    }
    m_ppIndex = ppIndex;
    return true;
}

bool CVeltraneList::ResetIterators() {
    if (GetIteratorCount() == 0) {
        return false;
    }
    for (CVeltraneListElement* pElement = m_pIterators->m_pHead; pElement != nullptr;
         pElement = pElement->m_pNext) {
        static_cast<CVeltraneListIterator*>(pElement->m_pValue)->First();
    }
    return true;
}

bool CVeltraneList::PushPosition() {
    CVeltraneListIterator* pPosition = new (std::nothrow) CVeltraneListIterator;
    if (pPosition == nullptr) {
        return false;
    }
    // The stack slot comes first: attaching moves the current element, which a failed push must
    // leave alone.
    if (m_pPositions == nullptr) {
        m_pPositions = new (std::nothrow) CVeltraneList;
    }
    if (m_pPositions == nullptr || !m_pPositions->AddHead(pPosition)) {
        delete pPosition;
        return false;
    }
    pPosition->Attach(this);
    if (pPosition->GetList() != this) {
        m_pPositions->RemoveHead();
        delete pPosition;
        return false;
    }
    return true;
}

bool CVeltraneList::ClearPositions() {
    bool bDeleted = false;
    while (GetIterationDepth() > 0) {
        delete static_cast<CVeltraneListIterator*>(m_pPositions->RemoveHead());
        bDeleted = true;
    }
    return bDeleted;
}

bool CVeltraneList::Contains(const CVeltraneListElement* pElement) const {
    for (const CVeltraneListElement* pWalk = m_pHead; pWalk != nullptr; pWalk = pWalk->m_pNext) {
        if (pWalk == pElement) {
            return true;
        }
    }
    return false;
}

bool CVeltraneList::Matches(CVeltraneListElement* pElement, const void* pValue) const {
    if (m_pfnValueType != nullptr) {
        return m_pfnValueType(VALUE_TYPE_EQUAL, &pElement->m_pValue, pValue);
    }
    return pElement->m_pValue == pValue;
}

bool CVeltraneList::AddCopy(const void* pValue, bool bAtTail) {
    if (m_pfnValueType == nullptr) {
        return false;
    }
    void* pCopy = nullptr;
    if (!m_pfnValueType(VALUE_TYPE_CREATE, &pCopy, nullptr) || pCopy == nullptr) {
        return false;
    }
    const bool bAdded = m_pfnValueType(VALUE_TYPE_ASSIGN, &pCopy, pValue) &&
                        (bAtTail ? AddTail(pCopy) : AddHead(pCopy));
    if (!bAdded) {
        // Nobody else knows the new value: destroy it rather than leak it.
        m_pfnValueType(VALUE_TYPE_DESTROY, &pCopy, nullptr);
    }
    return bAdded;
}

bool CVeltraneList::LinkNew(CVeltraneListElement* pPrev, void* pValue) {
    DropIndex();
    CVeltraneListElement* pNew = new (std::nothrow) CVeltraneListElement(pValue);
    if (pNew == nullptr) {
        return false;
    }
    CVeltraneListElement* pNext = pPrev != nullptr ? pPrev->m_pNext : m_pHead;
    pNew->m_pPrev = pPrev;
    pNew->m_pNext = pNext;
    if (pPrev != nullptr) {
        pPrev->m_pNext = pNew;
    } else {
        m_pHead = pNew;
    }
    if (pNext != nullptr) {
        pNext->m_pPrev = pNew;
    } else {
        m_pTail = pNew;
    }
    ++m_nCount;
    return true;
}

void CVeltraneList::DropIndex() {
    delete[] m_ppIndex;
    m_ppIndex = nullptr;
}

CVeltraneListIterator* CVeltraneList::GetTopPosition() const {
    if (GetIterationDepth() == 0) {
        return nullptr;
    }
    return static_cast<CVeltraneListIterator*>(m_pPositions->m_pHead->m_pValue);
}

void CVeltraneList::DetachIterator(CVeltraneListIterator* pIterator) {
    pIterator->m_pList = nullptr;
    pIterator->m_pCurrent = nullptr;
}
