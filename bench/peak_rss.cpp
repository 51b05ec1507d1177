// Runs a command and writes the peak resident set size of its process, in KiB,
// to standard error (standard output is the command's).
//
// The kernel counts the pages a child held before exec into its peak, and a
// forked child holds this program's pages; so this stays small and is linked
// statically, without the C++ streams, to keep its share below what it measures.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <span>

int main(int argc, char** argv) {
    const std::span<char*> args(argv, static_cast<std::size_t>(argc));
    if (args.size() < 2) {
        std::fputs("usage: peak_rss COMMAND [ARGUMENT...]\n", stderr);
        return 2;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const std::span<char*> command = args.subspan(1);
        execvp(command.front(), command.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
        std::perror("peak_rss");
        return 1;
    }
    // glibc declares ru_maxrss inside an anonymous union.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-union-access)
    std::fprintf(stderr, "%ld\n", usage.ru_maxrss);
    return status == 0 ? 0 : 1;
}
