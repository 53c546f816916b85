// CSelectObject: selects a GDI object into a device context for one scope and selects the
// previous object back when the scope ends, so that an owned object is never deleted while
// selected, provided the selection is declared after the owner:
//
//     CFont font;
//     font.CreateFontIndirect(&lf);
//     CSelectObject select(pDC, font);   // destroyed first: selects the old font back
//
// Made on the stack, on the thread that owns the device context; it does not own the object.
#pragma once

#include <windows.h>

class CDC;

class CSelectObject {
public:
    CSelectObject(CDC* pDC, HGDIOBJ hObject);
    ~CSelectObject();

    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;

    // True when the object was selected (and will be deselected at the end of the scope).
    bool IsSelected() const { return m_hOld != nullptr; }

private:
    HDC m_hDC = nullptr;
    HGDIOBJ m_hOld = nullptr;
};
