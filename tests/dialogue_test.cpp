// Runs the built clock12 as a user or a script would: bytes on standard input,
// the exact bytes on standard output and standard error, and the exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
#include <tuple>
#include <utility>
#include <vector>

// POSIX leaves this declaration to the program; glibc has it only as an extension.
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

// A quiet spell this long shows a writer is stuck: a deadlock guard, not a timing.
constexpr int deadlockGuardMilliseconds = 10000;

// As a shell reports it: the exit status, or 128 plus the ending signal (SIGKILL
// once the guard, if given, is out).
int exitStatus(pid_t pid, int guard = -1) {
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10, usleep(10000)) {
        kill(pid, waited == guard ? SIGKILL : 0);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The program reads no variable: set its locale, time zone and a crowd against it.
void setEnvironmentAgainst(const char* locale) {
    for (const char* name : {"LANG", "LC_ALL", "LC_CTYPE", "LC_NUMERIC", "LC_TIME", "LC_COLLATE",
                             "LC_MONETARY", "LC_MESSAGES", "LC_PAPER", "LC_NAME", "LC_ADDRESS",
                             "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"}) {
        setenv(name, locale, 1);
    }
    setenv("TZ", "Pacific/Chatham", 1);
    for (int k = 0; k < 100; ++k) {
        setenv(("CLOCK12_CROWD_" + std::to_string(k)).c_str(), locale, 1);
    }
}

// Standard output (then what `cat` finds), standard error and exit status.
using Outcome = std::tuple<std::string, std::string, int>;

// CLOCK12_ALTER names a part of every expectation to alter (output, error, status).
bool altering() { return std::getenv("CLOCK12_ALTER") != nullptr; }
Outcome expecting(Outcome outcome) {
    const std::string part = altering() ? std::getenv("CLOCK12_ALTER") : "";
    std::get<0>(outcome) += part == "output" ? "?" : "";
    std::get<1>(outcome) += part == "error" ? "?" : "";
    std::get<2>(outcome) += part == "status" ? 1 : 0;
    return outcome;
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
    std::string name;
    std::string input;
    std::string output;  // what arrives: on standard output, then from `cat`
    Input stdinSetup = Input::Given;
    Output stdoutSetup = Output::Captured;
    // On standard error, any message meaning status 1. Set, or GCC 12 counts it missing.
    std::string error = {};  // NOLINT(readability-redundant-member-init)
    // Where Windows differs by nature: what arrives there, then its standard error.
    // NOLINTNEXTLINE(readability-redundant-member-init): as for error
    std::optional<std::pair<std::string, std::string>> windows = {};
    // Why Wine cannot set the row up: run there, it must still fail (hang, if it says so).
    const char* notUnderWine = "";
};

// The row as the program should meet it: on Windows, its outcome there, and CRLF.
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
         unreadable, std::nullopt, "hangs: Wine waits on a non-blocking read"},
        {"StandardOutputClosed", "13 5 9\n", "", Input::Given, Output::Closed, lostAnswer},
        {"LastLineBeyondTheFileSizeLimit", "13 5 9\n", typical.substr(0, typical.rfind("24-Hour")),
         Input::Given, Output::LimitedFile, lostAnswer},
        {"InputAndAnswerLost", "", "", Input::Closed, Output::Closed, unreadable + lostAnswer,
         std::nullopt, "fails: Wine opens its own descriptors into a closed input and output"},
        // Windows has no SIGPIPE: the write fails, as to a closed output.
        {"ReaderGone", "13 5 9\n", "", Input::Given, Output::BrokenPipe, "",
         std::pair{"", lostAnswer}},
    };
}

// What a descriptor delivers, as it comes: until its end, or until nothing more
// arrives for the given time (0: what is there now).
std::string readFromProgram(pollfd output, int quietMilliseconds) {
    std::array<char, 4096> buffer{};
    std::string got;
    ssize_t count = 0;
    while (poll(&output, 1, quietMilliseconds) == 1 &&
           (count = read(output.fd, buffer.data(), buffer.size())) > 0) {
        got.append(buffer.data(), static_cast<std::size_t>(count));
    }
    return got;
}

// Names the row in reports, not its bytes; GoogleTest looks for this exact name.
// NOLINTNEXTLINE(readability-identifier-naming)
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class Dialogue : public testing::TestWithParam<Row> {};
TEST_P(Dialogue, WritesExactlyTheExpectedBytes) {
    const Row row = asRun(GetParam());
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
    setEnvironmentAgainst("en_US.UTF-8");  // groups digits, if installed
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit fileSize = previous;
    const bool limited = row.stdoutSetup == Output::LimitedFile;
    fileSize.rlim_cur = limited ? row.output.size() : fileSize.rlim_cur;
    const auto oldHandler = std::signal(SIGXFSZ, limited ? SIG_IGN : SIG_DFL);
    const auto oldPipeHandler = std::signal(SIGPIPE, SIG_DFL);
    setrlimit(RLIMIT_FSIZE, &fileSize);
    const pid_t pid = spawn(actions);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    std::signal(SIGPIPE, oldPipeHandler);
    posix_spawn_file_actions_destroy(&actions);

    const bool exempt = onWindows() && *row.notUnderWine != '\0';
    const int exited = exitStatus(pid, exempt ? deadlockGuardMilliseconds : -1);
    std::string output = readFile(outPath);
    if (shared >= 0) {  // what `cat` would find after clock12
        output += readFromProgram({shared, POLLIN, 0}, deadlockGuardMilliseconds);
    }
    for (const int fd : {shared, pipeEnds.front(), pipeEnds.back()}) {
        close(fd);  // -1 where unused, which close refuses harmlessly
    }
    const Outcome got{output, readFile(errPath), exited};
    const int status = row.stdoutSetup == Output::BrokenPipe ? 128 + SIGPIPE : 0;
    const Outcome expected = expecting({row.output, row.error, row.error.empty() ? status : 1});
    if (exempt && !altering()) {
        EXPECT_NE(got, expected) << row.notUnderWine;
        EXPECT_EQ(exited == 128 + SIGKILL, std::string(row.notUnderWine).starts_with("hangs"));
    } else {
        EXPECT_EQ(got, expected);
    }
    for (const std::string& path : {inPath, outPath, errPath}) {
        std::remove(path.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Clock12, Dialogue, testing::ValuesIn(rows()),
                         [](const auto& row) { return row.param.name; });

// Each document's sessions as rows (command, words piped in, console): a "$ " line opening
// a Markdown console block or a man page's unfilled one, then the console.
std::vector<Row> sessions() {
    const std::regex session(R"((?:^|\n)(?:```console|\.nf)\n\$ ((?:echo ([^\n|]*) \| )?[^\n]*)\n)"
                             R"(([\s\S]*?\n)(?:```|\.fi)\n)");
    const char* const named = std::getenv("CLOCK12_DOCUMENT");  // an installed man page, say
    std::vector<Row> found;
    for (const std::string& path : named != nullptr ? std::vector<std::string>{named}
                                                    : std::vector<std::string>{CLOCK12_DOCUMENTS}) {
        // A man page writes a minus sign as \-.
        const std::string document = std::regex_replace(readFile(path), std::regex(R"(\\-)"), "-");
        std::sregex_iterator at(document.begin(), document.end(), session);
        if (at == std::sregex_iterator()) {
            found.push_back({path + " shows no session", "", ""});
        }
        for (; at != std::sregex_iterator(); ++at) {
            found.push_back({at->str(1), at->length(2) > 0 ? at->str(2) + "\n" : "", at->str(3)});
        }
    }
    return found;
}

// Each line typed once the program waits for it, or "echo WORDS | clock12" piped at once:
// the console, where both streams arrive, shows just the session; the status is 0.
class Docs : public testing::TestWithParam<Row> {};
TEST_P(Docs, ShowWhatTheProgramShows) {
    const Row session = asRun(GetParam());
    const std::string& shown = session.output;
    const bool piped = !session.input.empty();
    const std::string program = session.name.substr(piped ? session.name.find(" | ") + 3 : 0);
    ASSERT_TRUE(program == "clock12" || program.ends_with("/clock12")) << session.name;
    std::array<int, 2> toProgram{-1, -1};
    std::array<int, 2> fromProgram{-1, -1};
    ASSERT_EQ(pipe(toProgram.data()) | pipe(fromProgram.data()), 0);
    const auto [programInput, keys] = toProgram;
    const auto [console, programOutput] = fromProgram;
    posix_spawn_file_actions_t actions{};
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, programInput, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, programOutput, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, programOutput, STDERR_FILENO);
    for (const int fd : {programInput, keys, console, programOutput}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    setEnvironmentAgainst("xx_XX.UTF-8");  // a locale that does not exist
    const pid_t pid = spawn(actions);
    posix_spawn_file_actions_destroy(&actions);
    close(programInput);
    close(programOutput);
    // Until it has taken all typed and sleeps reading its input (true), or has ended; where
    // the system does not say, a quiet moment will do.
    const auto waitsForInput = [pid, typing = keys] {
        const std::string process = "/proc/" + std::to_string(pid) + "/";
        for (int round = 0; round < 10000; ++round, usleep(1000)) {
            siginfo_t ended{};
            std::string where;
            std::string call;
            int fd = -1;
            std::array<struct stat, 2> files{};  // what it reads, its input
            int untaken = 0;
            waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT);
            if (ended.si_pid == pid) {
                return false;
            }
            std::ifstream calls(process + "syscall");  // "running", or call and arguments
            if (!(std::ifstream(process + "wchan") >> where) || !(calls >> call)) {
                usleep(100000);  // no word from the system: a quiet moment
                return true;
            }
            // Asleep reading its input, descriptor 0 (through a copy under Wine).
            if (where.ends_with("pipe_read") && calls >> std::hex >> fd &&
                ioctl(typing, FIONREAD, &untaken) == 0 && untaken == 0 &&
                stat((process + "fd/" + std::to_string(fd)).c_str(), &files.front()) == 0 &&
                stat((process + "fd/0").c_str(), &files.back()) == 0 &&
                files.front().st_ino == files.back().st_ino) {
                return true;
            }
        }
        return false;
    };
    std::string screen;
    std::string typed = session.input;
    while (write(keys, typed.data(), typed.size()) == static_cast<ssize_t>(typed.size()) &&
           !piped && waitsForInput()) {
        // It sleeps in a read, so all it wrote is in the pipe; the rest of the
        // line there is what the person types, echoed where it is typed.
        screen += readFromProgram({console, POLLIN, 0}, 0);
        ASSERT_TRUE(shown.starts_with(screen) && screen.size() < shown.size())
            << session.name << " waits, having shown: " << screen;
        typed = shown.substr(screen.size(), shown.find('\n', screen.size()) + 1 - screen.size());
        screen += typed;
    }
    close(keys);  // only now, or when stuck, does the program see the end of input
    screen += readFromProgram({console, POLLIN, 0}, deadlockGuardMilliseconds);
    close(console);
    EXPECT_EQ(Outcome(screen, "", exitStatus(pid)), expecting({shown, "", 0})) << session.name;
}

INSTANTIATE_TEST_SUITE_P(Clock12, Docs, testing::ValuesIn(sessions()),
                         [](const auto& at) { return "Session" + std::to_string(at.index + 1); });

}  // namespace
