#include "platform/LocalTime.h"

#include <gtest/gtest.h>

#include "tests/support/ScopedEnvironment.h"

namespace {

using rendova::test::ScopedEnvironment;

TEST(LocalTime, FieldsAreCalendarValuesInTheCurrentZone) {
    std::time_t moment = 1772874302;  // 7 March 2026, 09:05:02 UTC
    {
        ScopedEnvironment zone("TZ", "UTC0");
        platform::LocalTime t = platform::localTime(moment);
        EXPECT_EQ(t.year, 2026);
        EXPECT_EQ(t.month, 3);
        EXPECT_EQ(t.day, 7);
        EXPECT_EQ(t.hour, 9);
        EXPECT_EQ(t.minute, 5);
        EXPECT_EQ(t.second, 2);
    }
    {
        // A zone changed while the program runs is followed; 16 hours ahead of
        // UTC crosses into the next day.
        ScopedEnvironment zone("TZ", "EAST-16");
        platform::LocalTime t = platform::localTime(moment);
        EXPECT_EQ(t.day, 8);
        EXPECT_EQ(t.hour, 1);
    }
}

TEST(LocalTime, LeapDayIsADayOfItsOwn) {
    ScopedEnvironment zone("TZ", "UTC0");
    platform::LocalTime t = platform::localTime(1709251199);  // 2024-02-29 23:59:59
    EXPECT_EQ(t.month, 2);
    EXPECT_EQ(t.day, 29);
    t = platform::localTime(1709251200);
    EXPECT_EQ(t.month, 3);
    EXPECT_EQ(t.day, 1);
}

TEST(LocalTime, NowIsPlausible) {
    platform::LocalTime t = platform::currentLocalTime();
    EXPECT_GE(t.year, 2024);
    EXPECT_GE(t.month, 1);
    EXPECT_LE(t.month, 12);
}

}  // namespace
