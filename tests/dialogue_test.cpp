// Runs the built clock12 as a user or a script would: bytes on standard input,
// the exact bytes on standard output and standard error, and the exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

// POSIX leaves this declaration to the program; glibc repeats it only as an extension.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables,readability-redundant-declaration)
extern "C" char** environ;

namespace {

using namespace std::string_literals;

std::string answer(const std::string& twelveHour, const std::string& twentyFourHour) {
    return "Enter time (24-hour format):\nHours: Minutes: Seconds: 12-Hour Format: " + twelveHour +
           "\n24-Hour Format: " + twentyFourHour + "\n";
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The program that CLOCK12_PROGRAM names, or the one built here.
std::string namedProgram() {
    const char* const named = std::getenv("CLOCK12_PROGRAM");
    return named != nullptr ? named : "";
}

// A Windows program (clock12.exe) runs under Wine, and writes CRLF line ends.
bool onWindows() { return namedProgram().ends_with(".exe"); }

// Starts clock12, through the emulator of a cross-build or Wine, with the given
// descriptor set-up; returns its process id.
pid_t spawn(const posix_spawn_file_actions_t& actions) {
    std::vector<std::string> command{CLOCK12_COMMAND};
    if (onWindows()) {
        command = {"wine", namedProgram()};
    } else if (!namedProgram().empty()) {
        command = {namedProgram()};
    }
    std::vector<char*> argv(command.size() + 1, nullptr);
    // Not const: posix_spawn wants char*, which only a mutable string's data() gives.
    // cppcheck-suppress constParameterReference
    std::ranges::transform(command, argv.begin(), [](std::string& word) { return word.data(); });
    pid_t pid = -1;
    EXPECT_EQ(posix_spawnp(&pid, argv.front(), &actions, nullptr, argv.data(), environ), 0);
    return pid;
}

// As a shell reports it: the exit status, or 128 plus the signal that ended it.
int exitStatus(pid_t pid) {
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

enum class Input : std::uint8_t {
    Given,
    ThenCat,  // a regular file shared with `cat`, as in `{ clock12; cat; } < file`
    Closed,
    Directory,
    NonBlockingEmptyPipe,
};
enum class Output : std::uint8_t {
    Captured,
    Closed,
    LimitedFile,  // a file that cannot grow beyond the expected output, as on a full disk
    BrokenPipe,   // a pipe whose reader has gone: SIGPIPE ends the program, status 128 + 13
};

struct Row {
    const char* name = "";
    std::string input;
    std::string output;  // what arrives: on standard output, then from `cat`
    Input stdinSetup = Input::Given;
    Output stdoutSetup = Output::Captured;
    // On standard error; any message means exit status 1. Initialised, or
    // GCC 12 counts it missing from the rows that leave it out.
    std::string error = {};  // NOLINT(readability-redundant-member-init)
    // Where Windows differs by nature: what arrives there, then its standard error.
    // NOLINTNEXTLINE(readability-redundant-member-init): as for error
    std::optional<std::pair<std::string, std::string>> windows = {};
};

// The row as the program under test should meet it: on Windows, its outcome
// there, and every line end CRLF, in the input too.
Row asRun(Row row) {
    if (onWindows()) {
        std::tie(row.output, row.error) = row.windows.value_or(std::pair{row.output, row.error});
        for (std::string* text : {&row.input, &row.output, &row.error}) {
            *text = std::regex_replace(*text, std::regex("\n"), "\r\n");
        }
    }
    return row;
}

std::string randomBytes() {
    std::string bytes(4096, '\0');
    unsigned state = 12345;  // a fixed linear congruential sequence, the same on every run
    for (char& byte : bytes) {
        state = (state * 1103515245U) + 12345U;
        byte = static_cast<char>(state >> 16U);
    }
    return bytes;
}

// Built when the tests are registered, not at static initialisation.
std::vector<Row> rows() {
    const std::string megabyte(std::size_t{1} << 20U, '1');
    const std::string zeros = answer("12:00:00 AM", "00:00:00");
    const std::string typical = answer("01:05:09 PM", "13:05:09");
    const std::string unreadable = "clock12: standard input could not be read\n";
    const std::string lostAnswer = "clock12: the answer could not be written to standard output\n";
    return {
        {"NumbersOnSeparateLines", "13\n5\n9\n", typical},
        {"NumbersOnOneLine", "13 5 9\n", typical},
        {"Midnight", "0 0 0\n", answer("12:00:00 AM", "00:00:00")},
        {"LastSecondOfMorning", "11 59 59\n", answer("11:59:59 AM", "11:59:59")},
        {"Noon", "12 0 0\n", answer("12:00:00 PM", "12:00:00")},
        {"AfterNoon", "12 30 45\n", answer("12:30:45 PM", "12:30:45")},
        {"LastSecondOfDay", "23 59 59\n", answer("11:59:59 PM", "23:59:59")},
        {"SingleDigitsAreZeroFilled", "9 5 3\n", answer("09:05:03 AM", "09:05:03")},
        {"HourTwentyFour", "24 0 0\n", answer("12:00:00 PM", "24:00:00")},
        {"OutOfRangePassesThrough", "25 61 100\n", answer("01:61:100 PM", "25:61:100")},
        {"NegativeValues", "-1 -5 7\n", answer("-1:-5:07 AM", "-1:-5:07")},
        {"MinusTwelve", "-12 0 0\n", answer("12:00:00 AM", "-12:00:00")},
        {"MinusThirteen", "-13 0 0\n", answer("-1:00:00 AM", "-13:00:00")},
        {"SignsAndLeadingZeros", "+7 008 -0\n", answer("07:08:00 AM", "07:08:00")},
        {"LargestValues", "2147483647 2147483647 2147483647\n",
         answer("07:2147483647:2147483647 PM", "2147483647:2147483647:2147483647")},
        {"SmallestValues", "-2147483648 -2147483648 -2147483648\n",
         answer("-8:-2147483648:-2147483648 AM", "-2147483648:-2147483648:-2147483648")},
        // Too large or small for 32 bits: the read stores the nearest extreme and fails.
        {"TooLargeForThirtyTwoBits", "2147483648 5 9\n", answer("07:00:00 PM", "2147483647:00:00")},
        {"TooSmallForThirtyTwoBits", "-2147483649 5 9\n",
         answer("-8:00:00 AM", "-2147483648:00:00")},
        // POSIX has exit give back what was read ahead of a seekable file; Windows does not.
        {"TextAfterTheThirdNumberIsLeftForTheNextReader", "13 5 9 and more\nnext line\n",
         typical + " and more\nnext line\n", Input::ThenCat, Output::Captured, "",
         std::pair{typical, ""}},
        {"LetterForHours", "x 5 9\n", zeros},
        {"LetterForMinutes", "13 x 9\n", answer("01:00:00 PM", "13:00:00")},
        {"LetterForSeconds", "13 5 x\n", answer("01:05:00 PM", "13:05:00")},
        {"LetterEndsANumber", "13abc 5 9\n", answer("01:00:00 PM", "13:00:00")},
        {"NoInput", "", zeros},
        {"InputEndsEarly", "13 5", answer("01:05:00 PM", "13:05:00")},
        {"NulBytes", "\0\0\0 1 2"s, zeros},
        {"NulAfterANumber", "13\0 5 9"s, answer("01:00:00 PM", "13:00:00")},
        {"RandomBytes", randomBytes(), zeros},
        {"MegabyteOfDigits", megabyte, answer("07:00:00 PM", "2147483647:00:00")},
        {"MegabyteOfWhiteSpace", std::string(std::size_t{1} << 20U, ' ') + "\t\n13 5 9\n", typical},
        // Input the system failed to deliver is not the end of input.
        {"StandardInputClosed", "", zeros, Input::Closed, Output::Captured, unreadable},
        {"StandardInputADirectory", "", zeros, Input::Directory, Output::Captured, unreadable},
        {"NothingYetOnANonBlockingPipe", "", zeros, Input::NonBlockingEmptyPipe, Output::Captured,
         unreadable},
        {"StandardOutputClosed", "13 5 9\n", "", Input::Given, Output::Closed, lostAnswer},
        {"LastLineBeyondTheFileSizeLimit", "13 5 9\n", typical.substr(0, typical.rfind("24-Hour")),
         Input::Given, Output::LimitedFile, lostAnswer},
        {"InputAndAnswerLost", "", "", Input::Closed, Output::Closed, unreadable + lostAnswer},
        // Windows has no SIGPIPE: the write fails, as to a closed output.
        {"ReaderGone", "13 5 9\n", "", Input::Given, Output::BrokenPipe, "",
         std::pair{"", lostAnswer}},
    };
}

// Rows that Wine cannot set up, and why. A single closed descriptor reaches
// clock12.exe as the folder Wine opens into it, which fails as a closed one does.
constexpr std::array<std::pair<const char*, const char*>, 2> notUnderWine{{
    {"NothingYetOnANonBlockingPipe", "Wine turns a non-blocking read into a wait"},
    {"InputAndAnswerLost", "Wine opens descriptors of its own into a closed input and output"},
}};

// A quiet spell this long shows a writer is stuck: a deadlock guard, not a timing.
constexpr int deadlockGuardMilliseconds = 10000;

// What a descriptor delivers, as it comes: until its end, or until nothing more
// arrives for the given time (0: what is there now).
std::string readFromProgram(pollfd output, int quietMilliseconds) {
    std::array<char, 4096> buffer{};
    std::string got;
    while (poll(&output, 1, quietMilliseconds) == 1) {
        const ssize_t count = read(output.fd, buffer.data(), buffer.size());
        if (count <= 0) {
            break;
        }
        got.append(buffer.data(), static_cast<std::size_t>(count));
    }
    return got;
}

// Names the row in test reports instead of dumping its bytes; GoogleTest looks
// for this exact name.
// NOLINTNEXTLINE(readability-identifier-naming)
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class Dialogue : public testing::TestWithParam<Row> {};

TEST_P(Dialogue, WritesExactlyTheExpectedBytes) {
    const Row row = asRun(GetParam());
    for (const auto& [name, why] : notUnderWine) {
        if (onWindows() && row.name == std::string(name)) {
            GTEST_SKIP() << why;
        }
    }
    // Named per process too, so that two builds' suites can run side by side.
    const std::string base =
        testing::TempDir() + "clock12_" + std::to_string(getpid()) + "_" + row.name;
    const std::string inPath = base + ".in";
    const std::string outPath = base + ".out";
    const std::string errPath = base + ".err";
    std::ofstream(inPath, std::ios::binary) << row.input;

    posix_spawn_file_actions_t actions{};
    posix_spawn_file_actions_init(&actions);
    // Descriptors the test keeps: the shared input file, or the pipe's ends.
    int shared = -1;
    std::array<int, 2> pipeEnds{-1, -1};
    switch (row.stdinSetup) {
        case Input::Given:
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inPath.c_str(), O_RDONLY, 0);
            break;
        case Input::ThenCat:
            shared = open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
            posix_spawn_file_actions_adddup2(&actions, shared, STDIN_FILENO);
            break;
        case Input::Closed:
            posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
            break;
        case Input::Directory:
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, testing::TempDir().c_str(),
                                             O_RDONLY | O_DIRECTORY, 0);
            break;
        case Input::NonBlockingEmptyPipe:
            // The writing end stays open, so a read finds nothing yet, not the end.
            EXPECT_EQ(pipe(pipeEnds.data()), 0);
            EXPECT_EQ(fcntl(pipeEnds.front(), F_SETFL, O_NONBLOCK), 0);
            posix_spawn_file_actions_adddup2(&actions, pipeEnds.front(), STDIN_FILENO);
            break;
    }
    if (row.stdoutSetup == Output::BrokenPipe) {  // no row needs both pipes
        EXPECT_EQ(pipe(pipeEnds.data()), 0);
        close(std::exchange(pipeEnds.front(), -1));
        posix_spawn_file_actions_adddup2(&actions, pipeEnds.back(), STDOUT_FILENO);
    } else if (row.stdoutSetup == Output::Closed) {
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // Beyond the limit a write fails (EFBIG) instead of raising SIGXFSZ; SIGPIPE as
    // a shell leaves it. The child inherits these; this process takes its own back.
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit fileSize = previous;
    const bool limited = row.stdoutSetup == Output::LimitedFile;
    if (limited) {
        fileSize.rlim_cur = row.output.size();
    }
    const auto oldHandler = std::signal(SIGXFSZ, limited ? SIG_IGN : SIG_DFL);
    const auto oldPipeHandler = std::signal(SIGPIPE, SIG_DFL);
    setrlimit(RLIMIT_FSIZE, &fileSize);
    const pid_t pid = spawn(actions);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    std::signal(SIGPIPE, oldPipeHandler);
    posix_spawn_file_actions_destroy(&actions);

    const int status = row.stdoutSetup == Output::BrokenPipe ? 128 + SIGPIPE : 0;
    EXPECT_EQ(exitStatus(pid), row.error.empty() ? status : 1);
    std::string output = readFile(outPath);
    if (shared >= 0) {  // what `cat` would find after clock12
        output += readFromProgram({shared, POLLIN, 0}, deadlockGuardMilliseconds);
    }
    EXPECT_EQ(output, row.output);
    EXPECT_EQ(readFile(errPath), row.error);
    for (const int fd : {shared, pipeEnds.front(), pipeEnds.back()}) {
        close(fd);  // -1 where unused, which close refuses harmlessly
    }
    for (const std::string& path : {inPath, outPath, errPath}) {
        std::remove(path.c_str());
    }
}

std::string rowName(const testing::TestParamInfo<Row>& row) { return row.param.name; }

INSTANTIATE_TEST_SUITE_P(Clock12, Dialogue, testing::ValuesIn(rows()), rowName);

// Each line typed only once the program waits for it, or, for "echo WORDS |
// clock12", the words piped in at once: the console must show exactly the
// session, and the program end with status 0.
void replay(const std::string& command, const std::string& shown) {
    const auto bar = command.find(" | ");
    const bool piped = command.starts_with("echo ") && bar != std::string::npos;
    const std::string program = piped ? command.substr(bar + 3) : command;
    ASSERT_TRUE(program == "clock12" || program.ends_with("/clock12")) << command;
    std::array<int, 2> toProgram{-1, -1};
    std::array<int, 2> fromProgram{-1, -1};
    ASSERT_EQ(pipe(toProgram.data()) | pipe(fromProgram.data()), 0);
    const auto [programInput, keys] = toProgram;
    const auto [console, programOutput] = fromProgram;
    posix_spawn_file_actions_t actions{};
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, programInput, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, programOutput, STDOUT_FILENO);
    for (const int fd : {programInput, keys, console, programOutput}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    const pid_t pid = spawn(actions);
    posix_spawn_file_actions_destroy(&actions);
    close(programInput);
    close(programOutput);
    // Until the program has taken all that was typed and sleeps in a read of its
    // input pipe (true), or has ended. Where the system does not say where a
    // process sleeps, a quiet moment stands in.
    const auto waitsForInput = [pid, typing = keys] {
        for (int round = 0; round < 10000; ++round, usleep(1000)) {
            siginfo_t ended{};
            std::string where;
            int untaken = 0;
            waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT);
            if (ended.si_pid == pid) {
                return false;
            }
            if (!(std::ifstream("/proc/" + std::to_string(pid) + "/wchan") >> where)) {
                usleep(100000);  // no word from the system: a quiet moment
                return true;
            }
            if (ioctl(typing, FIONREAD, &untaken) == 0 && untaken == 0 &&
                where.ends_with("pipe_read")) {
                return true;
            }
        }
        return false;
    };
    std::string screen;
    std::string typed = piped ? command.substr(5, bar - 5) + "\n" : "";
    while (write(keys, typed.data(), typed.size()) == static_cast<ssize_t>(typed.size()) &&
           !piped && waitsForInput()) {
        // It sleeps in a read, so all it wrote is in the pipe; the rest of the
        // line there is what the person types, echoed where it is typed.
        screen += readFromProgram({console, POLLIN, 0}, 0);
        ASSERT_TRUE(shown.starts_with(screen) && screen.size() < shown.size())
            << command << " waits, having shown: " << screen;
        typed = shown.substr(screen.size(), shown.find('\n', screen.size()) + 1 - screen.size());
        screen += typed;
    }
    close(keys);  // only now, or when stuck, does the program see the end of input
    screen += readFromProgram({console, POLLIN, 0}, deadlockGuardMilliseconds);
    close(console);
    EXPECT_EQ(screen, shown) << command;
    EXPECT_EQ(exitStatus(pid), 0) << command;
}

// Every document the build names, or the one that CLOCK12_DOCUMENT names (an
// installed man page, say), shows a session, and every session replays. A
// session: a "$ " line opening a console block (Markdown) or an unfilled one
// (man page), then what the console shows.
TEST(Docs, SessionsAreWhatTheProgramShows) {
    const std::regex session(
        R"((?:^|\n)(?:```console|\.nf)\n\$ ([^\n]*)\n([\s\S]*?\n)(?:```|\.fi)\n)");
    const char* const named = std::getenv("CLOCK12_DOCUMENT");
    for (const std::string& path : named != nullptr ? std::vector<std::string>{named}
                                                    : std::vector<std::string>{CLOCK12_DOCUMENTS}) {
        // A man page writes a minus sign as \-.
        const std::string document = std::regex_replace(readFile(path), std::regex(R"(\\-)"), "-");
        std::sregex_iterator at(document.begin(), document.end(), session);
        EXPECT_NE(at, std::sregex_iterator()) << path << " shows no session";
        for (; at != std::sregex_iterator(); ++at) {
            replay(at->str(1), at->str(2));
        }
    }
}

}  // namespace
