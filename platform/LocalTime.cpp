#include "platform/LocalTime.h"

namespace platform {

LocalTime localTime(std::time_t moment) {
    // localtime_r, unlike localtime, need not read TZ again; tzset makes a
    // change of time zone in a running program count.
    tzset();
    std::tm fields;
    LocalTime result;
    if (!localtime_r(&moment, &fields))
        return result;
    result.year = fields.tm_year + 1900;
    result.month = fields.tm_mon + 1;
    result.day = fields.tm_mday;
    result.hour = fields.tm_hour;
    result.minute = fields.tm_min;
    result.second = fields.tm_sec;
    return result;
}

LocalTime currentLocalTime() {
    return localTime(std::time(nullptr));
}

}  // namespace platform
