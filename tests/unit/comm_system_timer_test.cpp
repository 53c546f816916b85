#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/threads.h"
#include "support/comm_system_timer.h"
#include "tests/unit/thread_test_support.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

struct Tick {
    Clock::time_point start;
    Clock::time_point end;
};

// What the ticks of one timer did; it outlives the timer.
class CTickLog {
public:
    void Begin(Clock::time_point start) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ticks.push_back({start, Clock::time_point()});
    }

    void End(Clock::time_point end) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ticks.back().end = end;
        m_changed.notify_all();
    }

    void RecordRunResult(bool bResult) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_nRunResult = bResult ? 1 : 0;
    }

    // Waits until nCount ticks have ended.
    bool WaitForTicks(size_t nCount) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kGenerousWait, [&] {
            return m_ticks.size() >= nCount && m_ticks[nCount - 1].end != Clock::time_point();
        });
    }

    std::vector<Tick> Ticks() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ticks;
    }

    size_t Count() { return Ticks().size(); }

    int RunResult() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nRunResult;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Tick> m_ticks;
    int m_nRunResult = -1;
};

class CTestTimer;
// Runs inside the tick numbered nTick (from 1), between its start and end.
using TickHook = std::function<void(CTestTimer& timer, size_t nTick)>;

class CTestTimer : public CCommSystemTimer {
public:
    CTestTimer(CTickLog* pLog, uint32_t nPeriod, TickHook hook = TickHook())
        : m_pLog(pLog), m_hook(std::move(hook)) {
        m_period = nPeriod;
    }
    ~CTestTimer() override { Shutdown(); }

    void SetPeriod(uint32_t nPeriod) { m_period = nPeriod; }

    void OnTimer() override {
        m_pLog->Begin(Clock::now());
        ++m_nTicks;
        if (m_hook) {
            m_hook(*this, m_nTicks);
        }
        m_pLog->End(Clock::now());
    }

    bool OnRunFinished() override {
        m_pLog->RecordRunResult(GetRunResult());
        return false;
    }

private:
    CTickLog* m_pLog;
    TickHook m_hook;
    size_t m_nTicks = 0;
};

// Opens when the test says so; a tick that waits on it stays under way until then.
struct Gate {
    CTestSignal reached;
    CTestSignal open;
    void Pass() {
        reached.Set();
        open.Wait();
    }
};

// The loop's first wait may still use the base period; a check that spans it (2.5 s) shows
// that an inactive timer does not tick at the end of a wait. The next wait is ten minutes long,
// so a tick well inside the bound can only come from Activate's wake-up.
TEST(CommSystemTimerTest, NoTickBeforeActivateAndTheFirstComesAtOnce) {
    CTickLog log;
    CTestTimer timer(&log, 600000, [](CTestTimer& t, size_t) { t.SetPeriod(20); });
    LetTimePass(milliseconds(2500));
    EXPECT_EQ(log.Count(), 0u);
    ASSERT_TRUE(timer.Activate());
    EXPECT_TRUE(log.WaitForTicks(1));
}

constexpr uint32_t kTenMinutesMs = 600000;

// What one round did; shared with the thread that runs it, which a lost wake-up keeps waiting
// past the round's bound.
struct TimerRound {
    CTickLog log;
    std::atomic<bool> bResult{false};
    std::atomic<uint32_t> nThreadId{1};  // 1: not read yet
};

// The constructor does not wait for its thread to begin. An Activate (or a Shutdown, or a Stop
// without Shutdown) sent at once must still reach the loop, whose periods here are ten minutes.
// Each round, the timer's destruction included, has a bound of seconds: a lost wake-up shows as
// a tick that does not come or a Shutdown, Stop or destructor that does not return within it.
TEST(CommSystemTimerTest, WakeUpsRightAfterConstructionAreNeverLost) {
    for (int nRound = 0; nRound < 20; ++nRound) {
        auto pRound = std::make_shared<TimerRound>();
        const bool bReturned = ReturnsWithin(kSequenceBound, [pRound] {
            CTestTimer timer(&pRound->log, kTenMinutesMs);
            pRound->bResult = timer.Activate() && pRound->log.WaitForTicks(1);
        });
        ASSERT_TRUE(bReturned) << "Activate, round " << nRound;
        EXPECT_TRUE(pRound->bResult) << "round " << nRound;
    }
    for (int nRound = 0; nRound < 20; ++nRound) {
        auto pRound = std::make_shared<TimerRound>();
        const bool bReturned = ReturnsWithin(kSequenceBound, [pRound] {
            CTestTimer timer(&pRound->log, kTenMinutesMs);
            pRound->bResult = timer.Shutdown();
        });
        ASSERT_TRUE(bReturned) << "Shutdown, round " << nRound;
        EXPECT_TRUE(pRound->bResult);
        EXPECT_EQ(pRound->log.RunResult(), 0);
    }
    // An inactive loop sleeps without a time-out; Stop alone must wake it, also once the
    // thread is surely asleep.
    for (int nRound = 0; nRound < 3; ++nRound) {
        auto pRound = std::make_shared<TimerRound>();
        const milliseconds asleep(nRound * 100);
        const bool bReturned = ReturnsWithin(kSequenceBound + asleep, [pRound, asleep] {
            CTestTimer timer(&pRound->log, kTenMinutesMs);
            LetTimePass(asleep);
            pRound->bResult = timer.Stop();
            pRound->nThreadId = timer.GetThreadId();
        });
        ASSERT_TRUE(bReturned) << "Stop, round " << nRound;
        EXPECT_TRUE(pRound->bResult);
        EXPECT_EQ(pRound->nThreadId, 0u);
    }
}

enum class ECall { kWaitForStart, kShutdown, kStop };

struct Call {
    ECall eCall;
    bool bExpected;
};

struct CallSequenceCase {
    const char* pszName;
    std::vector<Call> calls;
};

bool MakeCall(CTestTimer& timer, ECall eCall) {
    switch (eCall) {
        case ECall::kWaitForStart:
            return timer.WaitForStart();
        case ECall::kShutdown:
            return timer.Shutdown();
        case ECall::kStop:
            return timer.Stop();
    }
    return false;
}

// What one sequence did; shared with the thread that runs it, which may outlive the test.
struct CallSequenceRun {
    CTickLog log;
    std::vector<bool> results;
    std::atomic<size_t> nCallsReturned{0};
};

// WaitForStart is the owner's to call at any time: it answers at once once the thread has
// begun, however often it is asked, and leaves nothing for a later Shutdown, Stop or the
// destructor to wait for in vain; after the thread has ended there is nothing to wait for.
TEST(CommSystemTimerTest, WaitForStartNeverKeepsShutdownOrStopWaiting) {
    const CallSequenceCase cases[] = {
        {"WaitForStart, Shutdown", {{ECall::kWaitForStart, true}, {ECall::kShutdown, true}}},
        {"WaitForStart twice, Stop",
         {{ECall::kWaitForStart, true}, {ECall::kWaitForStart, true}, {ECall::kStop, true}}},
        {"WaitForStart, destroyed", {{ECall::kWaitForStart, true}}},
        {"Shutdown, WaitForStart", {{ECall::kShutdown, true}, {ECall::kWaitForStart, false}}},
    };
    for (const CallSequenceCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        auto pRun = std::make_shared<CallSequenceRun>();
        const std::vector<Call> calls = c.calls;
        const bool bReturned = ReturnsWithin(kSequenceBound, [pRun, calls] {
            CTestTimer timer(&pRun->log, kTenMinutesMs);
            for (const Call& call : calls) {
                pRun->results.push_back(MakeCall(timer, call.eCall));
                ++pRun->nCallsReturned;
            }
        });
        ASSERT_TRUE(bReturned) << "after " << pRun->nCallsReturned << " calls returned";
        ASSERT_EQ(pRun->results.size(), calls.size());
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(pRun->results[i], calls[i].bExpected) << "call " << i + 1;
        }
    }
}

struct SpacingCase {
    const char* pszName;
    uint32_t nPeriod;
    uint32_t nPeriodSetInTick;  // 0: unchanged
    bool bActivateInTick;
};

// Each tick lasts 40 ms; the next one starts a period after the previous one returned, not a
// period after it started. A wake-up sent during a tick is wiped out by the loop, and a new
// period applies from the next wait on (lengthened past the base period of 2000, so that a
// loop that read the period only once would show).
TEST(CommSystemTimerTest, NextTickStartsOnePeriodAfterThePreviousReturned) {
    const SpacingCase cases[] = {
        {"plain", 60, 0, false},
        {"Activate during a tick", 60, 0, true},
        {"period lengthened during a tick", 20, 2100, false},
    };
    for (const SpacingCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTickLog log;
        CTestTimer timer(&log, c.nPeriod, [&c](CTestTimer& t, size_t) {
            if (c.nPeriodSetInTick != 0) {
                t.SetPeriod(c.nPeriodSetInTick);
            }
            if (c.bActivateInTick) {
                t.Activate();
            }
            std::this_thread::sleep_for(milliseconds(40));
        });
        ASSERT_TRUE(timer.Activate());
        ASSERT_TRUE(log.WaitForTicks(3));
        timer.Deactivate();
        const std::vector<Tick> ticks = log.Ticks();
        const uint32_t nExpected = c.nPeriodSetInTick != 0 ? c.nPeriodSetInTick : c.nPeriod;
        for (size_t i = 1; i < 3; ++i) {
            // Windows may end a wait up to one clock tick (15.6 ms) early.
            EXPECT_GE(ticks[i].start - ticks[i - 1].end, milliseconds(nExpected - 20))
                << "before tick " << i + 1;
        }
    }
}

TEST(CommSystemTimerTest, DeactivateDuringATickLetsItFinishAndStartsNoOther) {
    CTickLog log;
    Gate gate;
    CTestTimer timer(&log, 20, [&gate](CTestTimer&, size_t nTick) {
        if (nTick == 1) {
            gate.Pass();
        }
    });
    ASSERT_TRUE(timer.Activate());
    ASSERT_TRUE(gate.reached.Wait());
    EXPECT_TRUE(timer.Deactivate());
    gate.open.Set();
    ASSERT_TRUE(log.WaitForTicks(1));
    LetTimePass(milliseconds(300));
    EXPECT_EQ(log.Count(), 1u);

    ASSERT_TRUE(timer.Activate());
    EXPECT_TRUE(log.WaitForTicks(2));
}

TEST(CommSystemTimerTest, ShutdownEndsTheThreadForGoodAndMayBeRepeated) {
    CTickLog log;
    CTestTimer timer(&log, 20);
    ASSERT_TRUE(timer.Activate());
    ASSERT_TRUE(log.WaitForTicks(2));
    EXPECT_TRUE(timer.Shutdown());
    const size_t nTicks = log.Count();
    EXPECT_EQ(timer.GetThreadId(), 0u);
    EXPECT_EQ(log.RunResult(), 1);

    EXPECT_TRUE(timer.Shutdown());
    EXPECT_TRUE(timer.Activate());
    LetTimePass(milliseconds(300));
    EXPECT_EQ(log.Count(), nTicks);
}

TEST(CommSystemTimerTest, RunResultIsFalseWhenNoTickRan) {
    CTickLog log;
    CTestTimer timer(&log, 20);
    EXPECT_NE(timer.GetThreadId(), 0u);
    EXPECT_TRUE(timer.Shutdown());
    EXPECT_EQ(log.RunResult(), 0);
}

TEST(CommSystemTimerTest, DestroyingAnActiveTimerWaitsForTheTickUnderWay) {
    CTickLog log;
    Gate gate;
    auto pTimer = std::make_unique<CTestTimer>(&log, 20, [&gate](CTestTimer&, size_t nTick) {
        if (nTick == 1) {
            gate.Pass();
        }
    });
    ASSERT_TRUE(pTimer->Activate());
    ASSERT_TRUE(gate.reached.Wait());

    CTestSignal destroyed;
    std::thread destroyer([&] {
        pTimer.reset();
        destroyed.Set();
    });
    LetTimePass(milliseconds(100));
    EXPECT_EQ(destroyed.Count(), 0);
    gate.open.Set();
    EXPECT_TRUE(destroyed.Wait());
    destroyer.join();

    const std::vector<Tick> ticks = log.Ticks();
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_NE(ticks[0].end, Clock::time_point());
}

struct MissingEventCase {
    const char* pszName;
    uint32_t nEventFailures;  // creations in order: started, finished, lock release, wake, idle
    bool bCanBeActivated;
    bool bTicks;
};

TEST(CommSystemTimerTest, MissingEventsLeaveADefinedTimer) {
    const MissingEventCase cases[] = {
        {"no started event", 0x01, true, false},
        {"no finished event", 0x02, true, false},
        {"no release event in the tick lock", 0x04, true, true},
        {"no wake event", 0x08, false, false},
        {"no idle event", 0x10, true, false},
    };
    for (const MissingEventCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTickLog log;
        VFailEventCreations(c.nEventFailures);
        CTestTimer timer(&log, 20);
        VFailEventCreations(0);
        EXPECT_EQ(timer.GetThreadId() != 0, c.bTicks);
        EXPECT_EQ(timer.Activate(), c.bCanBeActivated);
        if (c.bTicks) {
            EXPECT_TRUE(log.WaitForTicks(1));
        } else {
            LetTimePass(milliseconds(200));
            EXPECT_EQ(log.Count(), 0u);
        }
        EXPECT_EQ(timer.Deactivate(), c.bCanBeActivated);
        EXPECT_EQ(timer.Shutdown(), c.bCanBeActivated);
    }
}

}  // namespace
