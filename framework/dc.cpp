#include "framework/dc.h"

#include "framework/thread_state.h"

CDC* CDC::FromHandle(HDC hDC) {
    if (hDC == nullptr) {
        return nullptr;
    }
    return AfxTempObject(AfxGetThreadState().tempDCs, hDC);
}

BOOL CDC::Attach(HDC hDC) {
    if (m_hDC != nullptr || hDC == nullptr) {
        return FALSE;
    }
    m_hDC = hDC;
    return TRUE;
}

HDC CDC::Detach() {
    const HDC hDC = m_hDC;
    m_hDC = nullptr;
    return hDC;
}

HGDIOBJ CDC::SelectObject(HGDIOBJ hObject) {
    if (m_hDC == nullptr || hObject == nullptr) {
        return nullptr;
    }
    const HGDIOBJ hOld = ::SelectObject(m_hDC, hObject);
    return hOld == HGDI_ERROR ? nullptr : hOld;
}

COLORREF CDC::SetTextColor(COLORREF crColor) {
    return ::SetTextColor(m_hDC, crColor);
}

COLORREF CDC::SetBkColor(COLORREF crColor) {
    return ::SetBkColor(m_hDC, crColor);
}

int CDC::SetBkMode(int nBkMode) {
    return ::SetBkMode(m_hDC, nBkMode);
}

BOOL CDC::TextOut(int x, int y, LPCSTR lpszString, int nCount) {
    if (lpszString == nullptr || nCount < 0) {
        return FALSE;
    }
    return ::TextOutA(m_hDC, x, y, lpszString, nCount);
}

BOOL CDC::TextOut(int x, int y, LPCWSTR lpszString, int nCount) {
    if (lpszString == nullptr || nCount < 0) {
        return FALSE;
    }
    return ::TextOutW(m_hDC, x, y, lpszString, nCount);
}

CSize CDC::GetTextExtent(LPCSTR lpszString, int nCount) const {
    SIZE size{0, 0};
    if (lpszString == nullptr || nCount < 0 ||
        !::GetTextExtentPoint32A(m_hDC, lpszString, nCount, &size)) {
        return CSize(0, 0);
    }
    return CSize(size);
}

int CDC::GetTextFace(int nCount, LPSTR lpszFacename) const {
    if (lpszFacename == nullptr || nCount <= 0) {
        return 0;
    }
    return ::GetTextFaceA(m_hDC, nCount, lpszFacename);
}

BOOL CDC::GetTextMetrics(LPTEXTMETRICA lpMetrics) const {
    if (lpMetrics == nullptr) {
        return FALSE;
    }
    return ::GetTextMetricsA(m_hDC, lpMetrics);
}

BOOL CDC::Rectangle(int x1, int y1, int x2, int y2) {
    return ::Rectangle(m_hDC, x1, y1, x2, y2);
}

BOOL CDC::Rectangle(LPCRECT lpRect) {
    if (lpRect == nullptr) {
        return FALSE;
    }
    return Rectangle(lpRect->left, lpRect->top, lpRect->right, lpRect->bottom);
}

void CDC::FillSolidRect(LPCRECT lpRect, COLORREF clr) {
    if (lpRect == nullptr) {
        return;
    }
    const COLORREF crOld = ::SetBkColor(m_hDC, clr);
    ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, lpRect, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, crOld);
}

BOOL CDC::DrawIcon(int x, int y, HICON hIcon) {
    return ::DrawIcon(m_hDC, x, y, hIcon);
}
