#include "vault/format/VaultTime.h"

namespace vault {

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kDaysPer400Years = 146097;
constexpr int64_t kDaysPer100Years = 36524;
constexpr int64_t kDaysPer4Years = 1461;

// Days before the first of each month in a common year.
constexpr int kDaysBeforeMonth[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// Days from 1601-01-01 to the given date (year >= 1601, fields valid).
int64_t DaysSince1601(int year, int month, int day) {
    const int64_t y = year - 1601;
    int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
    days += kDaysBeforeMonth[month - 1];
    if (month > 2 && IsLeapYear(year)) ++days;
    return days + (day - 1);
}

// Inverse of DaysSince1601. 1601 starts a 400-year cycle, so the cycle
// lengths fall out directly.
void DateFromDays(int64_t days, int* year, int* month, int* day) {
    int64_t y = 1601 + 400 * (days / kDaysPer400Years);
    days %= kDaysPer400Years;
    int64_t centuries = days / kDaysPer100Years;
    if (centuries == 4) centuries = 3;  // last day of a leap 400th year
    y += 100 * centuries;
    days -= centuries * kDaysPer100Years;
    y += 4 * (days / kDaysPer4Years);
    days %= kDaysPer4Years;
    int64_t years = days / 365;
    if (years == 4) years = 3;  // 31 December of a leap year
    y += years;
    days -= years * 365;

    const int yr = static_cast<int>(y);
    const bool leap = IsLeapYear(yr);
    int m = 1;
    while (m < 12) {
        int next = kDaysBeforeMonth[m] + ((leap && m >= 2) ? 1 : 0);
        if (days < next) break;
        ++m;
    }
    int before = kDaysBeforeMonth[m - 1] + ((leap && m > 2) ? 1 : 0);
    *year = yr;
    *month = m;
    *day = static_cast<int>(days - before) + 1;
}

}  // namespace

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    if (month < 1 || month > 12) return 0;
    if (month == 2) return IsLeapYear(year) ? 29 : 28;
    return kDaysBeforeMonth[month] - kDaysBeforeMonth[month - 1];
}

CalendarTime CalendarFromFileTime(FileTime t) {
    const uint64_t totalSeconds = t / kTicksPerSecond;
    const uint64_t ticks = t % kTicksPerSecond;
    const int64_t days = static_cast<int64_t>(totalSeconds / kSecondsPerDay);
    const int64_t secOfDay = static_cast<int64_t>(totalSeconds % kSecondsPerDay);

    CalendarTime c;
    DateFromDays(days, &c.year, &c.month, &c.day);
    c.hour = static_cast<int>(secOfDay / 3600);
    c.minute = static_cast<int>(secOfDay / 60 % 60);
    c.second = static_cast<int>(secOfDay % 60);
    c.millisecond = static_cast<int>(ticks / 10000);
    c.dayOfWeek = static_cast<int>((days + 1) % 7);
    return c;
}

bool FileTimeFromCalendar(const CalendarTime& c, FileTime* out) {
    if (!out) return false;
    if (c.year < 1601 || c.year > 30827) return false;
    if (c.month < 1 || c.month > 12) return false;
    if (c.day < 1 || c.day > DaysInMonth(c.year, c.month)) return false;
    if (c.hour < 0 || c.hour > 23 || c.minute < 0 || c.minute > 59) return false;
    if (c.second < 0 || c.second > 59 || c.millisecond < 0 || c.millisecond > 999) return false;
    const int64_t days = DaysSince1601(c.year, c.month, c.day);
    const int64_t seconds = days * kSecondsPerDay + c.hour * 3600 + c.minute * 60 + c.second;
    *out = static_cast<FileTime>(seconds) * kTicksPerSecond +
           static_cast<FileTime>(c.millisecond) * 10000;
    return true;
}

DosDateTime PackDosDateTime(const CalendarTime& c) {
    DosDateTime d;
    d.time = static_cast<uint16_t>(((c.hour & 0x1F) << 11) | ((c.minute & 0x3F) << 5) |
                                   ((c.second / 2) & 0x1F));
    d.date = static_cast<uint16_t>((((c.year - 1980) & 0x7F) << 9) | ((c.month & 0x0F) << 5) |
                                   (c.day & 0x1F));
    return d;
}

CalendarTime UnpackDosDateTime(uint16_t date, uint16_t time) {
    CalendarTime c;
    c.year = 1980 + (date >> 9);
    c.month = (date >> 5) & 0x0F;
    c.day = date & 0x1F;
    c.hour = time >> 11;
    c.minute = (time >> 5) & 0x3F;
    c.second = (time & 0x1F) * 2;
    c.millisecond = 0;
    c.dayOfWeek = 0;
    return c;
}

DosDateTime DosFromFileTime(FileTime t) {
    CalendarTime c = CalendarFromFileTime(t);
    if (c.year < 1980) {
        c = CalendarTime();
        c.year = 1980;
    } else if (c.year > 2107) {
        c = CalendarTime();
        c.year = 2107;
        c.month = 12;
        c.day = 31;
        c.hour = 23;
        c.minute = 59;
        c.second = 58;
    }
    return PackDosDateTime(c);
}

bool FileTimeFromDos(uint16_t date, uint16_t time, FileTime* out) {
    CalendarTime c = UnpackDosDateTime(date, time);
    // The calendar conversion range-checks every field; the two second
    // values past 58 that the packing can hold (60, 62) are refused there.
    return FileTimeFromCalendar(c, out);
}

uint32_t UnixTimeFromFileTime(FileTime t) {
    CalendarTime c = CalendarFromFileTime(t);
    if (c.year < 1970) {
        c.year = 1970;
        c.month = 1;
        c.day = 1;
    } else if (c.year > 2037) {
        c.year = 2037;
        c.month = 12;
        c.day = 31;
    }
    const int64_t days = DaysSince1601(c.year, c.month, c.day) - DaysSince1601(1970, 1, 1);
    const int64_t seconds = days * kSecondsPerDay + c.hour * 3600 + c.minute * 60 + c.second;
    return static_cast<uint32_t>(seconds);
}

FileTime FileTimeFromUnixTime(uint32_t seconds) {
    return (kUnixEpochSeconds + seconds) * kTicksPerSecond;
}

}  // namespace vault
