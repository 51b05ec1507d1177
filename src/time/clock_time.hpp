#pragma once

#include <cstdint>
#include <iosfwd>

// One time of day exactly as the user typed it, in 24-hour notation. Nothing is
// validated, normalised or carried from one field into another: values outside
// the clock's ranges are kept and written as they are.
struct ClockTime {
    std::int32_t hours = 0;
    std::int32_t minutes = 0;
    std::int32_t seconds = 0;

    // Writes "12-Hour Format: hh:mm:ss AM" (or PM) and a line end to standard
    // output, then flushes. Only the hour is converted.
    void printTwelveHour() const;
};

// A number written at least two characters wide, zero-filled on the left:
// 7 gives "07", 100 gives "100", -1 gives "-1". Both answer lines use it, and
// it leaves the stream's format as it found it.
struct TwoDigitField {
    std::int32_t value = 0;
};

std::ostream& operator<<(std::ostream& out, TwoDigitField field);
