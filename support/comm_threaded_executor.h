// CCommThreadedExecutor runs one body of work, the virtual Run, on a worker thread of its own.
// The owner starts the thread and waits until it has begun; later it asks the body to end and
// waits until the thread has ended. The base Run returns false at once: derive to give it work.
//
// Threading: the owner thread constructs, calls Start and Stop, and destroys; the worker runs
// Run and then OnRunFinished. Start returns only after the worker has begun, Stop only after
// the worker has finished its body and OnRunFinished and the thread has ended. No thread
// outlives its executor. A body that loops tests IsKeepRunning() and returns once it is false;
// Stop waits for it without a time limit. Start, Stop and the destructor must not be called
// on the worker thread itself: they would wait for that very thread.
//
// Derived classes: the derived part is destroyed before this class's destructor stops the
// thread, so a derived class whose body or OnRunFinished uses members of its own calls Stop()
// first thing in its destructor. Likewise the worker may still be looking up Run in the
// virtual table when Start returns, so Start is called on a fully constructed object; a class
// that starts from its own constructor (as CCommSystemTimer does) uses StartFromConstructor,
// whose thread calls a plain function instead of looking Run up.
//
// Ownership: the executor owns its started and finished events and the handle of its thread.
// Both events are manual-reset, set by the thread and reset only when the executor goes back
// to idle: a wait for the start or the finish consumes nothing, so no sequence of the owner's
// calls can leave a later wait with nothing to wait for.
#ifndef IDROVAN_SUPPORT_COMM_THREADED_EXECUTOR_H
#define IDROVAN_SUPPORT_COMM_THREADED_EXECUTOR_H

#include "platform/threads.h"

#include <atomic>
#include <cstdint>

class CCommThreadedExecutor {
public:
    CCommThreadedExecutor();
    virtual ~CCommThreadedExecutor();

    CCommThreadedExecutor(const CCommThreadedExecutor&) = delete;
    CCommThreadedExecutor& operator=(const CCommThreadedExecutor&) = delete;

    // Ends a thread still held, then starts a new one. True once the new thread has begun;
    // false, with no thread left behind, when the thread or its events could not be made.
    virtual bool Start();
    // Asks the body to end and waits without limit for the thread to end, whether it returned
    // or was killed. True only when a thread had begun, its finish had not been waited for yet,
    // and it finished its body; afterwards the executor is idle.
    virtual bool Stop();
    // The body, run on the worker thread. Its value becomes the run result and exit code.
    virtual bool Run();
    // Called on the worker thread after Run has returned; the value is ignored.
    virtual bool OnRunFinished();
    // Owner thread only, like the two waits below. Waits without limit until the thread held
    // has ended, then marks it as no longer alive; true when it finished its body (at once when
    // it has already ended, however often asked), false for a thread that was killed first.
    // False without waiting when no thread is held.
    virtual bool WaitForFinish();
    // Waits without limit until the thread held has begun; true at once once it has, however
    // often asked. False without waiting when no thread is held. The owner may call it at any
    // time: it takes nothing that Stop, Start or the destructor wait for later.
    virtual bool WaitForStart();

    // What the last Run returned; false after construction and after every Stop or Start.
    bool GetRunResult() const { return m_bRunResult; }
    // Identifier of the thread held, 0 while none is held.
    uint32_t GetThreadId() const { return m_nThreadId; }

protected:
    // The worker thread's entry point; its value (1 when Run returned true, else 0) is the
    // thread's exit code. Returns 0 at once for a null parameter.
    static uint32_t ThreadRoutine(void* pParam);

    bool IsKeepRunning() const { return m_bKeepRunning; }
    void ClearKeepRunning() { m_bKeepRunning = false; }

    // The body of a thread started by StartFromConstructor, called in place of Run.
    using BodyFunction = bool (*)(CCommThreadedExecutor* pExecutor);
    // Start for a class that starts its thread from its own constructor. The thread calls
    // pfnBody instead of looking up the virtual Run, which a further-derived constructor may be
    // rewriting at that moment; and the caller does not wait for the thread to begin, so that
    // constructing overlaps with the thread's start-up. The wait for the start is left to the
    // first Stop (and so to Start and the destructor), the one place whose result depends on
    // it, or to the owner's own WaitForStart: from the caller's side the executor is as if Start
    // had returned. False when no thread could be made.
    bool StartFromConstructor(BodyFunction pfnBody);
    // An event that Stop signals after clearing keep-running, for a body that sleeps on it
    // without a time-out; null for none. The caller keeps it alive until it sets null again.
    void SetWakeOnStop(VEVENT hEvent) { m_hWakeOnStop = hEvent; }

private:
    // Back to idle: no thread held, keep-running set, events non-signalled. The caller closes
    // a thread handle first and makes sure that no thread of ours is left to signal them.
    void Reset();
    // Creates the thread suspended, records it, resumes it. False, with no thread held, when
    // the thread or its events could not be made.
    bool Launch();

    VTHREAD m_hThread;
    uint32_t m_nThreadId;
    // Manual-reset events that the thread sets once it has begun and once its body and
    // OnRunFinished are done; they stay set until the next reset, so any number of waits see
    // them.
    VEVENT m_hStartedEvent;
    VEVENT m_hFinishedEvent;
    std::atomic<bool> m_bKeepRunning;
    std::atomic<bool> m_bRunResult;
    std::atomic<bool> m_bThreadAlive;
    // Set before the thread is resumed, read by it: the body in place of Run, or null.
    BodyFunction m_pfnBody = nullptr;
    VEVENT m_hWakeOnStop = nullptr;
};

#endif
