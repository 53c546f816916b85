#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/threads.h"
#include "support/comm_reentrant_lock.h"
#include "tests/unit/thread_test_support.h"

namespace {

using std::chrono::milliseconds;

// Another thread that takes the lock and gives it back. If the lock is never released the test
// fails, and the thread and the lock it waits on are left alone instead of hanging the test.
class CContender {
public:
    explicit CContender(std::shared_ptr<CCommReentrantLock> pLock)
        : m_pState(std::make_shared<State>()) {
        std::shared_ptr<State> pState = m_pState;
        m_thread = std::thread([pLock, pState] {
            pLock->Lock();
            pState->taken.Set();
            pLock->Unlock();
        });
    }

    ~CContender() {
        if (m_pState->bTaken || m_pState->taken.Count() > 0) {
            m_thread.join();
        } else {
            m_thread.detach();
        }
    }

    bool HasTaken() { return m_pState->bTaken || m_pState->taken.Count() > 0; }

    bool WaitUntilTaken() {
        m_pState->bTaken = m_pState->taken.Wait();
        return m_pState->bTaken;
    }

private:
    struct State {
        CTestSignal taken;
        bool bTaken = false;
    };
    std::shared_ptr<State> m_pState;
    std::thread m_thread;
};

TEST(CommReentrantLockTest, ReleasedOnlyWhenEveryLockIsMatched) {
    auto pLock = std::make_shared<CCommReentrantLock>();
    for (int i = 0; i < 3; ++i) {
        pLock->Lock();
    }
    CContender contender(pLock);
    for (int i = 0; i < 2; ++i) {
        pLock->Unlock();
        LetTimePass(milliseconds(100));
        EXPECT_FALSE(contender.HasTaken()) << "after " << i + 1 << " of 3 unlocks";
    }
    pLock->Unlock();
    EXPECT_TRUE(contender.WaitUntilTaken());
}

TEST(CommReentrantLockTest, UnlockByAnotherThreadChangesNothing) {
    auto pLock = std::make_shared<CCommReentrantLock>();
    pLock->Lock();
    std::thread([pLock] {
        pLock->Unlock();
        pLock->Unlock();
    }).join();
    CContender contender(pLock);
    LetTimePass(milliseconds(100));
    EXPECT_FALSE(contender.HasTaken());
    pLock->Unlock();
    EXPECT_TRUE(contender.WaitUntilTaken());
}

TEST(CommReentrantLockTest, UnlockOfAFreeLockChangesNothing) {
    auto pLock = std::make_shared<CCommReentrantLock>();
    pLock->Unlock();
    pLock->Unlock();
    pLock->Lock();
    pLock->Unlock();
    CContender contender(pLock);
    EXPECT_TRUE(contender.WaitUntilTaken());
}

// Four threads, each taking the lock twice over, add to a plain counter and watch that nobody
// else is inside. Without the release event the waiters retry instead of sleeping.
TEST(CommReentrantLockTest, ExcludesOtherThreads) {
    for (bool bWithReleaseEvent : {true, false}) {
        SCOPED_TRACE(bWithReleaseEvent ? "with release event" : "without release event");
        VFailEventCreations(bWithReleaseEvent ? 0 : 1);
        CCommReentrantLock lock;
        VFailEventCreations(0);
        int nCounter = 0;
        std::atomic<int> nInside{0};
        std::atomic<int> nOverlaps{0};
        const int kRounds = 2000;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < kRounds; ++i) {
                    lock.Lock();
                    lock.Lock();
                    if (++nInside != 1) {
                        ++nOverlaps;
                    }
                    ++nCounter;
                    --nInside;
                    lock.Unlock();
                    lock.Unlock();
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(nCounter, 4 * kRounds);
        EXPECT_EQ(nOverlaps, 0);
    }
}

}  // namespace
