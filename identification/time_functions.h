#pragma once

// The time functions shared by the ID derivation and the custom controls. Times are FILETIME
// values: unsigned 64-bit counts of 100-nanosecond units since 1 January 1601, UTC.
//
// The functions keep no state: any thread may call them (the controls' hover timer does, from its
// worker thread). The overloads that take a CMachineFacts read the clock and convert through it;
// the others use GetDefaultMachineFacts().

#include <cstdint>

#include "platform/machine_facts.h"
#include "support/veltrane_string.h"

// The current UTC time, to the millisecond.
std::uint64_t GetCurrentFileTime();
std::uint64_t GetCurrentFileTime(CMachineFacts& machine);

// (later - earlier) / 10000 in signed 64-bit arithmetic, truncated toward zero: negative when
// later lies before earlier. The difference wraps modulo 2^64 rather than overflowing.
std::int64_t GetElapsedMilliseconds(std::uint64_t earlier, std::uint64_t later);

// "%A %B %d %Y (%m_%d_%Y) %H:%M:%S" in UTC with English names, then a colon and the milliseconds
// without leading zeros: "Monday March 04 2019 (03_04_2019) 09:05:07:42". Empty when the value
// has no calendar form or lies after the year 9999.
CVeltraneString FileTimeToText(std::uint64_t nTime);
CVeltraneString FileTimeToText(std::uint64_t nTime, CMachineFacts& machine);

// What MakeFileTimeText made.
enum ETimeText {
    kTimeTextMade,      // the whole text
    kTimeTextNone,      // the value has no time text
    kTimeTextNoMemory,  // the text could not be allocated whole
};

// FileTimeToText into strText, for callers that must tell a time without a text from a text lost
// to a failed allocation: strText holds the whole text for kTimeTextMade and is empty otherwise,
// never a part of the text.
ETimeText MakeFileTimeText(std::uint64_t nTime, CMachineFacts& machine, CVeltraneString& strText);
