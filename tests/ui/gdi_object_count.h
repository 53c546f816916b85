// How many GDI objects this process holds, for the tests that look for GDI leaks. Windows reports
// the number itself. Wine's GetGuiResources only fails with ERROR_CALL_NOT_IMPLEMENTED, so there
// the number is read from the way Wine hands out GDI handles: one table for the process, device
// contexts included, a new object taking the slot freed last, or the next never-used slot once no
// freed slot is left. The result is then the objects alive plus a constant (the table's reserved
// slots), which is all a before-and-after comparison needs.
// Test-only; call it from one thread while no other thread makes or deletes GDI objects.
#pragma once

#include <windows.h>

#include <vector>

namespace ui_test {

// A GDI handle's slot in the process's handle table.
inline unsigned GdiSlot(HGDIOBJ hObject) {
    return LOWORD(reinterpret_cast<UINT_PTR>(hObject));
}

// Takes more slots than this process keeps free (tests hold a few hundred objects at most), so
// that the last ones taken are never-used slots in a row. Then
//   highest slot + 1 - slots taken = first never-used slot - freed slots,
// which is one more for every object alive. Deleting the probes last-first leaves the freed
// slots in the order they were, so a second count sees the same table. -1 when the last slots
// taken were not in a row: the freed slots outnumbered the probes, or handles are not handed
// out this way.
inline long CountGdiSlotsInUse() {
    constexpr size_t kProbes = 4096;
    constexpr size_t kRun = 64;
    std::vector<HBRUSH> probes;
    probes.reserve(kProbes);
    unsigned nHighest = 0;
    for (size_t i = 0; i < kProbes; ++i) {
        const HBRUSH hBrush = ::CreateSolidBrush(RGB(i & 0xFF, 0, 0));
        if (hBrush == nullptr) {
            break;
        }
        probes.push_back(hBrush);
        nHighest = GdiSlot(hBrush) > nHighest ? GdiSlot(hBrush) : nHighest;
    }
    bool bInARow = probes.size() == kProbes && GdiSlot(probes.back()) == nHighest;
    for (size_t i = kProbes - kRun; bInARow && i + 1 < probes.size(); ++i) {
        bInARow = GdiSlot(probes[i + 1]) == GdiSlot(probes[i]) + 1;
    }
    for (auto it = probes.rbegin(); it != probes.rend(); ++it) {
        ::DeleteObject(*it);
    }
    return bInARow ? static_cast<long>(nHighest) + 1 - static_cast<long>(kProbes) : -1;
}

// This process's GDI objects, as described above; -1 when neither way works.
inline long CountGdiObjects() {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD nReported = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    if (nReported != 0 || ::GetLastError() == ERROR_SUCCESS) {
        return static_cast<long>(nReported);
    }
    return CountGdiSlotsInUse();
}

}  // namespace ui_test
