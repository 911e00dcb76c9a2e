// Time conversions of the vault: FileTime (100 ns ticks since 1601-01-01
// UTC) to and from calendar fields, MS-DOS date/time words and Unix seconds.
// Pure arithmetic on the proleptic Gregorian calendar; nothing here looks at
// the process time zone or the C library's local time.
#pragma once

#include <cstdint>

#include "vault/fileio/FileIo.h"

namespace vault {

constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kUnixEpochSeconds = 11644473600ULL;  // 1601 -> 1970
constexpr FileTime kUnixEpochFileTime = kUnixEpochSeconds * kTicksPerSecond;

struct CalendarTime {
    int year = 1601;
    int month = 1;        // 1..12
    int day = 1;          // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int dayOfWeek = 1;    // 0 = Sunday (1601-01-01 was a Monday)
};

struct DosDateTime {
    uint16_t date = 0;
    uint16_t time = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);   // 0 for a month outside 1..12

// Any FileTime has a calendar form.
CalendarTime CalendarFromFileTime(FileTime t);
// False for fields out of range (year 1601..30827, month, day of that month,
// hour, minute, second, millisecond); dayOfWeek is ignored.
bool FileTimeFromCalendar(const CalendarTime& c, FileTime* out);

// MS-DOS packing: time = hour<<11 | minute<<5 | second/2;
// date = (year-1980)<<9 | month<<5 | day. Fields are taken as given (the
// caller keeps them in range); the year is stored modulo 128 from 1980.
DosDateTime PackDosDateTime(const CalendarTime& c);
// The fields of a DOS date/time as stored, without any check (month 1..12
// when valid; seconds are even).
CalendarTime UnpackDosDateTime(uint16_t date, uint16_t time);

// DOS date/time of a FileTime, taken as it is (UTC in, UTC out). Times before
// 1980 give 1980-01-01 00:00:00, times after 2107 give 2107-12-31 23:59:58.
DosDateTime DosFromFileTime(FileTime t);
// FileTime of a DOS date/time without any time-zone change. False (and *out
// left alone) for an impossible date or time: month 0 or above 12, day 0 or
// past the month's end, hour above 23, minute above 59, seconds above 58.
bool FileTimeFromDos(uint16_t date, uint16_t time, FileTime* out);

// Unix seconds of a FileTime as written into the extended timestamp: a year
// before 1970 becomes 1 January 1970, a year after 2037 becomes 31 December
// 2037, the time of day staying as it was.
uint32_t UnixTimeFromFileTime(FileTime t);
// FileTime of Unix seconds (UTC), milliseconds 0.
FileTime FileTimeFromUnixTime(uint32_t seconds);

}  // namespace vault
