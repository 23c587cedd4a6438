#include "platform/uLocalTime.h"

#include <ctime>

namespace korvel {

TLocalTime LocalTimeNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    const year_month_day date{year{local.tm_year + 1900},
                              month{static_cast<unsigned>(local.tm_mon + 1)},
                              day{static_cast<unsigned>(local.tm_mday)}};
    const hh_mm_ss<milliseconds> time{hours{local.tm_hour} + minutes{local.tm_min} +
                                      seconds{local.tm_sec} + milliseconds{millis}};
    return TLocalTime{date, time};
}

} // namespace korvel
