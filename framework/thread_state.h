// Per-thread bookkeeping of the framework (internal): the object whose window is being created
// and that window,
// the message now being handled (for CWnd::Default), the dispatch depth, and the temporary
// wrappers handed out by FromHandle, which are deleted when the outermost message handled on
// this thread returns.
#pragma once

#include <windows.h>

#include <memory>
#include <unordered_map>

class CWnd;
class CDC;
class CMenu;
class CDialog;

struct CThreadState {
    CWnd* pWndInit = nullptr;        // CreateEx: bound at its window's first message
    HWND hWndInit = nullptr;         // CreateEx: that window, as the creation hook names it
    LPCSTR lpszClassInit = nullptr;  // CreateEx: its class (a name or an atom)
    // Test seam (AfxSetCreationPendingHook): runs inside CreateEx while its window is pending.
    void (*pfnCreationPending)(void* pContext) = nullptr;
    void* pCreationPendingContext = nullptr;
    CDialog* pDlgInit = nullptr;  // DoModal / CreateIndirect: bound at the first dialog message
    MSG currentMsg{};             // hwnd, message, wParam, lParam now being handled
    int nDispatchDepth = 0;

    std::unordered_map<HWND, std::unique_ptr<CWnd>> tempWnds;
    std::unordered_map<HDC, std::unique_ptr<CDC>> tempDCs;
    std::unordered_map<HMENU, std::unique_ptr<CMenu>> tempMenus;

    CThreadState();
    ~CThreadState();
    CThreadState(const CThreadState&) = delete;
    CThreadState& operator=(const CThreadState&) = delete;

    void DeleteTempObjects();
};

CThreadState& AfxGetThreadState();

// The temporary wrapper of hHandle kept in temps (one of the maps above), made on first request
// and attached without taking ownership of the handle.
template <class TObject, class THandle>
TObject* AfxTempObject(std::unordered_map<THandle, std::unique_ptr<TObject>>& temps,
                       THandle hHandle) {
    std::unique_ptr<TObject>& pTemp = temps[hHandle];
    if (!pTemp) {
        pTemp = std::make_unique<TObject>();
        pTemp->Attach(hHandle);
    }
    return pTemp.get();
}
