// The hover timer's rest detection, tick by tick: the test calls OnTimer itself (the timer is
// never activated, so its own thread never does) with a clock and a pointer of its choosing, and
// reads the requests that the ticks post. So the tick at which a rest is reported is exact, and
// no result depends on how busy the machine is.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <vector>

#include "controls/static_field.h"
#include "controls/static_field_mouse_timer.h"

namespace {

// The time and the pointer that the scripted ticks read.
std::int64_t g_nNowMs = 0;
POINT g_cursor{0, 0};

std::uint64_t ScriptedNow() {
    constexpr std::int64_t kBase = 130000000000000000;  // some day in 2012, in 100 ns units
    return static_cast<std::uint64_t>(kBase + g_nNowMs * 10000);
}

BOOL WINAPI ScriptedCursorPos(LPPOINT pPoint) {
    *pPoint = g_cursor;
    return TRUE;
}

// A field without a window whose hover requests go to a window of the test's.
class CRequestTargetField : public CStaticField {
public:
    void SetHoverTarget(HWND hWnd) { m_hHoverTarget.store(hWnd); }
};

class CScriptedMouseTimer : public CStaticFieldMouseTimer {
public:
    CScriptedMouseTimer() {
        m_pfnCurrentTime = &ScriptedNow;
        m_pfnGetCursorPos = &ScriptedCursorPos;
    }
    using CStaticFieldMouseTimer::OnTimer;
    std::int64_t PeriodMs() const { return m_period; }
};

struct Tick {
    std::int64_t nNowMs;
    POINT cursor;
    bool bResetBefore;  // the field's hover reset (a key, a click, a move) just before the tick
};

struct RestCase {
    const char* pszName;
    std::vector<Tick> ticks;
    std::vector<int> requestTicks;  // 1-based, each with that tick's pointer position
};

class StaticFieldMouseTimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_hTarget = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      nullptr, nullptr);
        ASSERT_NE(nullptr, m_hTarget);
        m_field.SetHoverTarget(m_hTarget);
    }
    void TearDown() override { ::DestroyWindow(m_hTarget); }

    // Runs the ticks on a new timer; the ticks that posted a request, with what they posted.
    void RunTicks(const std::vector<Tick>& ticks, std::vector<int>* pRequestTicks,
                  std::vector<LPARAM>* pRequestParams) {
        CScriptedMouseTimer timer;
        timer.SetOwner(&m_field);
        for (size_t i = 0; i < ticks.size(); ++i) {
            g_nNowMs = ticks[i].nNowMs;
            g_cursor = ticks[i].cursor;
            if (ticks[i].bResetBefore) {
                timer.ResetTracking();
            }
            timer.OnTimer();
            MSG msg;
            while (::PeekMessageA(&msg, m_hTarget, WM_FIELD_HOVER, WM_FIELD_HOVER, PM_REMOVE)) {
                pRequestTicks->push_back(static_cast<int>(i) + 1);
                pRequestParams->push_back(msg.lParam);
            }
        }
    }

    static LPARAM ParamOf(POINT pt) {
        return MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y));
    }

    CRequestTargetField m_field;
    HWND m_hTarget = nullptr;
};

TEST_F(StaticFieldMouseTimerTest, ARestOfTwoSecondsIsReportedAtTheTickThatCompletesIt) {
    const POINT a{300, 200};
    const POINT b{301, 200};
    // One tick per period of the timer itself: its period and the rest together decide the tick.
    std::vector<Tick> steady;
    const std::int64_t nPeriod = CScriptedMouseTimer().PeriodMs();
    for (int i = 0; i < 7; ++i) {
        steady.push_back(Tick{i * nPeriod, a, false});
    }
    const RestCase cases[] = {
        // The rest begins at the first tick and is complete at the third; after a request the
        // next tick begins a new rest.
        {"a still pointer, one tick a period", steady, {3, 6}},
        {"two seconds to the millisecond",
         {{0, a, false}, {1000, a, false}, {1999, a, false}, {2000, a, false}},
         {4}},
        {"a move begins a new rest at the tick after it",
         {{0, a, false},
          {1000, a, false},
          {2000, b, false},
          {3000, b, false},
          {4000, b, false},
          {5000, b, false}},
         {6}},
        {"the field's hover reset begins a new rest",
         {{0, a, false}, {1000, a, false}, {2000, a, true}, {3000, a, false}, {4000, a, false}},
         {5}},
        // The clock goes back an hour during the rest: the rest counts from there, as the fades
        // do, rather than until the clock has caught up.
        {"the clock set back",
         {{0, a, false},
          {1000, a, false},
          {-3598000, a, false},
          {-3597000, a, false},
          {-3596000, a, false}},
         {5}},
    };
    for (const RestCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        std::vector<int> requestTicks;
        std::vector<LPARAM> requestParams;
        RunTicks(c.ticks, &requestTicks, &requestParams);
        EXPECT_EQ(c.requestTicks, requestTicks);
        for (size_t i = 0; i < requestTicks.size() && i < requestParams.size(); ++i) {
            EXPECT_EQ(ParamOf(c.ticks[static_cast<size_t>(requestTicks[i]) - 1].cursor),
                      requestParams[i]);
        }
    }
}

}  // namespace
