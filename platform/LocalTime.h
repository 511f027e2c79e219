#pragma once

#include <ctime>

namespace platform {

// A moment in the local time zone, as people read it.
struct LocalTime {
    int year = 0;    // e.g. 2026
    int month = 0;   // 1-12
    int day = 0;     // 1-31
    int hour = 0;    // 0-23
    int minute = 0;  // 0-59
    int second = 0;  // 0-60 (60 for a leap second)
};

// The given moment in the local time zone, taking the current value of TZ.
// Any thread; a moment that cannot be converted gives all zeros.
LocalTime localTime(std::time_t moment);

// The current moment in the local time zone.
LocalTime currentLocalTime();

}  // namespace platform
