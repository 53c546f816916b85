// CCommSystemTimer calls the virtual OnTimer on a thread of its own: once straight away when
// it is activated, then again each time m_period milliseconds pass after the previous OnTimer
// returned, until it is deactivated or shut down. Derive and override OnTimer.
//
// Lifetime of the thread: the constructor starts it and returns once the timer loop is
// waiting, so a wake-up sent by an Activate right after construction is never lost. The thread
// lives until Shutdown or the destructor; before Activate (and after Deactivate) it only wakes
// at the end of each period and goes back to waiting.
//
// Threading: one owner thread constructs, calls Activate, Deactivate and Shutdown, and
// destroys; OnTimer runs only on the timer thread, never two at once, while the owner goes on
// with its own work. A derived constructor may set m_period; the loop reads it afresh for each
// wait, so the first wait may still use the 2000 set here. A wake-up that arrives while OnTimer
// runs is lost (the loop resets its wake event before each wait): the next tick then comes a
// full period later. Shutdown and the destructor are not delayed that way: the loop checks
// their stop request after that reset, so the thread ends as soon as a tick under way returns.
// Shutdown and the destructor wait for the thread without limit; an OnTimer that never
// returns keeps them waiting. They must not be called from OnTimer.
//
// Contract for derived timers: a derived timer calls Shutdown() first thing in its destructor.
// The derived part is destroyed before this class's destructor ends the thread, so without
// that a tick could still run the derived OnTimer on a half-destroyed object. Shutdown may be
// called any number of times; after the first, the others return true at once.
//
// Ownership: the timer owns its wake and idle events, its tick lock and, through the executor,
// its thread.
#ifndef IDROVAN_SUPPORT_COMM_SYSTEM_TIMER_H
#define IDROVAN_SUPPORT_COMM_SYSTEM_TIMER_H

#include "platform/threads.h"
#include "support/comm_reentrant_lock.h"
#include "support/comm_threaded_executor.h"

#include <atomic>
#include <cstdint>

class CCommSystemTimer : public CCommThreadedExecutor {
public:
    CCommSystemTimer();
    ~CCommSystemTimer() override;

    // The timer loop; its value (true when at least one tick ran) is the run result.
    bool Run() override;

    // The tick, on the timer thread. The base version does nothing.
    virtual void OnTimer();
    // Starts ticking with a tick at once. False when the timer has no wake event.
    virtual bool Activate();
    // Lets a tick under way finish and begins no further one. False without a wake event.
    virtual bool Deactivate();
    // Deactivates, ends the loop and waits until the thread has ended. False without a wake
    // event.
    virtual bool Shutdown();

protected:
    // Milliseconds each wait of the loop lasts; the time between one tick's end and the next.
    std::atomic<uint32_t> m_period;

private:
    // Around the changes of the idle event and the in-tick flag, so that a holder sees the two
    // agree. Never held while OnTimer runs.
    CCommReentrantLock m_tickLock;
    // Ends the loop's current wait early.
    VEVENT m_hWakeEvent;
    // Signalled once the loop is waiting; non-signalled while a tick runs.
    VEVENT m_hIdleEvent;
    std::atomic<bool> m_bActive;
    std::atomic<bool> m_bInTick;
};

#endif
