#include "server/base/time_text.h"

#include <cstdio>
#include <ctime>

const char* const monthAbbreviations[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

constexpr uint64_t TicksPerMs = 10000;
constexpr uint64_t TicksPerSecond = 1000 * TicksPerMs;
constexpr uint64_t TicksPerDay = 86400 * TicksPerSecond;
// Days since 1 Mar 0000 (proleptic Gregorian), the usual era arithmetic.
constexpr int64_t daysFromCivil(int64_t y, uint32_t m, uint32_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

constexpr int64_t DaysTo1601 = daysFromCivil(1601, 1, 1);

void civilFromDays(int64_t z, int64_t& y, uint32_t& m, uint32_t& d) {
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<uint32_t>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<uint32_t>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

} // namespace

uint64_t fileTimeFromCalendar(const CalendarTime& c) {
    int64_t days = daysFromCivil(c.year, c.month, c.day) - DaysTo1601;
    if (days < 0) return 0;
    return static_cast<uint64_t>(days) * TicksPerDay +
           (uint64_t{c.hour} * 3600 + uint64_t{c.minute} * 60 + c.second) * TicksPerSecond +
           uint64_t{c.ms} * TicksPerMs;
}

CalendarTime splitFileTime(uint64_t t) {
    CalendarTime c{};
    int64_t y;
    civilFromDays(static_cast<int64_t>(t / TicksPerDay) + DaysTo1601, y, c.month, c.day);
    c.year = static_cast<uint32_t>(y);
    uint64_t rest = t % TicksPerDay;
    c.hour = static_cast<uint32_t>(rest / (3600 * TicksPerSecond));
    c.minute = static_cast<uint32_t>(rest / (60 * TicksPerSecond) % 60);
    c.second = static_cast<uint32_t>(rest / TicksPerSecond % 60);
    c.ms = static_cast<uint32_t>(rest / TicksPerMs % 1000);
    return c;
}

uint64_t nowAsFileTime() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    // The local wall-clock fields are counted as they stand: no time zone either way.
    CalendarTime c{static_cast<uint32_t>(local.tm_year + 1900),
                   static_cast<uint32_t>(local.tm_mon + 1),
                   static_cast<uint32_t>(local.tm_mday),
                   static_cast<uint32_t>(local.tm_hour),
                   static_cast<uint32_t>(local.tm_min),
                   static_cast<uint32_t>(local.tm_sec > 59 ? 59 : local.tm_sec),
                   static_cast<uint32_t>(ts.tv_nsec / 1000000)};
    return fileTimeFromCalendar(c);
}

void formatTime(char* out, uint64_t t) {
    CalendarTime c = splitFileTime(t);
    // Years past 9999 would widen the text; the count cannot reach them in practice.
    std::snprintf(out, 21, "%02u:%02u on %02u %s %04u", c.hour, c.minute, c.day,
                  monthAbbreviations[(c.month - 1) % 12], c.year % 10000);
}
