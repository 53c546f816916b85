// Ending a timer whose period is ten minutes, active and idle: Shutdown, and the base destructor
// alone (a derived timer that does not call Shutdown first), must wake the timer's thread rather
// than wait for the period to run out, and must stop the thread before the events it waits on go.
//
// The test holds no clock of its own. A missing wake-up makes a case wait out its ten minutes;
// tests/CMakeLists.txt gives this test a CTest TIMEOUT far below that and far above an honest run
// (a fraction of a second, plus Wine's start-up in the Windows build), which turns such a hang into
// a failure. A destructor that closes the events under a live thread shows in the native builds
// as a hang, or as a finding of AddressSanitizer or ThreadSanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>

#include "support/comm_system_timer.h"
#include "tests/unit/thread_test_support.h"

namespace {

constexpr uint32_t kTenMinutesMs = 600000;

// Ticks are reported to a signal that outlives the timer.
class CLongTimer : public CCommSystemTimer {
public:
    CLongTimer(CTestSignal* pTicked, bool bShutdownFirst)
        : m_pTicked(pTicked), m_bShutdownFirst(bShutdownFirst) {
        m_period = kTenMinutesMs;
    }
    ~CLongTimer() override {
        if (m_bShutdownFirst) {
            Shutdown();
        }
    }

    void OnTimer() override { m_pTicked->Set(); }

private:
    CTestSignal* m_pTicked;
    bool m_bShutdownFirst;
};

struct EndCase {
    const char* pszName;
    bool bActive;    // ticking when it is ended, or deactivated before
    bool bShutdown;  // ended by Shutdown, or only by being destroyed
};

TEST(CommSystemTimerWakeTest, EndingATimerWakesItsThreadInsteadOfWaitingOutThePeriod) {
    const EndCase cases[] = {
        {"active, Shutdown", true, true},
        {"idle, Shutdown", false, true},
        {"active, base destructor alone", true, false},
        {"idle, base destructor alone", false, false},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CTestSignal ticked;
        auto pTimer = std::make_unique<CLongTimer>(&ticked, c.bShutdown);
        // The first wait may still use the base period; one tick makes sure that the loop's
        // next wait is a ten-minute one.
        ASSERT_TRUE(pTimer->Activate());
        ASSERT_TRUE(ticked.Wait());
        if (!c.bActive) {
            ASSERT_TRUE(pTimer->Deactivate());
        }
        // Lets the loop reach that wait, so that only a wake-up can end it.
        LetTimePass(std::chrono::milliseconds(100));
        if (c.bShutdown) {
            EXPECT_TRUE(pTimer->Shutdown());
            EXPECT_EQ(pTimer->GetThreadId(), 0u);
        }
        pTimer.reset();
        EXPECT_EQ(ticked.Count(), 0) << "no tick after the first";
    }
}

}  // namespace
