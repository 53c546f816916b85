#include "framework/select_object.h"

#include "framework/dc.h"

CSelectObject::CSelectObject(CDC* pDC, HGDIOBJ hObject)
    : m_hDC(pDC != nullptr ? pDC->m_hDC : nullptr) {
    if (m_hDC != nullptr && hObject != nullptr) {
        const HGDIOBJ hOld = ::SelectObject(m_hDC, hObject);
        m_hOld = hOld == HGDI_ERROR ? nullptr : hOld;
    }
}

CSelectObject::~CSelectObject() {
    if (m_hOld != nullptr) {
        ::SelectObject(m_hDC, m_hOld);
        m_hOld = nullptr;
    }
}
