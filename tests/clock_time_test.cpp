#include <gtest/gtest.h>

#include <array>
#include <iostream>
#include <sstream>
#include <string>

#include "clock_time.hpp"

namespace {

// A format that an earlier write may have left on std::cout.
struct LeftFormat {
    const char* name = "";
    std::ios_base::fmtflags flags = std::ios::dec;
    char fill = ' ';
    std::streamsize width = 0;
};

// The dialogue tests cover the lines themselves, from a program whose stream is fresh; what
// only a unit test can do is call with the stream left otherwise, and see it left so after.
TEST(PrintTwelveHour, IgnoresAndKeepsTheFormatLeftOnTheStream) {
    const std::ios_base::fmtflags fresh = std::ios::dec | std::ios::skipws;
    const std::array<LeftFormat, 6> formats{{
        {"fresh", fresh, ' ', 0},
        {"star fill", fresh, '*', 0},
        {"wider than the label", fresh, '0', 20},
        {"left-aligned", fresh | std::ios::left, '0', 0},
        {"hexadecimal", std::ios::hex | std::ios::uppercase | std::ios::showbase, '0', 0},
        {"plus sign", fresh | std::ios::showpos, '0', 0},
    }};
    const ClockTime time{13, 5, 100};
    for (const LeftFormat& format : formats) {
        std::ostringstream captured;
        std::streambuf* const console = std::cout.rdbuf(captured.rdbuf());
        std::cout.flags(format.flags);
        std::cout.fill(format.fill);
        std::cout.width(format.width);
        time.printTwelveHour();
        std::cout.rdbuf(console);
        EXPECT_EQ(captured.str(), "12-Hour Format: 01:05:100 PM\n") << format.name;
        EXPECT_EQ(std::cout.flags(), format.flags) << format.name;
        EXPECT_EQ(std::cout.fill(), format.fill) << format.name;
    }
}

}  // namespace
