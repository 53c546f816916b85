#include "framework/client_dc.h"

#include "framework/wnd.h"

CClientDC::CClientDC(CWnd* pWnd) : m_hWnd(pWnd != nullptr ? pWnd->m_hWnd : nullptr) {
    if (m_hWnd != nullptr) {
        m_hDC = ::GetDC(m_hWnd);
    }
}

CClientDC::~CClientDC() {
    if (m_hDC != nullptr) {
        ::ReleaseDC(m_hWnd, m_hDC);
    }
    m_hDC = nullptr;
}
