#include "identification/time_functions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string TimeText(std::uint64_t nTime) {
    CVeltraneString strText = FileTimeToText(nTime);
    return strText.GetText();
}

// The same table runs natively and on Windows: both must give these texts to the character.
TEST(TimeFunctionsTest, TimeTextOfKnownMoments) {
    const struct {
        std::uint64_t nTime;
        const char* pszText;
    } cases[] = {
        {0, "Monday January 01 1601 (01_01_1601) 00:00:00:0"},
        {131961639070420000ULL, "Monday March 04 2019 (03_04_2019) 09:05:07:42"},
        {133753023300070000ULL, "Tuesday November 05 2024 (11_05_2024) 17:45:30:7"},
        {125963423999990000ULL, "Tuesday February 29 2000 (02_29_2000) 23:59:59:999"},
        {157520160000070000ULL, "Monday March 01 2100 (03_01_2100) 00:00:00:7"},
        {125911152000000000ULL, "Friday December 31 1999 (12_31_1999) 12:00:00:0"},
        // Units below a millisecond are dropped, not rounded.
        {125911152000009999ULL, "Friday December 31 1999 (12_31_1999) 12:00:00:0"},
        {2650467743999990000ULL, "Friday December 31 9999 (12_31_9999) 23:59:59:999"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nTime);
        EXPECT_EQ(c.pszText, TimeText(c.nTime));
    }
}

// Walks day by day from 1 January 1601 through a whole 400-year cycle and beyond, counting the
// calendar by hand: month lengths, the leap rules of 1700, 1900, 2000 and 2100, the weekday.
TEST(TimeFunctionsTest, CalendarFieldsFollowDayByDay) {
    const std::uint64_t kUnitsPerDay = 864000000000ULL;
    // A moment late in each day, so that the time fields are checked as well.
    const std::uint64_t kTimeOfDay = ((23 * 60 + 59) * 60 + 58) * 10000000ULL + 9876543;
    int nYear = 1601, nMonth = 1, nDay = 1, nDayOfWeek = 1;
    CMachineFacts& machine = GetDefaultMachineFacts();
    for (std::uint64_t nDays = 0; nYear <= 2401; ++nDays) {
        VSYSTEMTIME st = {};
        ASSERT_TRUE(machine.ConvertFileTime(nDays * kUnitsPerDay + kTimeOfDay, &st));
        ASSERT_EQ(nYear, st.wYear) << nDays;
        ASSERT_EQ(nMonth, st.wMonth) << nDays;
        ASSERT_EQ(nDay, st.wDay) << nDays;
        ASSERT_EQ(nDayOfWeek, st.wDayOfWeek) << nDays;
        ASSERT_EQ(23, st.wHour);
        ASSERT_EQ(59, st.wMinute);
        ASSERT_EQ(58, st.wSecond);
        ASSERT_EQ(987, st.wMilliseconds);

        const bool bLeap = nYear % 4 == 0 && (nYear % 100 != 0 || nYear % 400 == 0);
        const int aMonthDays[] = {31, bLeap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        nDayOfWeek = (nDayOfWeek + 1) % 7;
        if (++nDay > aMonthDays[nMonth - 1]) {
            nDay = 1;
            if (++nMonth > 12) {
                nMonth = 1;
                ++nYear;
            }
        }
    }
}

// No calendar form at or above 2^63; no four-digit year from 1 January 10000 on.
TEST(TimeFunctionsTest, ValuesWithoutAFourDigitYearGiveEmptyText) {
    for (std::uint64_t nTime : {2650467744000000000ULL, 0x7FFFFFFFFFFFFFFFULL,
                                0x8000000000000000ULL, 0xFFFFFFFFFFFFFFFFULL}) {
        SCOPED_TRACE(nTime);
        EXPECT_EQ("", TimeText(nTime));
    }
}

TEST(TimeFunctionsTest, ElapsedMillisecondsAreSignedAndTruncatedTowardZero) {
    const struct {
        std::uint64_t nEarlier;
        std::uint64_t nLater;
        std::int64_t nElapsed;
    } cases[] = {
        {0, 10000000, 1000},
        {10000000, 0, -1000},
        {5, 19999 + 5, 1},
        {19999 + 5, 5, -1},
        {0, 9999, 0},
        {9999, 0, 0},
        {131961639070420000ULL, 131961639070420000ULL, 0},
        // Beyond the signed range the difference wraps instead of overflowing.
        {0, 0x8000000000000000ULL, INT64_MIN / 10000},
        {0xFFFFFFFFFFFFFFFFULL, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.nEarlier) + " -> " + std::to_string(c.nLater));
        EXPECT_EQ(c.nElapsed, GetElapsedMilliseconds(c.nEarlier, c.nLater));
    }
}

TEST(TimeFunctionsTest, CurrentTimeIsWholeMillisecondsAfter2024) {
    const std::uint64_t nNow = GetCurrentFileTime();
    EXPECT_GT(nNow, 133753023300070000ULL);
    EXPECT_EQ(0u, nNow % 10000);
    EXPECT_NE("", TimeText(nNow));
}

// The hover timer's worker thread calls these beside the user-interface thread.
TEST(TimeFunctionsTest, ThreadsGetTheirOwnTexts) {
    const std::uint64_t aTimes[] = {131961639070420000ULL, 125963423999990000ULL};
    const char* aTexts[] = {"Monday March 04 2019 (03_04_2019) 09:05:07:42",
                            "Tuesday February 29 2000 (02_29_2000) 23:59:59:999"};
    int aMismatches[2] = {0, 0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                if (TimeText(aTimes[t]) != aTexts[t] || GetCurrentFileTime() == 0)
                    ++aMismatches[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, aMismatches[0]);
    EXPECT_EQ(0, aMismatches[1]);
}

}  // namespace
