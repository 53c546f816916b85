// The thread and event layer, natively on the standard library and under Wine on Win32: both
// must behave the same for the executor and the timer built on them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <set>
#include <thread>
#include <vector>

#include "platform/threads.h"
#include "tests/unit/thread_test_support.h"

namespace {

using std::chrono::milliseconds;

struct EventCase {
    const char* pszName;
    bool bManualReset;
    bool bInitiallySignalled;
    int nSets;
    VWaitResult eFirstWait;
    VWaitResult eSecondWait;
};

TEST(ThreadsTest, EventSignalsAreConsumedOnlyByAutoReset) {
    const EventCase cases[] = {
        {"auto, never set", false, false, 0, VWAIT_TIMEOUT, VWAIT_TIMEOUT},
        {"auto, set", false, false, 1, VWAIT_SIGNALLED, VWAIT_TIMEOUT},
        {"auto, set twice does not count", false, false, 2, VWAIT_SIGNALLED, VWAIT_TIMEOUT},
        {"auto, initially signalled", false, true, 0, VWAIT_SIGNALLED, VWAIT_TIMEOUT},
        {"manual, never set", true, false, 0, VWAIT_TIMEOUT, VWAIT_TIMEOUT},
        {"manual, set", true, false, 1, VWAIT_SIGNALLED, VWAIT_SIGNALLED},
        {"manual, initially signalled", true, true, 0, VWAIT_SIGNALLED, VWAIT_SIGNALLED},
    };
    for (const EventCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        VEVENT hEvent = VCreateEvent(c.bManualReset, c.bInitiallySignalled);
        ASSERT_NE(hEvent, nullptr);
        for (int i = 0; i < c.nSets; ++i) {
            EXPECT_TRUE(VSetEvent(hEvent));
        }
        EXPECT_EQ(VWaitForEvent(hEvent, 0), c.eFirstWait);
        EXPECT_EQ(VWaitForEvent(hEvent, 0), c.eSecondWait);
        EXPECT_TRUE(VResetEvent(hEvent));
        EXPECT_EQ(VWaitForEvent(hEvent, 0), VWAIT_TIMEOUT);
        EXPECT_TRUE(VCloseEvent(hEvent));
    }
}

TEST(ThreadsTest, NullHandlesAreRefused) {
    EXPECT_FALSE(VSetEvent(nullptr));
    EXPECT_FALSE(VResetEvent(nullptr));
    EXPECT_EQ(VWaitForEvent(nullptr, VINFINITE), VWAIT_FAILED);
    EXPECT_FALSE(VCloseEvent(nullptr));
    EXPECT_EQ(VResumeThread(nullptr), VRESUME_FAILED);
    EXPECT_FALSE(VJoinThread(nullptr));
    EXPECT_FALSE(VCloseThread(nullptr));
    uint32_t nThreadId = 7;
    EXPECT_EQ(VCreateSuspendedThread(nullptr, nullptr, &nThreadId), nullptr);
    EXPECT_EQ(nThreadId, 7u);
}

TEST(ThreadsTest, TimedWaitLastsAtLeastItsTimeOut) {
    VEVENT hEvent = VCreateEvent(false, false);
    ASSERT_NE(hEvent, nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(VWaitForEvent(hEvent, 80), VWAIT_TIMEOUT);
    // Windows rounds waits to its clock tick, so allow for one tick early.
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(60));
    VCloseEvent(hEvent);
}

// An auto-reset signal releases one waiter; a manual-reset one releases all of them.
TEST(ThreadsTest, SetReleasesWaitersOnOtherThreads) {
    for (bool bManualReset : {false, true}) {
        SCOPED_TRACE(bManualReset ? "manual reset" : "auto reset");
        VEVENT hEvent = VCreateEvent(bManualReset, false);
        ASSERT_NE(hEvent, nullptr);
        CTestSignal released;
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i) {
            waiters.emplace_back([&] {
                if (VWaitForEvent(hEvent, VINFINITE) == VWAIT_SIGNALLED) {
                    released.Set();
                }
            });
        }
        VSetEvent(hEvent);
        ASSERT_TRUE(released.Wait());
        if (bManualReset) {
            EXPECT_TRUE(released.Wait());
            EXPECT_TRUE(released.Wait());
        } else {
            LetTimePass(milliseconds(100));
            EXPECT_EQ(released.Count(), 0);
            for (int nLeft = 2; nLeft > 0; --nLeft) {
                VSetEvent(hEvent);
                EXPECT_TRUE(released.Wait());
            }
        }
        for (std::thread& waiter : waiters) {
            waiter.join();
        }
        VCloseEvent(hEvent);
    }
}

struct ThreadProbe {
    std::atomic<int> nRuns{0};
    std::atomic<uint32_t> nSeenId{0};
};

uint32_t RecordingRoutine(void* pParam) {
    ThreadProbe* pProbe = static_cast<ThreadProbe*>(pParam);
    pProbe->nSeenId = VGetCurrentThreadId();
    ++pProbe->nRuns;
    return 5;
}

TEST(ThreadsTest, SuspendedThreadRunsNothingUntilResumed) {
    ThreadProbe probe;
    uint32_t nThreadId = 0;
    VTHREAD hThread = VCreateSuspendedThread(&RecordingRoutine, &probe, &nThreadId);
    ASSERT_NE(hThread, nullptr);
    EXPECT_NE(nThreadId, 0u);
    LetTimePass(milliseconds(100));
    EXPECT_EQ(probe.nRuns, 0);

    EXPECT_EQ(VResumeThread(hThread), 1u);
    EXPECT_TRUE(VJoinThread(hThread));
    EXPECT_EQ(probe.nRuns, 1);
    EXPECT_EQ(probe.nSeenId, nThreadId);
    EXPECT_NE(probe.nSeenId, VGetCurrentThreadId());
    EXPECT_TRUE(VJoinThread(hThread));
    EXPECT_TRUE(VCloseThread(hThread));
}

TEST(ThreadsTest, ThreadClosedBeforeResumeNeverRuns) {
    ThreadProbe probe;
    VTHREAD hThread = VCreateSuspendedThread(&RecordingRoutine, &probe, nullptr);
    ASSERT_NE(hThread, nullptr);
    EXPECT_TRUE(VCloseThread(hThread));
    LetTimePass(milliseconds(100));
    EXPECT_EQ(probe.nRuns, 0);
}

TEST(ThreadsTest, ThreadIdsAreNonZeroStableAndDistinct) {
    const uint32_t nMain = VGetCurrentThreadId();
    EXPECT_NE(nMain, 0u);
    EXPECT_EQ(VGetCurrentThreadId(), nMain);
    std::set<uint32_t> ids{nMain};
    std::vector<std::thread> threads;
    std::vector<uint32_t> seen(4, 0);
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = VGetCurrentThreadId(); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (uint32_t nId : seen) {
        EXPECT_NE(nId, 0u);
        ids.insert(nId);
    }
    EXPECT_EQ(ids.size(), 5u);
}

TEST(ThreadsTest, CriticalSectionExcludesOtherThreads) {
    CPlatformCriticalSection section;
    int nShared = 0;
    const int kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                section.Enter();
                ++nShared;
                section.Leave();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(nShared, 3 * kRounds);
}

TEST(ThreadsTest, InjectedFailuresHitTheChosenCreationsOnly) {
    VFailEventCreations(0x5);
    VEVENT hEvents[4];
    for (VEVENT& hEvent : hEvents) {
        hEvent = VCreateEvent(false, false);
    }
    EXPECT_EQ(hEvents[0], nullptr);
    EXPECT_NE(hEvents[1], nullptr);
    EXPECT_EQ(hEvents[2], nullptr);
    EXPECT_NE(hEvents[3], nullptr);
    VCloseEvent(hEvents[1]);
    VCloseEvent(hEvents[3]);

    ThreadProbe probe;
    VFailThreadCreations(0x1);
    EXPECT_EQ(VCreateSuspendedThread(&RecordingRoutine, &probe, nullptr), nullptr);
    VTHREAD hThread = VCreateSuspendedThread(&RecordingRoutine, &probe, nullptr);
    ASSERT_NE(hThread, nullptr);
    VResumeThread(hThread);
    VJoinThread(hThread);
    VCloseThread(hThread);
    EXPECT_EQ(probe.nRuns, 1);
}

}  // namespace
