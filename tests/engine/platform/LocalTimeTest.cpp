#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/uLocalTime.h"

using namespace korvel;

// The calendar values are the C library's local time of the same second, in any zone.
TEST(LocalTime, NowIsTheLocalCalendarTimeOfTheCLibrary) {
    for (const char* zone : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "NZST-12NZDT,M9.5.0,M4.1.0/3"}) {
        SCOPED_TRACE(zone);
        setenv("TZ", zone, 1);
        tzset();
        for (int attempt = 0; attempt < 3; ++attempt) {
            const std::time_t before = std::time(nullptr);
            const TLocalTime now = LocalTimeNow();
            if (std::time(nullptr) != before)
                continue; // a second passed in between: try again
            std::tm local{};
            localtime_r(&before, &local);
            EXPECT_EQ(static_cast<int>(now.Date.year()), local.tm_year + 1900);
            EXPECT_EQ(static_cast<unsigned>(now.Date.month()),
                      static_cast<unsigned>(local.tm_mon + 1));
            EXPECT_EQ(static_cast<unsigned>(now.Date.day()), static_cast<unsigned>(local.tm_mday));
            EXPECT_EQ(now.Time.hours().count(), local.tm_hour);
            EXPECT_EQ(now.Time.minutes().count(), local.tm_min);
            EXPECT_EQ(now.Time.seconds().count(), local.tm_sec);
            EXPECT_LT(now.Time.subseconds().count(), 1000);
            break;
        }
    }
    unsetenv("TZ");
    tzset();
}
