// Owners of GDI objects. Each owner deletes its object in its destructor (or on
// DeleteObject) and nulls the handle; copying is deleted so that there is exactly one owner.
// CFont, CPen and CBrush only add the typed creation and handle of their kind. To select an
// owned object into a device context for one scope, use CSelectObject
// (framework/select_object.h), declared after the owner so that it deselects first.
// GDI objects may be used from any thread, but a device context belongs to one.
#pragma once

#include <windows.h>

class CGdiObject {
public:
    CGdiObject() = default;
    virtual ~CGdiObject();

    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    operator HGDIOBJ() const { return m_hObject; }

    // Takes ownership of hObject (an owned object is deleted first).
    BOOL Attach(HGDIOBJ hObject);
    // Gives the object away without deleting it.
    HGDIOBJ Detach();
    // Deletes the owned object, if any; true when there was one and it was deleted.
    BOOL DeleteObject();

    HGDIOBJ m_hObject = nullptr;
};

class CFont : public CGdiObject {
public:
    BOOL CreateFontIndirect(const LOGFONTA* lpLogFont);
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
};

class CPen : public CGdiObject {
public:
    BOOL CreatePen(int nPenStyle, int nWidth, COLORREF crColor);
    operator HPEN() const { return static_cast<HPEN>(m_hObject); }
};

class CBrush : public CGdiObject {
public:
    BOOL CreateSolidBrush(COLORREF crColor);
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};
