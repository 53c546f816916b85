// CVeltraneList: an ordered, doubly linked list of non-null untyped value pointers.
//
// Without a value type the list stores and compares the caller's pointers as they are and never
// owns them. With a value type (a function that creates, destroys, assigns and compares values of
// one kind) it stores owned copies (AddTailCopy, AddHeadCopy, Add), finds values by content and
// destroys them in DeleteValue, DeleteAll and when the value type changes. Remove, RemoveHead,
// RemoveAll, SetAt and the destructor never destroy a value: an owner whose list holds owned values
// calls DeleteAll before destroying it.
//
// The list keeps a current element of its own that every searching or walking operation moves,
// an index array for access by position (rebuilt on demand, dropped on every insertion and
// removal), the iterators attached to it (each reset to the first element after every removal, so
// none is left on a deleted element) and a stack of iterators for nested iterations
// (BeginIteration, IterateNext, EndIteration).
//
// An iterator is registered with a list exactly while it is attached to it. Iterators still
// attached when the list is destroyed are detached by it.
//
// No locking: a list, its elements and its iterators are used by one thread at a time.
#ifndef IDROVAN_SUPPORT_VELTRANE_LIST_H_
#define IDROVAN_SUPPORT_VELTRANE_LIST_H_

#include <cstdint>

#include "support/veltrane_list_element.h"

class CVeltraneListIterator;

// Operation codes of a value-type function.
enum : int {
    VALUE_TYPE_CREATE = 0,   // store a new default value in the slot (null when out of memory)
    VALUE_TYPE_DESTROY = 1,  // destroy the slot's value and null the slot
    VALUE_TYPE_ASSIGN = 2,   // copy the value's content into the slot's value
    VALUE_TYPE_EQUAL = 3,    // true when the slot's value equals the value
};

// A value type: performs nOperation on the value in *ppSlot (which it may replace) with pValue as
// the other operand. Unknown codes and a null slot give false.
typedef bool (*PFN_VELTRANE_VALUE_TYPE)(int nOperation, void** ppSlot, const void* pValue);

// The value of the built-in pair type.
struct VELTRANE_PAIR {
    int32_t nFirst;
    int32_t nSecond;
};

class CVeltraneList {
public:
    CVeltraneList() = default;
    virtual ~CVeltraneList();

    CVeltraneList(const CVeltraneList&) = delete;
    CVeltraneList& operator=(const CVeltraneList&) = delete;

    virtual void* GetAt(int nIndex);
    virtual int GetCount() const;
    virtual CVeltraneListElement* MoveFirst();
    virtual CVeltraneListElement* GetTailElement() const;
    virtual CVeltraneListElement* MoveNext();
    virtual CVeltraneListElement* MovePrev();
    virtual CVeltraneListElement* FindElement(const void* pValue);
    virtual bool AddTail(void* pValue);
    virtual bool AddHead(void* pValue);
    virtual bool InsertAfter(CVeltraneListElement* pElement, void* pValue);
    virtual bool Remove(const void* pValue);
    virtual void* RemoveHead();
    virtual bool RemoveAll();
    virtual void* GetHead() const;
    virtual void* GetTail() const;
    virtual void* GetPrevValue(const void* pValue);
    virtual void* GetNextValue(const void* pValue);
    virtual void* BeginIteration();
    virtual void* IterateNext();
    virtual bool EndIteration();
    virtual CVeltraneListElement* GetCurrentElement() const;
    virtual CVeltraneListElement* GetElementAt(int nIndex);
    virtual int GetIteratorCount() const;
    virtual bool HasValueType() const;
    virtual bool SwapValues(const void* pValueA, const void* pValueB);
    virtual bool SetAt(int nIndex, void* pValue);
    virtual PFN_VELTRANE_VALUE_TYPE GetValueType() const;
    virtual void SetValueType(PFN_VELTRANE_VALUE_TYPE pfnValueType);
    virtual bool AddTailCopy(const void* pValue);
    virtual bool AddHeadCopy(const void* pValue);
    virtual bool DeleteValue(const void* pValue);
    virtual bool DeleteAll();
    virtual bool Add(void* pValue);
    virtual bool Delete(const void* pValue);
    virtual void SetIntegerValues();
    virtual void SetPairValues();
    virtual void SetDoubleValues();
    virtual void SetStringValues();
    virtual bool HasPairValues() const;
    virtual bool RegisterIterator(CVeltraneListIterator* pIterator);
    virtual bool UnregisterIterator(CVeltraneListIterator* pIterator);
    virtual bool ReleaseIterators();
    virtual void SetCurrentElement(CVeltraneListElement* pElement);
    virtual int GetIterationDepth() const;

    // The built-in value types: int32_t, VELTRANE_PAIR, double and CVeltraneString.
    static bool IntegerValueType(int nOperation, void** ppSlot, const void* pValue);
    static bool PairValueType(int nOperation, void** ppSlot, const void* pValue);
    static bool DoubleValueType(int nOperation, void** ppSlot, const void* pValue);
    static bool StringValueType(int nOperation, void** ppSlot, const void* pValue);

protected:
    bool Unlink(CVeltraneListElement* pElement);
    bool BuildIndex();
    bool ResetIterators();
    bool PushPosition();
    bool ClearPositions();

private:
    bool Contains(const CVeltraneListElement* pElement) const;
    bool Matches(CVeltraneListElement* pElement, const void* pValue) const;
    bool AddCopy(const void* pValue, bool bAtTail);
    // Links a new element holding pValue behind pPrev, or at the head when pPrev is null; drops
    // the index. False, with the list unchanged, when the element cannot be allocated.
    bool LinkNew(CVeltraneListElement* pPrev, void* pValue);
    void DropIndex();
    CVeltraneListIterator* GetTopPosition() const;
    static void DetachIterator(CVeltraneListIterator* pIterator);

    CVeltraneListElement* m_pHead = nullptr;
    CVeltraneListElement* m_pTail = nullptr;
    CVeltraneListElement* m_pCurrent = nullptr;
    int32_t m_nCount = 0;
    PFN_VELTRANE_VALUE_TYPE m_pfnValueType = nullptr;
    CVeltraneList* m_pIterators = nullptr;
    CVeltraneList* m_pPositions = nullptr;
    CVeltraneListElement** m_ppIndex = nullptr;
};

#endif  // IDROVAN_SUPPORT_VELTRANE_LIST_H_
