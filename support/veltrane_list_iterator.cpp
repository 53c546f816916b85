#include "support/veltrane_list_iterator.h"

CVeltraneListIterator::~CVeltraneListIterator() {
    if (m_pList != nullptr) {
        m_pList->UnregisterIterator(this);
    }
    m_pList = nullptr;
    m_pCurrent = nullptr;
}

CVeltraneList* CVeltraneListIterator::GetList() const {
    return m_pList;
}

bool CVeltraneListIterator::Attach(CVeltraneList* pList) {
    if (m_pList != nullptr) {
        m_pList->UnregisterIterator(this);
    }
    m_pList = pList;
    m_pCurrent = nullptr;
    // An iterator the list does not know of would not be reset on removals: stay detached.
    if (m_pList != nullptr && !m_pList->RegisterIterator(this)) {
        m_pList = nullptr;
    }
    return First();
}

void* CVeltraneListIterator::GoTo(int nIndex) {
    if (m_pList == nullptr) {
        return nullptr;
    }
    CVeltraneListElement* pElement = m_pList->GetElementAt(nIndex);
    if (pElement == nullptr) {
        return nullptr;
    }
    m_pCurrent = pElement;
    return pElement->GetValue();
}

void CVeltraneListIterator::operator++(int) {
    ++*this;
}

void CVeltraneListIterator::operator++() {
    if (m_pList == nullptr) {
        return;
    }
    if (m_pCurrent != nullptr) {
        m_pCurrent = m_pCurrent->GetNext();
    } else {
        First();
    }
}

void CVeltraneListIterator::operator--(int) {
    --*this;
}

void CVeltraneListIterator::operator--() {
    if (m_pList == nullptr) {
        return;
    }
    if (m_pCurrent != nullptr) {
        m_pCurrent = m_pCurrent->GetPrev();
    } else {
        Last();
    }
}

void* CVeltraneListIterator::GetValue() const {
    if (m_pList == nullptr || m_pCurrent == nullptr) {
        return nullptr;
    }
    return m_pCurrent->GetValue();
}

CVeltraneListIterator& CVeltraneListIterator::operator=(const CVeltraneListIterator& other) {
    // Detaching first would lose the list that a self-assignment is meant to keep.
    if (&other == this) {
        return *this;
    }
    Attach(nullptr);
    Attach(other.m_pList);
    if (m_pList != nullptr) {
        m_pCurrent = other.m_pCurrent;
    }
    return *this;
}

int CVeltraneListIterator::GetCount() const {
    return m_pList != nullptr ? m_pList->GetCount() : 0;
}

bool CVeltraneListIterator::First() {
    m_pCurrent = nullptr;
    if (m_pList != nullptr) {
        m_pCurrent = m_pList->MoveFirst();
    }
    return m_pCurrent != nullptr;
}

bool CVeltraneListIterator::Last() {
    m_pCurrent = nullptr;
    if (m_pList != nullptr) {
        m_pCurrent = m_pList->GetTailElement();
    }
    return m_pCurrent != nullptr;
}

bool CVeltraneListIterator::AddTail(void* pValue) {
    return m_pList != nullptr && m_pList->AddTail(pValue);
}

bool CVeltraneListIterator::AddHead(void* pValue) {
    return m_pList != nullptr && m_pList->AddHead(pValue);
}

bool CVeltraneListIterator::InsertAfter(void* pValue) {
    if (m_pList == nullptr) {
        return false;
    }
    if (m_pCurrent == nullptr) {
        First();
    }
    return m_pList->InsertAfter(m_pCurrent, pValue);
}

bool CVeltraneListIterator::Remove(const void* pValue) {
    if (m_pList == nullptr) {
        return false;
    }
    StepOff(pValue);
    return m_pList->Remove(pValue);
}

void* CVeltraneListIterator::RemoveHead() {
    return m_pList != nullptr ? m_pList->RemoveHead() : nullptr;
}

bool CVeltraneListIterator::RemoveAll() {
    return m_pList != nullptr && m_pList->RemoveAll();
}

bool CVeltraneListIterator::AddTailCopy(const void* pValue) {
    return m_pList != nullptr && m_pList->AddTailCopy(pValue);
}

bool CVeltraneListIterator::AddHeadCopy(const void* pValue) {
    return m_pList != nullptr && m_pList->AddHeadCopy(pValue);
}

bool CVeltraneListIterator::DeleteValue(const void* pValue) {
    if (m_pList == nullptr) {
        return false;
    }
    StepOff(pValue);
    return m_pList->DeleteValue(pValue);
}

bool CVeltraneListIterator::DeleteAll() {
    return m_pList != nullptr && m_pList->DeleteAll();
}

CVeltraneListElement* CVeltraneListIterator::GetCurrentElement() const {
    return m_pCurrent;
}

bool CVeltraneListIterator::StepOff(const void* pValue) {
    if (m_pList == nullptr) {
        return false;
    }
    CVeltraneListElement* pElement = m_pList->FindElement(pValue);
    if (pElement == nullptr) {
        return false;
    }
    m_pCurrent = pElement->GetNext() != nullptr ? pElement->GetNext() : pElement->GetPrev();
    return true;
}
