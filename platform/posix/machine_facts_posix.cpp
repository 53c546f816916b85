#include "platform/machine_facts.h"

#include <errno.h>
#include <sys/random.h>
#include <time.h>

#include <chrono>
#include <mutex>

namespace {

const VFILETIME kUnitsPerMillisecond = 10000;
const VFILETIME kUnitsPerSecond = 10000000;
const VFILETIME kSecondsFrom1601To1970 = 11644473600ULL;
// Days from 1 March of year 0 (proleptic Gregorian) to 1 January 1601.
const std::int64_t kDaysFromMarch0To1601 = 584694;
const std::int64_t kDaysPer400Years = 146097;
// ERROR_NOT_SUPPORTED: what every failed machine fact of this build stands for.
const long kNotSupported = 50;

// Calendar fields of a day count from 1 January 1601. The count is shifted to an epoch of
// 1 March so that the leap day ends its year; each 400-year era then repeats exactly.
void DaysToDate(std::int64_t nDays, VSYSTEMTIME* pCalendar) {
    const std::int64_t nShifted = nDays + kDaysFromMarch0To1601;
    const std::int64_t nEra = nShifted / kDaysPer400Years;
    const std::int64_t nDayOfEra = nShifted - nEra * kDaysPer400Years;
    const std::int64_t nYearOfEra =
        (nDayOfEra - nDayOfEra / 1460 + nDayOfEra / 36524 - nDayOfEra / 146096) / 365;
    const std::int64_t nDayOfYear =
        nDayOfEra - (365 * nYearOfEra + nYearOfEra / 4 - nYearOfEra / 100);
    const std::int64_t nMonthFromMarch = (5 * nDayOfYear + 2) / 153;
    const std::int64_t nDay = nDayOfYear - (153 * nMonthFromMarch + 2) / 5 + 1;
    const std::int64_t nMonth = nMonthFromMarch < 10 ? nMonthFromMarch + 3 : nMonthFromMarch - 9;
    const std::int64_t nYear = nYearOfEra + nEra * 400 + (nMonth <= 2 ? 1 : 0);
    pCalendar->wYear = static_cast<std::uint16_t>(nYear);
    pCalendar->wMonth = static_cast<std::uint16_t>(nMonth);
    pCalendar->wDay = static_cast<std::uint16_t>(nDay);
    // 1 January 1601 was a Monday.
    pCalendar->wDayOfWeek = static_cast<std::uint16_t>((nDays + 1) % 7);
}

// No Windows directory, volume or registry here: every machine fact reads as unavailable, the
// way a Windows call that fails reports it, so the derivation yields no ID. The lock is the one
// state it keeps; it is safe on any thread.
class CPosixMachineFacts : public CMachineFacts {
public:
    unsigned ReadWindowsDirectory(char*, unsigned) override { return 0; }

    bool ReadVolumeInformation(const char*, char*, unsigned, std::uint32_t*, std::uint32_t*,
                               std::uint32_t*, char*, unsigned) override {
        return false;
    }

    bool ReadCreationTime(const char*, VFILETIME*) override { return false; }

    long OpenClassesKey(const char*, std::uint32_t, VHKEY* pKey) override {
        *pKey = nullptr;
        return VERROR_FILE_NOT_FOUND;
    }

    long CreateClassesKey(const char*, std::uint32_t, VHKEY* pKey) override {
        *pKey = nullptr;
        return VERROR_ACCESS_DENIED;
    }

    long QueryKeyValue(VHKEY, const char*, std::uint32_t*, unsigned char*,
                       std::uint32_t*) override {
        return VERROR_FILE_NOT_FOUND;
    }

    long SetKeyValue(VHKEY, const char*, std::uint32_t, const unsigned char*,
                     std::uint32_t) override {
        return VERROR_ACCESS_DENIED;
    }

    void CloseKey(VHKEY) override {}

    VFILETIME ReadSystemTime() override {
        timespec now = {0, 0};
        clock_gettime(CLOCK_REALTIME, &now);
        const VFILETIME nSeconds = static_cast<VFILETIME>(now.tv_sec) + kSecondsFrom1601To1970;
        const VFILETIME nMilliseconds = static_cast<VFILETIME>(now.tv_nsec) / 1000000;
        return nSeconds * kUnitsPerSecond + nMilliseconds * kUnitsPerMillisecond;
    }

    bool ConvertFileTime(VFILETIME nTime, VSYSTEMTIME* pCalendar) override {
        if (nTime >> 63)
            return false;
        const VFILETIME nMilliseconds = nTime / kUnitsPerMillisecond;
        const VFILETIME nSeconds = nMilliseconds / 1000;
        const VFILETIME nSecondOfDay = nSeconds % 86400;
        DaysToDate(static_cast<std::int64_t>(nSeconds / 86400), pCalendar);
        pCalendar->wHour = static_cast<std::uint16_t>(nSecondOfDay / 3600);
        pCalendar->wMinute = static_cast<std::uint16_t>(nSecondOfDay / 60 % 60);
        pCalendar->wSecond = static_cast<std::uint16_t>(nSecondOfDay % 60);
        pCalendar->wMilliseconds = static_cast<std::uint16_t>(nMilliseconds % 1000);
        return true;
    }

    bool ReadRandomBytes(unsigned char* pBuffer, std::uint32_t nSize) override {
        std::uint32_t nDone = 0;
        while (nDone < nSize) {
            const ssize_t nRead = getrandom(pBuffer + nDone, nSize - nDone, 0);
            if (nRead < 0 && errno == EINTR)
                continue;
            if (nRead <= 0)
                return false;
            nDone += static_cast<std::uint32_t>(nRead);
        }
        return true;
    }

    // No other process can write this build's (absent) registry: a lock within the process is
    // all there is to take.
    long AcquireMarkerLock(std::uint32_t nTimeoutMs, VHLOCK* phLock, bool* pbAbandoned) override {
        *pbAbandoned = false;
        *phLock = nullptr;
        if (!m_lock.try_lock_for(std::chrono::milliseconds(nTimeoutMs)))
            return VERROR_WAIT_TIMEOUT;
        *phLock = &m_lock;
        return VERROR_SUCCESS;
    }

    void ReleaseMarkerLock(VHLOCK hLock) override {
        static_cast<std::timed_mutex*>(hLock)->unlock();
    }

    long ReadLastError() override { return kNotSupported; }

private:
    std::timed_mutex m_lock;
};

}  // namespace

CMachineFacts& GetDefaultMachineFacts() {
    static CPosixMachineFacts s_facts;
    return s_facts;
}
