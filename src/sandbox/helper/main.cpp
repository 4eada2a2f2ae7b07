// pellucor-sandbox: runs one program inside the sandbox, which it applies
// to the program. Without --reap it becomes the program. With --reap it
// stays behind as the program's parent and, once the program has ended or
// this is asked to end, ends every process the program left, also those
// that left its session: as the first process of the namespaces bubblewrap
// made, or, where there are none, as the program's subreaper. Not linked to
// Qt: it forks.
#include "sandbox/sandbox.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char *const Usage =
    "usage: pellucor-sandbox [--reap] [--read=PATH]... [--write=PATH]... [--exec=PATH]... [--processes=N]\n"
    "                        [--memory=BYTES] [--file-size=BYTES] [--cpu=SECONDS] -- PROGRAM [ARGUMENT]...\n"
    "Started by Pellucor around each Ghostscript it runs.\n";

// How a program ends that the sandbox refused, as the callers know it.
constexpr int Refused = Sandbox::RefusedStatus;
constexpr int NotStarted = 127;

[[noreturn]] void become(const Sandbox &sandbox, char **program)
{
    if (!sandbox.apply()) {
        std::fprintf(stderr, "pellucor-sandbox: the sandbox could not be applied: %s\n", std::strerror(errno));
        ::_exit(Refused);
    }
    ::execv(program[0], program);
    std::fprintf(stderr, "pellucor-sandbox: %s cannot be started: %s\n", program[0], std::strerror(errno));
    ::_exit(NotStarted);
}

// The processes whose parent this is: the program, and whatever it left
// that has lost its own parent since.
std::vector<pid_t> children()
{
    std::vector<pid_t> found;
    const long self = long(::getpid());
    DIR *processes = ::opendir("/proc");
    if (!processes)
        return found;
    while (const dirent *entry = ::readdir(processes)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        const int fd = ::open(("/proc/" + std::string(entry->d_name) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char stat[512];
        const ssize_t size = ::read(fd, stat, sizeof stat - 1);
        ::close(fd);
        if (size <= 0)
            continue;
        stat[size] = '\0';
        // "pid (name) state ppid ...": the name may hold anything but ends at the last ')'.
        const char *afterName = std::strrchr(stat, ')');
        char state = 0;
        long parent = 0;
        if (afterName && std::sscanf(afterName + 1, " %c %ld", &state, &parent) == 2 && parent == self)
            found.push_back(pid_t(pid));
    }
    ::closedir(processes);
    return found;
}

// Ends every descendant: the ones left by a parent that is gone come to
// this process, so it goes on until none is left.
void endDescendants()
{
    for (;;) {
        const std::vector<pid_t> left = children();
        for (const pid_t pid : left)
            ::kill(pid, SIGKILL);
        int status = 0;
        const pid_t reaped = ::waitpid(-1, &status, left.empty() ? WNOHANG : 0);
        if (reaped < 0 && errno == ECHILD)
            return;
        if (reaped == 0 && left.empty())
            return;
    }
}

int reap(const Sandbox &sandbox, char **program)
{
    // Stops with its starter; it is the one that ends what the program left.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1)
        return Refused;
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::setsid();
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    sigset_t awaited;
    sigemptyset(&awaited);
    for (const int signal : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&awaited, signal);
    sigset_t before;
    ::sigprocmask(SIG_BLOCK, &awaited, &before);

    const pid_t child = ::fork();
    if (child == 0) {
        ::sigprocmask(SIG_SETMASK, &before, nullptr);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        become(sandbox, program);
    }
    if (child < 0) {
        std::fprintf(stderr, "pellucor-sandbox: no process could be made: %s\n", std::strerror(errno));
        return NotStarted;
    }
    int status = 0;
    bool ended = false;
    while (!ended) {
        if (::sigwaitinfo(&awaited, nullptr) != SIGCHLD) {
            ::kill(child, SIGKILL); // asked to end: the program first, the rest below
            status = W_EXITCODE(0, SIGKILL);
            ::waitpid(child, nullptr, 0);
            break;
        }
        int reapedStatus = 0;
        for (pid_t reaped; (reaped = ::waitpid(-1, &reapedStatus, WNOHANG)) > 0;) {
            if (reaped == child) {
                status = reapedStatus;
                ended = true;
            }
        }
    }
    endDescendants();
    // As a shell reports it: 128 plus the signal that ended the program.
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace

int main(int argc, char **argv)
{
    Sandbox::Rules rules;
    bool reaps = false;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--reap") == 0)
            reaps = true;
        else if (!Sandbox::readHelperOption(argv[i], rules))
            break;
    }
    if (i + 1 >= argc || std::strcmp(argv[i], "--") != 0) {
        std::fputs(Usage, stderr);
        return Refused;
    }
    char **program = argv + i + 1;
    const Sandbox sandbox(rules);
    if (!sandbox.failure().empty()) {
        std::fprintf(stderr, "pellucor-sandbox: %s\n", sandbox.failure().c_str());
        return Refused;
    }
    if (!reaps)
        become(sandbox, program);
    return reap(sandbox, program);
}
