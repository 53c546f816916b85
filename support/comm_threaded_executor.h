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
// that starts from its own constructor (as CCommSystemTimer does) waits until Run has been
// entered before any further-derived constructor may run.
//
// Ownership: the executor owns its started and finished events and the handle of its thread.
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
    // Asks the body to end and waits without limit for the thread. True only when a thread
    // was alive and its finished event arrived; afterwards the executor is idle again.
    virtual bool Stop();
    // The body, run on the worker thread. Its value becomes the run result and exit code.
    virtual bool Run();
    // Called on the worker thread after Run has returned; the value is ignored.
    virtual bool OnRunFinished();
    // Waits without limit for the finished event, then marks the thread as no longer alive.
    virtual bool WaitForFinish();
    // Waits without limit for the started event.
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

private:
    // Back to idle: no thread held, keep-running set, events non-signalled. The caller closes
    // a thread handle first.
    void Reset();

    VTHREAD m_hThread;
    uint32_t m_nThreadId;
    VEVENT m_hStartedEvent;
    VEVENT m_hFinishedEvent;
    std::atomic<bool> m_bKeepRunning;
    std::atomic<bool> m_bRunResult;
    std::atomic<bool> m_bThreadAlive;
};

#endif
