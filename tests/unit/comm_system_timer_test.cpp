#include <gtest/gtest.h>

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

// The constructor does not wait for its thread to begin. An Activate (or a Shutdown, or a Stop
// without Shutdown) sent at once must still reach the loop, whose periods here are ten minutes:
// a lost wake-up would show as a tick or an end that never comes within the bound.
TEST(CommSystemTimerTest, WakeUpsRightAfterConstructionAreNeverLost) {
    for (int nRound = 0; nRound < 20; ++nRound) {
        CTickLog log;
        CTestTimer timer(&log, 600000);
        ASSERT_TRUE(timer.Activate());
        ASSERT_TRUE(log.WaitForTicks(1)) << "round " << nRound;
    }
    for (int nRound = 0; nRound < 20; ++nRound) {
        CTickLog log;
        CTestTimer timer(&log, 600000);
        EXPECT_TRUE(timer.Shutdown());
        EXPECT_EQ(log.RunResult(), 0);
    }
    // An inactive loop sleeps without a time-out; Stop alone must wake it, also once the
    // thread is surely asleep.
    for (int nRound = 0; nRound < 3; ++nRound) {
        CTickLog log;
        CTestTimer timer(&log, 600000);
        LetTimePass(milliseconds(nRound * 100));
        EXPECT_TRUE(timer.Stop());
        EXPECT_EQ(timer.GetThreadId(), 0u);
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
