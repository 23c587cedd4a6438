#pragma once
// The local date and time of now, as calendar values: the local time zone comes from the C
// library (the standard library here has no time-zone database), the arithmetic on dates from
// <chrono>.

#include <chrono>

namespace korvel {

struct TLocalTime {
    std::chrono::year_month_day Date;
    std::chrono::hh_mm_ss<std::chrono::milliseconds> Time;
};

TLocalTime LocalTimeNow();

} // namespace korvel
