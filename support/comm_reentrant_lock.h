// CCommReentrantLock is a lock that the thread holding it may take again: it is given up only
// when every Lock of that thread has been matched by an Unlock. Other threads that want it
// wait on its release event until then. An Unlock by a thread that does not hold the lock, or
// on a free lock, changes nothing.
//
// Threading: Lock and Unlock may be called from any thread; construction and destruction
// belong to the owning object, with no thread holding or waiting for the lock.
//
// Inside, a short-held guard protects the bookkeeping (locked, owner, depth); the holder
// critical section is entered by the thread that takes the free lock and left when that thread
// gives it up completely, so a thread that takes the lock next completes only after the
// previous holder has left it. The only nesting is guard, then holder.
#ifndef IDROVAN_SUPPORT_COMM_REENTRANT_LOCK_H
#define IDROVAN_SUPPORT_COMM_REENTRANT_LOCK_H

#include "platform/threads.h"

#include <cstdint>

class CCommReentrantLock {
public:
    CCommReentrantLock();
    ~CCommReentrantLock();

    CCommReentrantLock(const CCommReentrantLock&) = delete;
    CCommReentrantLock& operator=(const CCommReentrantLock&) = delete;

    void Lock();
    void Unlock();

private:
    CPlatformCriticalSection m_holder;
    CPlatformCriticalSection m_guard;
    bool m_bLocked;
    uint32_t m_nOwner;
    int32_t m_nDepth;
    // Manual reset: set while the lock is free, reset when it is taken. Without it a waiting
    // thread retries at once instead of sleeping.
    VEVENT m_hReleaseEvent;
};

#endif
