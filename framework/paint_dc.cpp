#include "framework/paint_dc.h"

#include "framework/wnd.h"

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd != nullptr ? pWnd->m_hWnd : nullptr) {
    if (m_hWnd != nullptr) {
        m_hDC = ::BeginPaint(m_hWnd, &m_ps);
    }
}

CPaintDC::~CPaintDC() {
    if (m_hWnd != nullptr) {
        ::EndPaint(m_hWnd, &m_ps);
    }
    m_hDC = nullptr;
}
