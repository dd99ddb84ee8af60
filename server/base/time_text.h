// Local wall-clock time as a count of 100-ns intervals since 1 Jan 1601 (no time zone applied in
// either direction), and its text form "hh:mm on dd Mon yyyy".
#pragma once

#include <cstdint>

extern const char* const monthAbbreviations[12]; // "Jan" .. "Dec", index month - 1

struct CalendarTime {
    uint32_t year;   // e.g. 1999
    uint32_t month;  // 1-12
    uint32_t day;    // 1-31
    uint32_t hour;   // 0-23
    uint32_t minute; // 0-59
    uint32_t second; // 0-59
    uint32_t ms;     // 0-999
};

uint64_t nowAsFileTime();
CalendarTime splitFileTime(uint64_t t);
uint64_t fileTimeFromCalendar(const CalendarTime& c);
// Writes "%02d:%02d on %02d %s %04d" (at most 20 characters and a NUL).
void formatTime(char* out, uint64_t t);
