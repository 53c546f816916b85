// CDC: a device context the object does not own. CDC::FromHandle gives a temporary wrapper that
// lives only while the current message is handled (do not keep the pointer); the owning kinds
// are CPaintDC (framework/paint_dc.h) and CClientDC (framework/client_dc.h).
// A device context belongs to the thread that obtained it.
#pragma once

#include <windows.h>

#include "framework/types.h"

class CDC {
public:
    CDC() = default;
    virtual ~CDC() = default;

    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // Temporary wrapper for hDC, valid while the current message is handled; null for null.
    static CDC* FromHandle(HDC hDC);

    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

    BOOL Attach(HDC hDC);
    HDC Detach();

    // Selects hObject and returns the object that was selected before (null on failure). Put
    // that previous object back before deleting hObject.
    HGDIOBJ SelectObject(HGDIOBJ hObject);

    COLORREF SetTextColor(COLORREF crColor);
    COLORREF SetBkColor(COLORREF crColor);
    int SetBkMode(int nBkMode);

    BOOL TextOut(int x, int y, LPCSTR lpszString, int nCount);
    BOOL TextOut(int x, int y, LPCWSTR lpszString, int nCount);
    CSize GetTextExtent(LPCSTR lpszString, int nCount) const;
    int GetTextFace(int nCount, LPSTR lpszFacename) const;
    BOOL GetTextMetrics(LPTEXTMETRICA lpMetrics) const;

    BOOL Rectangle(int x1, int y1, int x2, int y2);
    BOOL Rectangle(LPCRECT lpRect);
    void FillSolidRect(LPCRECT lpRect, COLORREF clr);
    BOOL DrawIcon(int x, int y, HICON hIcon);

    HDC m_hDC = nullptr;
};
