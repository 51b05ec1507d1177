#include "clock_time.hpp"

#include <iomanip>
#include <iostream>
#include <string>

namespace {
constexpr std::int32_t hoursPerHalfDay = 12;
}  // namespace

void ClockTime::printTwelveHour() const {
    // The remainder keeps the sign of hours (truncating division), so negative
    // hours stay negative; only a remainder of zero becomes 12. No value overflows.
    const std::int32_t remainder = hours % hoursPerHalfDay;
    const std::int32_t displayHour = remainder == 0 ? hoursPerHalfDay : remainder;
    const std::string marker = hours >= hoursPerHalfDay ? "PM" : "AM";

    // A width left on the stream by an earlier write would pad the label.
    std::cout << std::setw(0) << "12-Hour Format: " << TwoDigitField{displayHour} << ':'
              << TwoDigitField{minutes} << ':' << TwoDigitField{seconds} << ' ' << marker
              << std::endl;
}

std::ostream& operator<<(std::ostream& out, TwoDigitField field) {
    // Base, alignment, sign and fill are set every time, so that no format left
    // on the stream by an earlier write changes the field, and put back after, so
    // that the caller's next write is as it set it; the width is the number's alone.
    const std::ios_base::fmtflags flags = out.flags();
    const char fill = out.fill('0');
    out << std::dec << std::right << std::noshowpos << std::setw(2) << field.value;
    out.flags(flags);
    out.fill(fill);
    return out;
}
