#include "server/base/time_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

std::string formatted(uint64_t t) {
    char out[32];
    formatTime(out, t);
    return out;
}

} // namespace

TEST(TimeText, FormatsHoursMinutesDayMonthAndYear) {
    EXPECT_EQ("09:05 on 03 Apr 1999", formatted(fileTimeFromCalendar({1999, 4, 3, 9, 5, 59, 0})));
    EXPECT_EQ("23:59 on 31 Dec 2023",
              formatted(fileTimeFromCalendar({2023, 12, 31, 23, 59, 59, 999})));
    EXPECT_EQ("00:00 on 01 Jan 1601", formatted(0));
    const char* expect[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 0; m < 12; ++m)
        EXPECT_STREQ(expect[m], monthAbbreviations[m]);
}

TEST(TimeText, CountsHundredNanosecondsSince1601) {
    EXPECT_EQ(0u, fileTimeFromCalendar({1601, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(116444736000000000u, fileTimeFromCalendar({1970, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(116444736000000000u + 10000u * 1234u,
              fileTimeFromCalendar({1970, 1, 1, 0, 0, 1, 234}));
    const CalendarTime dates[] = {{2000, 2, 29, 12, 30, 15, 500},
                                  {1900, 3, 1, 0, 0, 0, 0},
                                  {2100, 12, 31, 23, 59, 59, 999},
                                  {1999, 4, 3, 9, 5, 59, 0}};
    for (const CalendarTime& d : dates) {
        CalendarTime back = splitFileTime(fileTimeFromCalendar(d));
        EXPECT_EQ(d.year, back.year);
        EXPECT_EQ(d.month, back.month);
        EXPECT_EQ(d.day, back.day);
        EXPECT_EQ(d.hour, back.hour);
        EXPECT_EQ(d.minute, back.minute);
        EXPECT_EQ(d.second, back.second);
        EXPECT_EQ(d.ms, back.ms);
    }
}

TEST(TimeText, NowIsTheLocalWallClockWithoutTimeZoneConversion) {
    // A zone far from UTC, written out so that no zone database is needed.
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "XXX-5:30", 1);
    tzset();
    bool compared = false;
    for (int attempt = 0; attempt < 3 && !compared; ++attempt) {
        time_t before = time(nullptr);
        uint64_t now = nowAsFileTime();
        time_t after = time(nullptr);
        if (before / 60 != after / 60) continue;
        tm local{};
        localtime_r(&before, &local);
        CalendarTime c = splitFileTime(now);
        EXPECT_EQ(static_cast<uint32_t>(local.tm_year + 1900), c.year);
        EXPECT_EQ(static_cast<uint32_t>(local.tm_mon + 1), c.month);
        EXPECT_EQ(static_cast<uint32_t>(local.tm_mday), c.day);
        EXPECT_EQ(static_cast<uint32_t>(local.tm_hour), c.hour);
        EXPECT_EQ(static_cast<uint32_t>(local.tm_min), c.minute);
        compared = true;
    }
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    EXPECT_TRUE(compared);
}
