#include <cstdint>
#include <cstdio>
#include <iostream>

#include "clock_time.hpp"

int main() {
    // A read that stores nothing (input already failed or ended) leaves zero,
    // never an indeterminate value.
    std::int32_t hours = 0;
    std::int32_t minutes = 0;
    std::int32_t seconds = 0;

    // The prompts carry no line end and are not flushed here: std::cin is tied to
    // std::cout, so each prompt reaches the console before its read waits.
    std::cout << "Enter time (24-hour format):" << std::endl;
    std::cout << "Hours: ";
    std::cin >> hours;
    std::cout << "Minutes: ";
    std::cin >> minutes;
    std::cout << "Seconds: ";
    std::cin >> seconds;

    const ClockTime clockTime{hours, minutes, seconds};
    clockTime.printTwelveHour();
    std::cout << "24-Hour Format: " << TwoDigitField{clockTime.hours} << ':'
              << TwoDigitField{clockTime.minutes} << ':' << TwoDigitField{clockTime.seconds}
              << std::endl;

    // std::cin reads through C's stdin (the streams stay synchronised), whose
    // error indicator tells a failed read from a letter or the end of input:
    // the answer then shows zeros that nobody typed.
    const bool inputLost = std::ferror(stdin) != 0;
    if (inputLost) {
        std::cerr << "clock12: standard input could not be read\n";
    }
    // Every line was flushed as it was written, so a failed stream means some of
    // the answer never arrived: closed output, a full device, a write error.
    const bool answerLost = !std::cout;
    if (answerLost) {
        std::cerr << "clock12: the answer could not be written to standard output\n";
    }
    return inputLost || answerLost ? 1 : 0;
}
