// Runs the built clock12 as a user or a script would: bytes on standard input,
// the exact bytes on standard output and standard error, and the exit status;
// and the docs' sessions as a person has them, at a terminal and through pipes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <regex>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;

// The answer lines, after what the console shows before them.
std::string answer(
    const std::string& twelveHour, const std::string& twentyFourHour,
    const std::string& before = "Enter time (24-hour format):\nHours: Minutes: Seconds: ") {
    return before + "12-Hour Format: " + twelveHour + "\n24-Hour Format: " + twentyFourHour + "\n";
}

// CRLF for every LF: what Windows writes and takes, and what a terminal shows.
std::string crlf(const std::string& text) {
    return std::regex_replace(text, std::regex("\n"), "\r\n");
}

// The program that CLOCK12_PROGRAM names, or the one built here.
std::string namedProgram() {
    const char* const named = std::getenv("CLOCK12_PROGRAM");
    return named != nullptr ? named : "";
}

// A Windows program (clock12.exe) runs under Wine, and writes CRLF line ends.
bool onWindows() { return namedProgram().ends_with(".exe"); }

// No AM or PM of its own (de_DE), digits grouped (en_US), and one that does not exist.
constexpr std::array<const char*, 3> locales{"de_DE.UTF-8", "en_US.UTF-8", "xx_XX.UTF-8"};

// Starts clock12 in a session of its own, through the emulator of a cross-build or
// Wine, with the given descriptor set-up, every signal at its default but IGNORED
// (0: none), which it starts ignoring, as `trap '' SIGNAL` leaves it, and the
// environment set against LOCALE. Returns its process id.
pid_t spawn(const posix_spawn_file_actions_t& actions, const char* locale, int ignored = 0) {
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
    posix_spawnattr_t attributes{};
    posix_spawnattr_init(&attributes);
    sigset_t defaults{};
    sigfillset(&defaults);
    sigdelset(&defaults, ignored);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    const auto handler = std::signal(ignored, SIG_IGN);  // inherited as ignored
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    // The program reads no variable: its locale, time zone and a crowd set against it.
    for (const char* name : {"LANG", "LC_ALL", "LC_NUMERIC", "LC_TIME"}) {
        setenv(name, locale, 1);
    }
    setenv("TZ", "Pacific/Chatham", 1);
    for (int k = 0; k < 100; ++k) {
        setenv(("CLOCK12_CROWD_" + std::to_string(k)).c_str(), locale, 1);
    }
    pid_t pid = -1;
    EXPECT_EQ(posix_spawnp(&pid, argv.front(), &actions, &attributes, argv.data(), environ), 0);
    std::signal(ignored, handler);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// A quiet spell this long shows a writer is stuck: a deadlock guard, not a timing.
constexpr int deadlockGuardMilliseconds = 10000;

// The exit status, or minus the ending signal (SIGKILL once the guard, if given, is
// out): a shell shows both as a status above 128, but only death by the signal
// stops the loop or script that started the program.
int exitStatus(pid_t pid, int guard = -1) {
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10, usleep(10000)) {
        kill(pid, guard >= 0 && waited >= guard ? SIGKILL : 0);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// What a descriptor delivers, as it comes: until WANTED bytes, its end, or until
// nothing more arrives for the given time.
std::string readFromProgram(int fd, std::size_t wanted, int quietMilliseconds) {
    std::array<char, 4096> buffer{};
    std::string got;
    pollfd output{fd, POLLIN, 0};
    ssize_t count = 0;
    while (got.size() < wanted && poll(&output, 1, quietMilliseconds) == 1 &&
           (count = read(fd, buffer.data(), buffer.size())) > 0) {
        got.append(buffer.data(), static_cast<std::size_t>(count));
    }
    return got;
}
constexpr std::size_t all = std::string::npos;

// Standard output (then what `cat` finds), standard error and exit status.
using Outcome = std::tuple<std::string, std::string, int>;

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
    BrokenPipe,   // a pipe whose reader has gone: SIGPIPE ends the program
    BrokenPipeSigpipeIgnored,  // the same, SIGPIPE ignored: the write fails (EPIPE)
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
    // Why Wine cannot set the row up: there the outcome must differ ("hangs": be killed).
    const char* notUnderWine = "";
};

// Built when the tests are registered, not at static initialisation.
std::vector<Row> rows() {
    const std::string megabyte(std::size_t{1} << 20U, '1');
    std::string randomBytes(4096, '\0');
    // NOLINTNEXTLINE(bugprone-random-generator-seed): the same bytes on every run
    std::ranges::generate(randomBytes, std::minstd_rand{});
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
        // Digits grouped as en_US and de_DE group them: clock12 reads in no locale.
        {"DigitsGroupedByComma", "1,000 5 9\n", answer("01:00:00 AM", "01:00:00")},
        {"DigitsGroupedByDot", "1.000 5 9\n", answer("01:00:00 AM", "01:00:00")},
        {"NoInput", "", zeros},
        {"InputEndsEarly", "13 5", answer("01:05:00 PM", "13:05:00")},
        {"NulBytes", "\0\0\0 1 2"s, zeros},
        {"NulAfterANumber", "13\0 5 9"s, answer("01:00:00 PM", "13:00:00")},
        {"RandomBytes", randomBytes, zeros},
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
        {"ReaderGoneWhileSigpipeIgnored", "13 5 9\n", "", Input::Given,
         Output::BrokenPipeSigpipeIgnored, lostAnswer},
    };
}

// Names the row in reports, not its bytes; GoogleTest looks for this exact name.
// NOLINTNEXTLINE(readability-identifier-naming)
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// An unnamed file in the temporary folder, holding TEXT, open at its start.
int fileHolding(const std::string& text) {
    const int fd = open(testing::TempDir().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    EXPECT_EQ(pwrite(fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    return fd;
}

// All that FD holds; then closes it.
std::string contents(int fd) {
    lseek(fd, 0, SEEK_SET);
    std::string held = readFromProgram(fd, all, 0);
    close(fd);
    return held;
}

// One run of the row, its environment set against LOCALE.
Outcome run(const Row& row, const char* locale) {
    const int input = fileHolding(row.input);
    const int output = fileHolding("");
    const int error = fileHolding("");
    std::array<int, 2> pipeEnds{-1, -1};  // no row needs two pipes
    posix_spawn_file_actions_t actions{};
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, error, STDERR_FILENO);
    if (row.stdinSetup == Input::Closed) {
        posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
    } else if (row.stdinSetup == Input::Directory) {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, testing::TempDir().c_str(),
                                         O_RDONLY | O_DIRECTORY, 0);
    } else if (row.stdinSetup == Input::NonBlockingEmptyPipe) {
        // The writing end stays open, so a read finds nothing yet, not the end.
        EXPECT_EQ(pipe2(pipeEnds.data(), O_CLOEXEC), 0);
        EXPECT_EQ(fcntl(pipeEnds.front(), F_SETFL, O_NONBLOCK), 0);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds.front(), STDIN_FILENO);
    }
    if (row.stdoutSetup >= Output::BrokenPipe) {
        EXPECT_EQ(pipe2(pipeEnds.data(), O_CLOEXEC), 0);
        close(std::exchange(pipeEnds.front(), -1));
        posix_spawn_file_actions_adddup2(&actions, pipeEnds.back(), STDOUT_FILENO);
    } else if (row.stdoutSetup == Output::Closed) {
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    }
    // Beyond the limit a write fails (EFBIG) where SIGXFSZ is ignored. The child
    // inherits the limit; this process takes its own back.
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    const bool limited = row.stdoutSetup == Output::LimitedFile;
    const rlimit fileSize{limited ? row.output.size() : previous.rlim_cur, previous.rlim_max};
    setrlimit(RLIMIT_FSIZE, &fileSize);
    int ignored = limited ? SIGXFSZ : 0;
    ignored = row.stdoutSetup == Output::BrokenPipeSigpipeIgnored ? SIGPIPE : ignored;
    const pid_t pid = spawn(actions, locale, ignored);
    setrlimit(RLIMIT_FSIZE, &previous);
    posix_spawn_file_actions_destroy(&actions);

    const bool exempt = onWindows() && *row.notUnderWine != '\0';
    const int exited = exitStatus(pid, exempt ? deadlockGuardMilliseconds : -1);
    // Then what `cat` finds, where the program left the shared input.
    const std::string rest = row.stdinSetup == Input::ThenCat ? readFromProgram(input, all, 0) : "";
    for (const int fd : {input, pipeEnds.front(), pipeEnds.back()}) {
        close(fd);  // -1 where unused, which close refuses harmlessly
    }
    return {contents(output) + rest, contents(error), exited};
}

class Dialogue : public testing::TestWithParam<Row> {};
TEST_P(Dialogue, WritesExactlyTheExpectedBytes) {
    Row row = GetParam();
    if (onWindows()) {  // its outcome there, and CRLF
        std::tie(row.output, row.error) = row.windows.value_or(std::pair{row.output, row.error});
        for (std::string* text : {&row.input, &row.output, &row.error}) {
            *text = crlf(*text);
        }
    }
    const int status = row.stdoutSetup == Output::BrokenPipe ? -SIGPIPE : 0;
    const Outcome expected{row.output, row.error, row.error.empty() ? status : 1};
    const std::string unsetUnderWine = onWindows() ? row.notUnderWine : "";
    // What Wine cannot set up, it cannot in any locale.
    for (const char* locale : unsetUnderWine.empty() ? locales : std::span(locales).first(1)) {
        const Outcome got = run(row, locale);
        if (unsetUnderWine.empty()) {
            EXPECT_EQ(got, expected) << locale;
        } else {
            EXPECT_NE(got, expected) << unsetUnderWine;
            EXPECT_EQ(std::get<2>(got) == -SIGKILL, unsetUnderWine.starts_with("hangs"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clock12, Dialogue, testing::ValuesIn(rows()),
                         [](const auto& row) { return row.param.name; });

// A locale that is not installed is C again, so the rows' runs in it prove nothing more.
class Locale : public testing::TestWithParam<const char*> {};
TEST_P(Locale, IsInstalled) {
    const std::string name = GetParam();
    const locale_t installed = newlocale(LC_ALL_MASK, name.c_str(), nullptr);
    if (installed == nullptr) {
        GTEST_SKIP() << name << " is not installed, so the rows run in it as in C; to install it: "
                     << "localedef -i " << name.substr(0, 5) << " -f UTF-8 " << name;
    }
    freelocale(installed);
}

INSTANTIATE_TEST_SUITE_P(Clock12, Locale, testing::ValuesIn(std::span(locales).first(2)));

// A console session: the words piped in, if any; each key typed once the console
// shows what comes before it; what the console shows at the end, and the status.
// NOLINTBEGIN(readability-redundant-member-init): set, or GCC 12 counts them missing
struct Session {
    std::string where;        // the document, line and command, or a name
    std::string screen = {};  // none: a code block that is not a session
    std::vector<std::pair<std::string, std::string>> keys = {};  // shown so far, typed
    int status = 0;
    std::string piped = {};
};
// NOLINTEND(readability-redundant-member-init)

// Each code block of the docs. A session ("$ clock12" or "$ echo WORDS | clock12",
// in a console fence or an unfilled block) is replayed; where a line ends in what
// follows a prompt, "Hours: 13", the person types it. Any other block fails.
std::vector<Session> sessions() {
    const std::regex block(R"((?:^|\n)(```[^\n]*|\.nf|\.EX)\n([\s\S]*?\n)(?:```|\.fi|\.EE)\n)");
    const std::regex command(R"(\$ (?:echo ([^\n|]*) \| )?(?:[^\n ]*/)?clock12\n)");
    const std::regex typed(R"([A-Za-z]+: ([^:\n]+\n))");        // after a prompt, to its line's end
    const char* const named = std::getenv("CLOCK12_DOCUMENT");  // an installed man page, say
    std::vector<Session> found;
    for (const std::string& path : named != nullptr ? std::vector<std::string>{named}
                                                    : std::vector<std::string>{CLOCK12_DOCUMENTS}) {
        // A man page writes a minus sign as \-.
        const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const std::string document = std::regex_replace(contents(file), std::regex(R"(\\-)"), "-");
        std::sregex_iterator at(document.begin(), document.end(), block);
        if (at == std::sregex_iterator()) {
            found.push_back({path + " shows no session"});
        }
        for (; at != std::sregex_iterator(); ++at) {
            const std::string body = at->str(2);
            const auto line =
                std::count(document.begin(), document.begin() + at->position(2), '\n');
            Session session{path + ":" + std::to_string(line + 1) + ": " +
                            body.substr(0, body.find('\n'))};
            std::smatch words;
            if ((at->str(1) == "```console" || at->str(1) == ".nf") &&
                std::regex_search(body, words, command, std::regex_constants::match_continuous)) {
                session.piped = words.length(1) > 0 ? words.str(1) + "\n" : "";
                session.screen = words.suffix().str();
            }
            for (std::sregex_iterator key(session.screen.begin(), session.screen.end(), typed);
                 session.piped.empty() && key != std::sregex_iterator(); ++key) {
                const auto shown = static_cast<std::size_t>(key->position(1));
                session.keys.emplace_back(session.screen.substr(0, shown), key->str(1));
            }
            found.push_back(session);
        }
    }
    return found;
}

// SESSION at a terminal, or through pipes, must show just what it says, with nothing on
// standard error, held apart. Each key is typed once the console shows what comes before
// it, so a prompt must show before its read waits. A terminal shows CRLF for each LF;
// Windows writes it and takes it as typed.
void replay(Session session, bool terminal) {
    if (terminal || onWindows()) {
        session.screen = crlf(session.screen);
        for (auto& [shown, typed] : session.keys) {
            shown = crlf(shown);
            typed = onWindows() ? crlf(typed) : typed;
        }
    }
    std::array<int, 2> input{-1, -1};    // the words piped in, or the keys typed
    std::array<int, 2> console{-1, -1};  // the terminal's two sides, or a pipe
    EXPECT_EQ(pipe2(input.data(), O_CLOEXEC), 0);
    const int error = fileHolding("");  // apart from the console
    posix_spawn_file_actions_t actions{};
    posix_spawn_file_actions_init(&actions);
    if (terminal) {
        console.front() = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_EQ(grantpt(console.front()) | unlockpt(console.front()), 0);
        // Opened in the program's own session, it becomes the controlling terminal.
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, ptsname(console.front()), O_RDWR,
                                         0);
        posix_spawn_file_actions_adddup2(
            &actions, session.piped.empty() ? STDOUT_FILENO : input.front(), STDIN_FILENO);
    } else {
        EXPECT_EQ(pipe2(console.data(), O_CLOEXEC), 0);
        posix_spawn_file_actions_adddup2(&actions, console.back(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, input.front(), STDIN_FILENO);
    }
    posix_spawn_file_actions_adddup2(&actions, error, STDERR_FILENO);
    const pid_t pid = spawn(actions, locales.front());
    posix_spawn_file_actions_destroy(&actions);
    close(input.front());
    close(console.back());
    const int keys = terminal ? console.front() : input.back();
    EXPECT_EQ(write(input.back(), session.piped.data(), session.piped.size()),
              static_cast<ssize_t>(session.piped.size()));
    std::string screen;
    for (const auto& [shown, typed] : session.keys) {
        screen +=
            readFromProgram(console.front(), shown.size() - std::min(shown.size(), screen.size()),
                            deadlockGuardMilliseconds);
        if (screen != shown ||
            write(keys, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) {
            break;  // it waits before its prompt, or shows what comes later
        }
        screen += terminal ? "" : typed;  // a terminal echoes what is typed
    }
    close(input.back());  // only now, or when stuck, does the program see the end of input
    screen += readFromProgram(console.front(), all, deadlockGuardMilliseconds);
    close(console.front());  // a program still waiting at the terminal is hung up on
    const int status = exitStatus(pid, deadlockGuardMilliseconds);
    EXPECT_EQ(Outcome(screen, contents(error), status), Outcome(session.screen, "", session.status))
        << session.where << (terminal ? ", at a terminal" : "");
}

// Why no session can be replayed at a terminal here, or nothing.
std::string noTerminal() {
    const int fd = onWindows() ? -1 : posix_openpt(O_RDWR | O_NOCTTY);
    close(fd);
    if (onWindows()) {
        return "Wine draws a terminal with escape sequences of its own";
    }
    return fd < 0 ? "no pseudo-terminal can be opened here" : "";
}

class Docs : public testing::TestWithParam<Session> {};
TEST_P(Docs, ShowWhatTheProgramShows) {
    ASSERT_FALSE(GetParam().screen.empty()) << GetParam().where << ": not a session to replay";
    replay(GetParam(), false);
    if (!noTerminal().empty()) {
        GTEST_SKIP() << "through pipes only: " << noTerminal();
    }
    replay(GetParam(), true);
}

// NOLINTNEXTLINE(readability-identifier-naming): as for a row
void PrintTo(const Session& session, std::ostream* out) { *out << session.where; }

INSTANTIATE_TEST_SUITE_P(Clock12, Docs, testing::ValuesIn(sessions()),
                         [](const auto& at) { return "Session" + std::to_string(at.index + 1); });

// At a terminal, a letter is read as in a pipe, Ctrl-D at each prompt ends the input
// (twice after typed text), and Ctrl-C ends clock12 by SIGINT.
TEST(AtATerminal, TypedKeys) {
    if (!noTerminal().empty()) {
        GTEST_SKIP() << noTerminal();
    }
    const std::string hours = "Enter time (24-hour format):\nHours: ";
    const std::string minutes = hours + "13\nMinutes: ";
    const std::string seconds = minutes + "5\nSeconds: ";
    const std::array<Session, 6> typing{{
        {"a letter at Hours",
         answer("12:00:00 AM", "00:00:00", hours + "x\nMinutes: Seconds: "),
         {{hours, "x\n"}}},
        {"Ctrl-D at Hours", answer("12:00:00 AM", "00:00:00"), {{hours, "\x04"}}},
        {"Ctrl-D at Minutes",
         answer("01:00:00 PM", "13:00:00", minutes + "Seconds: "),
         {{hours, "13\n"}, {minutes, "\x04"}}},
        {"Ctrl-D at Seconds",
         answer("01:05:00 PM", "13:05:00", seconds),
         {{hours, "13\n"}, {minutes, "5\n"}, {seconds, "\x04"}}},
        {"Ctrl-D twice after 1",
         answer("01:00:00 AM", "01:00:00", hours + "1Minutes: Seconds: "),
         {{hours, "1\x04"}, {hours + "1", "\x04"}}},
        {"Ctrl-C at Hours", hours + "^C", {{hours, "\x03"}}, -SIGINT},
    }};
    for (const Session& session : typing) {
        replay(session, true);
    }
}

}  // namespace
