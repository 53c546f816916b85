// Many short lives of executors and timers, to shake out races in starting, stopping and taking
// apart (run under ThreadSanitizer and AddressSanitizer as well).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "support/comm_system_timer.h"
#include "support/comm_threaded_executor.h"
#include "tests/unit/thread_test_support.h"

namespace {

using std::chrono::milliseconds;

class CCountingExecutor : public CCommThreadedExecutor {
public:
    CCountingExecutor(std::atomic<int>* pRuns, bool bLoop) : m_pRuns(pRuns), m_bLoop(bLoop) {}
    ~CCountingExecutor() override { Stop(); }

    void SetLoop(bool bLoop) { m_bLoop = bLoop; }

    bool Run() override {
        ++*m_pRuns;
        while (m_bLoop && IsKeepRunning()) {
            std::this_thread::yield();
        }
        return true;
    }

private:
    std::atomic<int>* m_pRuns;
    std::atomic<bool> m_bLoop;
};

TEST(CommThreadStressTest, ThousandStartStopCycles) {
    std::atomic<int> nRuns{0};
    int nStarts = 0;
    CCountingExecutor executor(&nRuns, false);
    for (int i = 0; i < 1000; ++i) {
        executor.SetLoop(i % 2 == 0);
        ASSERT_TRUE(executor.Start());
        ++nStarts;
        if (i % 10 == 0) {
            ASSERT_TRUE(executor.Start());
            ++nStarts;
        }
        ASSERT_TRUE(executor.Stop());
    }
    EXPECT_EQ(nRuns, nStarts);
}

struct TickCounts {
    std::atomic<int> nTicks{0};
    CTestSignal ticked;
};

class CCountingTimer : public CCommSystemTimer {
public:
    explicit CCountingTimer(TickCounts* pCounts) : m_pCounts(pCounts) { m_period = 5; }
    ~CCountingTimer() override { Shutdown(); }

    void OnTimer() override {
        ++m_pCounts->nTicks;
        m_pCounts->ticked.Set();
    }

private:
    TickCounts* m_pCounts;
};

// Never activated, destroyed right after Activate, and destroyed after a tick: a tick on a
// half-destroyed or freed timer shows under the sanitizers.
TEST(CommThreadStressTest, TimersCreatedActivatedAndDestroyed) {
    for (int i = 0; i < 300; ++i) {
        TickCounts counts;
        auto pTimer = std::make_unique<CCountingTimer>(&counts);
        if (i % 3 != 0) {
            ASSERT_TRUE(pTimer->Activate());
        }
        if (i % 3 == 2) {
            ASSERT_TRUE(counts.ticked.Wait());
        }
        pTimer.reset();
        if (i % 3 == 0) {
            ASSERT_EQ(counts.nTicks, 0) << "cycle " << i;
        }
    }
}

// One live timer switched on and off many times while its loop runs: every Activate leads to a
// tick, however it meets the loop (waiting, ticking, or just told to stop), and once deactivated
// at most the tick that had already passed its check still begins.
TEST(CommThreadStressTest, OneTimerActivatedAndDeactivatedManyTimes) {
    TickCounts counts;
    CCountingTimer timer(&counts);
    for (int i = 0; i < 200; ++i) {
        const int nBefore = counts.nTicks;
        ASSERT_TRUE(timer.Activate());
        if (i % 3 == 1) {
            ASSERT_TRUE(timer.Deactivate());
            ASSERT_TRUE(timer.Activate());
        }
        while (counts.nTicks <= nBefore) {
            ASSERT_TRUE(counts.ticked.Wait()) << "cycle " << i;
        }
        if (i % 3 != 2) {
            ASSERT_TRUE(timer.Deactivate());
        }
    }
    ASSERT_TRUE(timer.Deactivate());
    const int nAtDeactivate = counts.nTicks;
    // At the timer's 5 ms period a loop that kept ticking would add dozens by now.
    LetTimePass(milliseconds(300));
    EXPECT_LE(counts.nTicks - nAtDeactivate, 1);
}

}  // namespace
