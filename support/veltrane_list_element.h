// CVeltraneListElement: one link of a CVeltraneList chain, holding one untyped value pointer.
//
// Ownership: the list allocates and deletes its elements; deleting an element never touches the
// value it holds (whether the value is owned is the list's business, decided by its value type).
// Callers only read elements handed out by the list or an iterator, and may pass them back to the
// list they came from. No locking: used by one thread at a time, with its list.
#ifndef IDROVAN_SUPPORT_VELTRANE_LIST_ELEMENT_H_
#define IDROVAN_SUPPORT_VELTRANE_LIST_ELEMENT_H_

class CVeltraneListElement {
public:
    CVeltraneListElement() = default;
    explicit CVeltraneListElement(void* pValue) : m_pValue(pValue) {}
    virtual ~CVeltraneListElement() = default;

    CVeltraneListElement(const CVeltraneListElement&) = delete;
    CVeltraneListElement& operator=(const CVeltraneListElement&) = delete;

    CVeltraneListElement* GetPrev() const { return m_pPrev; }
    CVeltraneListElement* GetNext() const { return m_pNext; }
    void* GetValue() const { return m_pValue; }

private:
    friend class CVeltraneList;

    CVeltraneListElement* m_pPrev = nullptr;
    CVeltraneListElement* m_pNext = nullptr;
    void* m_pValue = nullptr;
};

#endif  // IDROVAN_SUPPORT_VELTRANE_LIST_ELEMENT_H_
