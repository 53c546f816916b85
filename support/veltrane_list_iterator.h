// CVeltraneListIterator: a cursor over a CVeltraneList that stays valid across removals.
//
// A new iterator is detached. Attach (or assignment from another iterator) registers it with a
// list; Attach(nullptr) or the destructor unregisters it again. The list moves every registered
// iterator to its first element after each removal, so an iterator never rests on a deleted
// element; a list that is destroyed, or that releases its iterators, detaches them.
//
// The iterator does not own its list or its values. No locking: used by one thread at a time, with
// its list.
#ifndef IDROVAN_SUPPORT_VELTRANE_LIST_ITERATOR_H_
#define IDROVAN_SUPPORT_VELTRANE_LIST_ITERATOR_H_

#include "support/veltrane_list.h"
#include "support/veltrane_list_element.h"

class CVeltraneListIterator {
public:
    CVeltraneListIterator() = default;
    virtual ~CVeltraneListIterator();

    CVeltraneListIterator(const CVeltraneListIterator&) = delete;

    virtual CVeltraneList* GetList() const;
    virtual bool Attach(CVeltraneList* pList);
    virtual void* GoTo(int nIndex);
    virtual void operator++(int);
    virtual void operator++();
    virtual void operator--(int);
    virtual void operator--();
    virtual void* GetValue() const;
    virtual CVeltraneListIterator& operator=(const CVeltraneListIterator& other);
    virtual int GetCount() const;
    virtual bool First();
    virtual bool Last();
    virtual bool AddTail(void* pValue);
    virtual bool AddHead(void* pValue);
    virtual bool InsertAfter(void* pValue);
    virtual bool Remove(const void* pValue);
    virtual void* RemoveHead();
    virtual bool RemoveAll();
    virtual bool AddTailCopy(const void* pValue);
    virtual bool AddHeadCopy(const void* pValue);
    virtual bool DeleteValue(const void* pValue);
    virtual bool DeleteAll();
    virtual CVeltraneListElement* GetCurrentElement() const;

protected:
    // Moves off the element that holds pValue (to its next, else its previous) before a removal.
    bool StepOff(const void* pValue);

private:
    // The list detaches its iterators when it releases them or is destroyed.
    friend class CVeltraneList;

    CVeltraneList* m_pList = nullptr;
    CVeltraneListElement* m_pCurrent = nullptr;
};

#endif  // IDROVAN_SUPPORT_VELTRANE_LIST_ITERATOR_H_
