#include <gtest/gtest.h>

#include <array>
#include <iostream>
#include <sstream>
#include <string>

#include "clock_time.hpp"

namespace {

// Everything printTwelveHour writes to std::cout during one call.
std::string twelveHourLine(const ClockTime& time) {
    std::ostringstream captured;
    std::streambuf* const console = std::cout.rdbuf(captured.rdbuf());
    time.printTwelveHour();
    std::cout.rdbuf(console);
    return captured.str();
}

struct Row {
    ClockTime time;
    std::string line;
};

// The dialogue table covers the lines themselves; what only a unit test sees is
// that the call leaves the record alone, so a second call repeats the line.
TEST(PrintTwelveHour, LeavesTheRecordAsItWas) {
    const std::array<Row, 3> rows{{
        {{0, 0, 0}, "12-Hour Format: 12:00:00 AM\n"},
        {{13, 5, 9}, "12-Hour Format: 01:05:09 PM\n"},
        {{-13, 61, 100}, "12-Hour Format: -1:61:100 AM\n"},
    }};
    for (const Row& row : rows) {
        const ClockTime time = row.time;
        EXPECT_EQ(twelveHourLine(time), row.line);
        EXPECT_EQ(twelveHourLine(time), row.line);
        EXPECT_EQ(time.hours, row.time.hours);
        EXPECT_EQ(time.minutes, row.time.minutes);
        EXPECT_EQ(time.seconds, row.time.seconds);
    }
}

}  // namespace
