#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "platform/threads.h"
#include "support/comm_events.h"
#include "support/comm_threaded_executor.h"
#include "tests/unit/thread_test_support.h"

namespace {

using std::chrono::milliseconds;

// What the bodies of one test did; it outlives the executors that report to it.
struct BodyLog {
    std::atomic<int> nEntered{0};
    std::atomic<int> nLive{0};
    std::atomic<int> nMostLive{0};
    std::atomic<int> nReturned{0};
    std::atomic<int> nResultSeenAfterRun{-1};
    std::atomic<int> nRunsFinished{0};
    CTestSignal entered;
    CTestSignal finished;
};

enum class EBody { kReturnAtOnce, kLoopUntilAsked };

// A body that either returns at once or runs until asked to end, then returns bResult.
class CTestExecutor : public CCommThreadedExecutor {
public:
    CTestExecutor(BodyLog* pLog, EBody eBody, bool bResult)
        : m_pLog(pLog), m_eBody(eBody), m_bResult(bResult) {}
    ~CTestExecutor() override { Stop(); }

    using CCommThreadedExecutor::ThreadRoutine;

    bool Run() override {
        ++m_pLog->nEntered;
        const int nLive = ++m_pLog->nLive;
        int nMost = m_pLog->nMostLive;
        while (nLive > nMost && !m_pLog->nMostLive.compare_exchange_weak(nMost, nLive)) {
        }
        m_pLog->entered.Set();
        while (m_eBody == EBody::kLoopUntilAsked && IsKeepRunning()) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        --m_pLog->nLive;
        ++m_pLog->nReturned;
        return m_bResult;
    }

    bool OnRunFinished() override {
        m_pLog->nResultSeenAfterRun = GetRunResult() ? 1 : 0;
        ++m_pLog->nRunsFinished;
        m_pLog->finished.Set();
        return true;
    }

private:
    BodyLog* m_pLog;
    EBody m_eBody;
    bool m_bResult;
};

TEST(CommThreadedExecutorTest, StopWithoutAThreadReturnsFalseAndWaitsForNothing) {
    CCommThreadedExecutor executor;
    EXPECT_FALSE(executor.Stop());
    EXPECT_FALSE(executor.Stop());
    EXPECT_EQ(executor.GetThreadId(), 0u);
    EXPECT_FALSE(executor.GetRunResult());
}

TEST(CommThreadedExecutorTest, BaseBodyEndsAtOnceAndStopStillReportsTheFinish) {
    CCommThreadedExecutor executor;
    EXPECT_TRUE(executor.Start());
    EXPECT_NE(executor.GetThreadId(), 0u);
    EXPECT_TRUE(executor.Stop());
    EXPECT_EQ(executor.GetThreadId(), 0u);
    EXPECT_FALSE(executor.Stop());
}

struct RunCase {
    const char* pszName;
    EBody eBody;
    bool bResult;
};

// The run result is stored before OnRunFinished, Stop
// returns only after OnRunFinished, and only the first Stop after a run reports it.
TEST(CommThreadedExecutorTest, RunResultAndStopOrdering) {
    const RunCase cases[] = {
        {"returns false at once", EBody::kReturnAtOnce, false},
        {"returns true at once", EBody::kReturnAtOnce, true},
        {"loops, then false", EBody::kLoopUntilAsked, false},
        {"loops, then true", EBody::kLoopUntilAsked, true},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        BodyLog log;
        CTestExecutor executor(&log, c.eBody, c.bResult);
        ASSERT_TRUE(executor.Start());
        ASSERT_TRUE(log.entered.Wait());
        if (c.eBody == EBody::kReturnAtOnce) {
            ASSERT_TRUE(log.finished.Wait());
            EXPECT_EQ(executor.GetRunResult(), c.bResult);
        }
        EXPECT_TRUE(executor.Stop());
        EXPECT_EQ(log.nReturned, 1);
        EXPECT_EQ(log.nRunsFinished, 1);
        EXPECT_EQ(log.nResultSeenAfterRun, c.bResult ? 1 : 0);
        EXPECT_FALSE(executor.GetRunResult());
        EXPECT_EQ(executor.GetThreadId(), 0u);
        EXPECT_FALSE(executor.Stop());
    }
}

struct ExitCodeCase {
    const char* pszName;
    bool bNullParameter;
    bool bResult;
    uint32_t nExitCode;
};

TEST(CommThreadedExecutorTest, ThreadRoutineExitCodeCarriesTheRunResult) {
    const ExitCodeCase cases[] = {
        {"no executor", true, true, 0},
        {"body returns false", false, false, 0},
        {"body returns true", false, true, 1},
    };
    for (const ExitCodeCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        BodyLog log;
        CTestExecutor executor(&log, EBody::kReturnAtOnce, c.bResult);
        EXPECT_EQ(CTestExecutor::ThreadRoutine(c.bNullParameter ? nullptr : &executor),
                  c.nExitCode);
        EXPECT_EQ(log.nEntered, c.bNullParameter ? 0 : 1);
        EXPECT_EQ(executor.GetRunResult(), !c.bNullParameter && c.bResult);
    }
}

TEST(CommThreadedExecutorTest, StartOnARunningExecutorEndsTheOldThreadFirst) {
    BodyLog log;
    CTestExecutor executor(&log, EBody::kLoopUntilAsked, true);
    ASSERT_TRUE(executor.Start());
    ASSERT_TRUE(log.entered.Wait());
    ASSERT_TRUE(executor.Start());
    EXPECT_EQ(log.nReturned, 1);
    ASSERT_TRUE(log.entered.Wait());
    EXPECT_EQ(log.nEntered, 2);
    EXPECT_EQ(log.nMostLive, 1);
    EXPECT_NE(executor.GetThreadId(), 0u);
    EXPECT_TRUE(executor.Stop());
    EXPECT_EQ(log.nReturned, 2);
}

enum class ECall { kStart, kWaitForStart, kWaitForFinish, kStop };

struct Call {
    ECall eCall;
    bool bExpected;
};

struct CallSequenceCase {
    const char* pszName;
    EBody eBody;
    std::vector<Call> calls;
};

// What one sequence did; shared with the thread that runs it, which may outlive the test.
struct CallSequenceRun {
    BodyLog log;
    std::unique_ptr<CTestExecutor> pExecutor;
    std::vector<bool> results;
    std::atomic<size_t> nCallsReturned{0};
};

bool MakeCall(CCommThreadedExecutor& executor, ECall eCall) {
    switch (eCall) {
        case ECall::kStart:
            return executor.Start();
        case ECall::kWaitForStart:
            return executor.WaitForStart();
        case ECall::kWaitForFinish:
            return executor.WaitForFinish();
        case ECall::kStop:
            return executor.Stop();
    }
    return false;
}

// The owner may ask for the start or the finish as often as it likes: once the signal has
// come every wait returns at once, without a thread there is nothing to wait for, and no wait
// takes a signal that a later Stop then waits for in vain.
TEST(CommThreadedExecutorTest, WaitsAnswerAtOnceOnceTheirSignalCameAndNeverHang) {
    const CallSequenceCase cases[] = {
        {"never started",
         EBody::kLoopUntilAsked,
         {{ECall::kWaitForStart, false}, {ECall::kWaitForFinish, false}, {ECall::kStop, false}}},
        {"started, then asked twice whether it began",
         EBody::kLoopUntilAsked,
         {{ECall::kStart, true},
          {ECall::kWaitForStart, true},
          {ECall::kWaitForStart, true},
          {ECall::kStop, true},
          {ECall::kWaitForStart, false},
          {ECall::kWaitForFinish, false}}},
        {"body ended, asked twice whether it finished",
         EBody::kReturnAtOnce,
         {{ECall::kStart, true},
          {ECall::kWaitForFinish, true},
          {ECall::kWaitForFinish, true},
          {ECall::kWaitForStart, true},
          {ECall::kStop, false},
          {ECall::kWaitForFinish, false}}},
        {"started again after a wait",
         EBody::kLoopUntilAsked,
         {{ECall::kStart, true},
          {ECall::kWaitForStart, true},
          {ECall::kStart, true},
          {ECall::kWaitForStart, true},
          {ECall::kStop, true}}},
    };
    for (const CallSequenceCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        auto pRun = std::make_shared<CallSequenceRun>();
        pRun->pExecutor.reset(new CTestExecutor(&pRun->log, c.eBody, true));
        const std::vector<Call> calls = c.calls;
        const bool bReturned = ReturnsWithin(kSequenceBound, [pRun, calls] {
            for (const Call& call : calls) {
                pRun->results.push_back(MakeCall(*pRun->pExecutor, call.eCall));
                ++pRun->nCallsReturned;
            }
            pRun->pExecutor.reset();
        });
        ASSERT_TRUE(bReturned) << "after " << pRun->nCallsReturned << " calls returned";
        ASSERT_EQ(pRun->results.size(), calls.size());
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(pRun->results[i], calls[i].bExpected) << "call " << i + 1;
        }
    }
}

// Its body uses nothing of the derived object once it has begun, so the base destructor alone
// has to keep the object alive until the body is done.
class CLingeringExecutor : public CCommThreadedExecutor {
public:
    CLingeringExecutor(CTestSignal* pEntered, std::atomic<bool>* pReturned)
        : m_pEntered(pEntered), m_pReturned(pReturned) {}

    bool Run() override {
        std::atomic<bool>* pReturned = m_pReturned;
        m_pEntered->Set();
        while (IsKeepRunning()) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        // Late on purpose: a destructor that did not wait would be gone by now.
        std::this_thread::sleep_for(milliseconds(50));
        *pReturned = true;
        return true;
    }

private:
    CTestSignal* m_pEntered;
    std::atomic<bool>* m_pReturned;
};

TEST(CommThreadedExecutorTest, DestroyingARunningExecutorWaitsForItsBody) {
    CTestSignal entered;
    std::atomic<bool> bReturned{false};
    std::unique_ptr<CLingeringExecutor> pExecutor(new CLingeringExecutor(&entered, &bReturned));
    ASSERT_TRUE(pExecutor->Start());
    ASSERT_TRUE(entered.Wait());
    pExecutor.reset();
    EXPECT_TRUE(bReturned);
}

struct FailureCase {
    const char* pszName;
    uint32_t nEventFailures;
    uint32_t nThreadFailures;
};

// Without its started or finished event, or without a thread, Start fails and no body runs:
// a thread that nobody could wait for might outlive the executor.
TEST(CommThreadedExecutorTest, StartFailsWithoutLeavingAThreadBehind) {
    const FailureCase cases[] = {
        {"no started event", 0x1, 0},
        {"no finished event", 0x2, 0},
        {"no thread", 0, 0x1},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        BodyLog log;
        VFailEventCreations(c.nEventFailures);
        VFailThreadCreations(c.nThreadFailures);
        {
            CTestExecutor executor(&log, EBody::kLoopUntilAsked, true);
            VFailEventCreations(0);
            EXPECT_FALSE(executor.Start());
            VFailThreadCreations(0);
            EXPECT_EQ(executor.GetThreadId(), 0u);
            EXPECT_FALSE(executor.Stop());
        }
        LetTimePass(milliseconds(100));
        EXPECT_EQ(log.nEntered, 0);
    }
}

#ifdef _WIN32
// A body that waits in the kernel until its thread is killed.
class CBlockedExecutor : public CCommThreadedExecutor {
public:
    explicit CBlockedExecutor(CTestSignal* pEntered) : m_pEntered(pEntered) {
        m_hNever = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~CBlockedExecutor() override {
        Stop();
        CloseHandle(m_hNever);
        m_hNever = nullptr;
    }

    bool Run() override {
        m_pEntered->Set();
        WaitForSingleObject(m_hNever, INFINITE);
        return true;
    }

private:
    CTestSignal* m_pEntered;
    HANDLE m_hNever = nullptr;
};

struct KilledRun {
    CTestSignal entered;
    std::unique_ptr<CBlockedExecutor> pExecutor;
    std::vector<bool> results;
};

// A worker killed on the way, as every other thread is when the process exits before the objects
// of a DLL are destroyed, never signals its finish: WaitForFinish, Stop and the destructor end
// with the thread all the same, and say that its body did not finish.
TEST(CommThreadedExecutorTest, StopEndsWithAWorkerThatWasKilled) {
    for (bool bWaitForFinishFirst : {false, true}) {
        SCOPED_TRACE(bWaitForFinishFirst ? "WaitForFinish, then Stop" : "Stop");
        auto pRun = std::make_shared<KilledRun>();
        pRun->pExecutor.reset(new CBlockedExecutor(&pRun->entered));
        ASSERT_TRUE(pRun->pExecutor->Start());
        ASSERT_TRUE(pRun->entered.Wait());
        HANDLE hThread =
            OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, pRun->pExecutor->GetThreadId());
        ASSERT_NE(hThread, nullptr) << GetLastError();
        ASSERT_TRUE(TerminateThread(hThread, 7));
        ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
        CloseHandle(hThread);

        const bool bReturned = ReturnsWithin(kSequenceBound, [pRun, bWaitForFinishFirst] {
            if (bWaitForFinishFirst)
                pRun->results.push_back(pRun->pExecutor->WaitForFinish());
            pRun->results.push_back(pRun->pExecutor->Stop());
            pRun->pExecutor.reset();
        });
        ASSERT_TRUE(bReturned) << "a wait for the killed worker never ended";
        EXPECT_EQ(pRun->results, std::vector<bool>(bWaitForFinishFirst ? 2 : 1, false));
    }
}
#endif

TEST(CommThreadedExecutorTest, WaitForSignalNeedsASignal) {
    EXPECT_FALSE(WaitForSignal(nullptr, VINFINITE));
    VEVENT hEvent = CreateAutoResetEvent();
    ASSERT_NE(hEvent, nullptr);
    EXPECT_FALSE(WaitForSignal(hEvent, 0));
    VSetEvent(hEvent);
    EXPECT_TRUE(WaitForSignal(hEvent, 0));
    EXPECT_FALSE(WaitForSignal(hEvent, 0));
    VCloseEvent(hEvent);
    VFailEventCreations(0x1);
    EXPECT_EQ(CreateAutoResetEvent(), nullptr);
}

}  // namespace
