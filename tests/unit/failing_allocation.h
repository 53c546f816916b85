#pragma once

// One chosen allocation that fails. Every text takes its buffer from the nothrow array form of
// operator new; a test program that includes this header (in exactly one of its source files)
// replaces that operator with one that lets g_nFailIn allocations through and fails the next,
// so that a failure is real all the way up. Only one allocation fails per arming: g_nFailIn is
// -1 again once it has.

#include <atomic>
#include <cstddef>
#include <new>

namespace {
// Allocations to let through before one fails; -1: none fails.
std::atomic<int> g_nFailIn{-1};
}  // namespace

void* operator new[](std::size_t nBytes, const std::nothrow_t&) noexcept {
    const int nFailIn = g_nFailIn.load();
    if (nFailIn >= 0) {
        g_nFailIn = nFailIn - 1;
        if (nFailIn == 0)
            return nullptr;
    }
    try {
        return ::operator new[](nBytes);
    } catch (...) {
        return nullptr;
    }
}
