// What idrovan.dll would otherwise take from the static C++ runtime, written so that it keeps
// nothing past FreeLibrary. The runtime's allocation operators that take std::nothrow call the
// throwing ones inside a try block, and its guards of local statics wait on winpthreads: either
// links in the exception support and winpthreads, which take a TLS index, register a TLS
// callback and a vectored exception handler and allocate an exception pool when the DLL is
// loaded, and give none of it back when it is freed. The DLL's code is built without
// exceptions (api/CMakeLists.txt); these are all the runtime parts it still needs, and the
// linker takes them from here instead of from the runtime's archives.
#include <windows.h>

#include <cstdlib>
#include <new>

// Allocation: the nothrow forms, which is all the DLL's code uses, and the deletes that free
// what they return. malloc and free are the C runtime's, as the runtime's own operators use.
void* operator new(std::size_t nSize, const std::nothrow_t&) noexcept {
    return std::malloc(nSize != 0 ? nSize : 1);
}

void* operator new[](std::size_t nSize, const std::nothrow_t&) noexcept {
    return std::malloc(nSize != 0 ? nSize : 1);
}

void operator delete(void* pBlock) noexcept {
    std::free(pBlock);
}

void operator delete[](void* pBlock) noexcept {
    std::free(pBlock);
}

void operator delete(void* pBlock, std::size_t) noexcept {
    std::free(pBlock);
}

void operator delete[](void* pBlock, std::size_t) noexcept {
    std::free(pBlock);
}

void operator delete(void* pBlock, const std::nothrow_t&) noexcept {
    std::free(pBlock);
}

void operator delete[](void* pBlock, const std::nothrow_t&) noexcept {
    std::free(pBlock);
}

// The guards of local statics (the C++ ABI's __cxa_guard_*), kept in the guard object itself:
// its first byte says "initialised" (the compiler tests it inline before calling here), its
// second "being initialised". The thread that sets the second byte runs the initialiser; any
// other waits until the first byte is set. No lock object, no TLS, nothing to free. An
// initialiser cannot throw here (no exceptions), so a guard is never abandoned; a thread that
// ran into its own initialiser again would wait for ever, which C++ leaves undefined anyway.
namespace {

unsigned char* GuardByte(void* pGuard, int nIndex) {
    return static_cast<unsigned char*>(pGuard) + nIndex;
}

}  // namespace

extern "C" int __cxa_guard_acquire(void* pGuard) {
    for (;;) {
        if (__atomic_load_n(GuardByte(pGuard, 0), __ATOMIC_ACQUIRE) != 0)
            return 0;
        unsigned char nIdle = 0;
        if (__atomic_compare_exchange_n(GuardByte(pGuard, 1), &nIdle, 1, false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED))
            return 1;
        // Another thread runs the initialiser, which takes microseconds; give it the processor.
        ::Sleep(1);
    }
}

extern "C" void __cxa_guard_release(void* pGuard) {
    __atomic_store_n(GuardByte(pGuard, 0), 1, __ATOMIC_RELEASE);
}
