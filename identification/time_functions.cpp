#include "identification/time_functions.h"

#include <ctime>

namespace {

const std::int64_t kUnitsPerMillisecond = 10000;

// strftime's working buffer. The program never selects a locale, so the classic "C" locale
// supplies the English day and month names.
const int kTimeTextBufferSize = 260;

const int kLastYear = 9999;

}  // namespace

std::uint64_t GetCurrentFileTime() {
    return GetCurrentFileTime(GetDefaultMachineFacts());
}

std::uint64_t GetCurrentFileTime(CMachineFacts& machine) {
    return machine.ReadSystemTime();
}

std::int64_t GetElapsedMilliseconds(std::uint64_t earlier, std::uint64_t later) {
    return static_cast<std::int64_t>(later - earlier) / kUnitsPerMillisecond;
}

CVeltraneString FileTimeToText(std::uint64_t nTime) {
    return FileTimeToText(nTime, GetDefaultMachineFacts());
}

CVeltraneString FileTimeToText(std::uint64_t nTime, CMachineFacts& machine) {
    CVeltraneString strText;
    MakeFileTimeText(nTime, machine, strText);
    return strText;
}

ETimeText MakeFileTimeText(std::uint64_t nTime, CMachineFacts& machine, CVeltraneString& strText) {
    // Any failure leaves the text empty (an object without a buffer reads as empty as well).
    strText.Empty();
    VSYSTEMTIME st;
    if (!machine.ConvertFileTime(nTime, &st))
        return kTimeTextNone;
    // The text has room for four-digit years only, and the Windows C runtime's strftime refuses
    // later ones; refusing them here keeps both builds alike.
    if (st.wYear > kLastYear)
        return kTimeTextNone;

    std::tm fields = std::tm();
    fields.tm_sec = st.wSecond;
    fields.tm_min = st.wMinute;
    fields.tm_hour = st.wHour;
    fields.tm_mday = st.wDay;
    fields.tm_mon = st.wMonth - 1;
    fields.tm_year = st.wYear - 1900;
    fields.tm_wday = st.wDayOfWeek;
    fields.tm_yday = 0;
    fields.tm_isdst = -1;

    if (!strText.Reserve(kTimeTextBufferSize))
        return kTimeTextNoMemory;
    if (std::strftime(strText.GetBuffer(), kTimeTextBufferSize, "%A %B %d %Y (%m_%d_%Y) %H:%M:%S",
                      &fields) == 0) {
        strText.Empty();
        return kTimeTextNone;
    }
    if (!strText.FitToText())
        return kTimeTextNoMemory;

    // A text without its milliseconds would still look like a time text: it must not survive.
    CVeltraneString strMilliseconds;
    if (!strMilliseconds.Format(":%0ld", static_cast<long>(st.wMilliseconds)) ||
        !strText.Append(strMilliseconds)) {
        strText.Empty();
        return kTimeTextNoMemory;
    }
    return kTimeTextMade;
}
