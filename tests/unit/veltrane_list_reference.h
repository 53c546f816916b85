#pragma once

// CListReference: a plain model of what a CVeltraneList and the iterators on it should hold: the
// elements in order with each one's key and value, the list's current element, whether the index
// array exists, each iterator's attachment and element, and the stack of open iterations. The
// list's model test and its fuzzer derive their runs from it, drive the real list and this model
// side by side, and compare the two after every step.
//
// Keys name values; SameContent says when two keys' values are equal under the list's equal
// operation (plain key equality here; a run whose values compare by content overrides it). One
// run, one thread.

#include <cstddef>
#include <vector>

#include "support/veltrane_list_element.h"

class CListReference {
public:
    typedef const CVeltraneListElement* Element;

    struct SItem {
        int nKey;
        Element pElement;
        void* pValue;
    };

    struct SIteratorModel {
        bool bAttached = false;
        Element pCurrent = nullptr;
    };

    explicit CListReference(std::size_t nIterators) : m_model(nIterators) {}
    virtual ~CListReference() {}

protected:
    virtual bool SameContent(int nKeyA, int nKeyB) const { return nKeyA == nKeyB; }

    int Count() const { return static_cast<int>(m_items.size()); }
    Element Head() const { return m_items.empty() ? nullptr : m_items.front().pElement; }
    Element Tail() const { return m_items.empty() ? nullptr : m_items.back().pElement; }

    int IndexOf(Element pElement) const {
        for (int i = 0; i < Count(); ++i) {
            if (m_items[i].pElement == pElement) {
                return i;
            }
        }
        return -1;
    }
    // The element nDirection places away from pElement; null past either end or when pElement is
    // not in the list.
    Element Neighbour(Element pElement, int nDirection) const {
        const int nIndex = IndexOf(pElement);
        if (nIndex < 0) {
            return nullptr;
        }
        const int nNext = nIndex + nDirection;
        return nNext >= 0 && nNext < Count() ? m_items[nNext].pElement : nullptr;
    }

    // The list's MoveFirst.
    void ModelMoveFirst() {
        if (!m_items.empty()) {
            m_pCurrent = Head();
        }
    }
    // FindElement: the first element whose value equals the key's, which becomes current (none
    // found: no current element; an empty list leaves it alone). Its index, or -1.
    int ModelFind(int nKey) {
        if (m_items.empty()) {
            return -1;
        }
        for (int i = 0; i < Count(); ++i) {
            if (SameContent(m_items[i].nKey, nKey)) {
                m_pCurrent = m_items[i].pElement;
                return i;
            }
        }
        m_pCurrent = nullptr;
        return -1;
    }
    // Every attached iterator, open iterations included, moves to the first element through
    // MoveFirst.
    void ModelResetIterators() {
        for (SIteratorModel& iterator : m_model) {
            if (iterator.bAttached) {
                iterator.pCurrent = Head();
                ModelMoveFirst();
            }
        }
        for (SIteratorModel& position : m_positions) {
            if (position.bAttached) {
                position.pCurrent = Head();
                ModelMoveFirst();
            }
        }
    }
    // Unlink: a removed current element hands over to its previous one.
    void ModelUnlink(int nIndex) {
        if (m_pCurrent == m_items[nIndex].pElement) {
            m_pCurrent = nIndex > 0 ? m_items[nIndex - 1].pElement : nullptr;
        }
        m_items.erase(m_items.begin() + nIndex);
        m_bIndexed = false;
    }
    // GetElementAt: building the index walks the list and leaves no current element.
    Element ModelElementAt(int nIndex) {
        if (nIndex < 0 || nIndex >= Count()) {
            return nullptr;
        }
        if (!m_bIndexed) {
            m_bIndexed = true;
            m_pCurrent = nullptr;
        }
        return m_items[nIndex].pElement;
    }
    void ModelInsert(int nAt, int nKey, Element pElement) {
        m_items.insert(m_items.begin() + nAt, SItem{nKey, pElement, pElement->GetValue()});
        m_bIndexed = false;
    }
    // RemoveAll or DeleteAll; an empty list has no index array to drop and no iterator to reset.
    void ModelClear() {
        if (!m_items.empty()) {
            m_items.clear();
            m_pCurrent = nullptr;
            m_bIndexed = false;
            ModelResetIterators();
        }
    }
    // Iterators registered with the list: the attached ones and those of the open iterations.
    int AttachedCount() const {
        int nAttached = 0;
        for (const SIteratorModel& iterator : m_model) {
            nAttached += iterator.bAttached ? 1 : 0;
        }
        for (const SIteratorModel& position : m_positions) {
            nAttached += position.bAttached ? 1 : 0;
        }
        return nAttached;
    }

    std::vector<SItem> m_items;
    Element m_pCurrent = nullptr;
    bool m_bIndexed = false;
    std::vector<SIteratorModel> m_model;
    std::vector<SIteratorModel> m_positions;  // open iterations, innermost last
};
