// pellucor-sandbox: runs one program inside the sandbox, which it applies
// to the program. Without --reap it becomes the program. With --reap it
// stays behind as the program's parent, out of the program's reach, and,
// once the program has ended or this is asked to end, ends every process
// the program left: as the first process of the namespaces bubblewrap made,
// or, where there are none, as the program's subreaper. Meanwhile it
// measures what the program writes against --max-output. With --held it
// makes everything ready (its namespaces, rules, filter and the program's
// process) and then waits for a line on standard input before the program
// runs, whose standard input is then /dev/null: its start-up is paid ahead
// of its turn. A reaper so released with a mark (a line of letters and
// digits) ends by writing the mark and the program's status on a line of
// their own, once everything the program left has ended: its starter may
// go on from there while the sandbox winds down. Not linked to Qt: it forks.
#include "sandbox/outputmeter.h"
#include "sandbox/sandbox.h"

#include <cctype>
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
    "usage: pellucor-sandbox [--reap] [--held] [--read=PATH]... [--write=PATH]... [--exec=PATH]... [--processes=N]\n"
    "                        [--memory=BYTES] [--file-size=BYTES] [--cpu=SECONDS] [--max-output=BYTES]\n"
    "                        -- PROGRAM [ARGUMENT]...\n"
    "Started by Pellucor around each Ghostscript it runs.\n";

// How a program ends that the sandbox refused, as the callers know it.
constexpr int Refused = Sandbox::RefusedStatus;
constexpr int NotStarted = 127;

// The longest mark a release may carry.
constexpr size_t MarkLength = 64;

// /dev/null as standard input, in place of the channel the release comes on.
bool emptyInput()
{
    const int empty = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const bool replaced = empty >= 0 && ::dup2(empty, STDIN_FILENO) == STDIN_FILENO;
    if (!replaced)
        std::fprintf(stderr, "pellucor-sandbox: /dev/null cannot be opened: %s\n", std::strerror(errno));
    if (empty >= 0)
        ::close(empty);
    return replaced;
}

// Waits for the line on standard input that releases the program, and puts
// /dev/null in its place. False when the channel closed first, or the line
// is not a mark: the program is not to run.
bool awaitRelease(std::string &mark)
{
    // The mark must never be read from its memory, not even by a process
    // of the same user that nothing else stops.
    ::prctl(PR_SET_DUMPABLE, 0);
    char line[MarkLength + 1];
    size_t length = 0;
    while (length < sizeof line) {
        const ssize_t got = ::read(STDIN_FILENO, line + length, sizeof line - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        length += size_t(got);
        if (std::memchr(line, '\n', length))
            break;
    }
    const char *end = static_cast<const char *>(std::memchr(line, '\n', length));
    if (!end)
        return false;
    mark.assign(line, size_t(end - line));
    for (const char c : mark) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return false;
    }
    return emptyInput();
}

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

struct Process
{
    pid_t pid;
    pid_t parent;
};

// Every process this one can see, with its parent.
std::vector<Process> processTable()
{
    std::vector<Process> found;
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
        if (afterName && std::sscanf(afterName + 1, " %c %ld", &state, &parent) == 2)
            found.push_back({pid_t(pid), pid_t(parent)});
    }
    ::closedir(processes);
    return found;
}

// The processes whose parent this is: the program, and whatever it left
// that has lost its own parent since.
std::vector<pid_t> children()
{
    std::vector<pid_t> found;
    for (const Process &process : processTable()) {
        if (process.parent == ::getpid())
            found.push_back(process.pid);
    }
    return found;
}

// Every process below this one.
std::vector<pid_t> descendants()
{
    const std::vector<Process> table = processTable();
    std::vector<pid_t> found{::getpid()};
    for (size_t next = 0; next < found.size(); ++next) {
        for (const Process &process : table) {
            if (process.parent == found[next])
                found.push_back(process.pid);
        }
    }
    found.erase(found.begin());
    return found;
}

// Ends every descendant: first the program's process group, which none of
// them may leave, all at once (the program, not yet reaped, keeps its id
// from another group); then, one by one, whatever else is left: the ones
// left by a parent that is gone come to this process, so it goes on until
// none is left.
void endDescendants(pid_t program)
{
    ::kill(-program, SIGKILL);
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

// What the program wrote below its folders, beyond what they held when it
// started, and, while it runs, what its processes hold open without a name.
class OutputBound
{
public:
    explicit OutputBound(const Sandbox::Rules &rules)
        : m_folders(rules.writable), m_limit(rules.outputBytes),
          m_before(m_limit > 0 ? OutputMeter::filesBelow(m_folders) : 0)
    {
    }

    bool bounded() const { return m_limit > 0; }

    bool outgrown(bool running) const
    {
        unsigned long long written = OutputMeter::filesBelow(m_folders);
        if (running)
            written = OutputMeter::sum(written, OutputMeter::removedButOpen(descendants()));
        return written == OutputMeter::TooMuch || (written > m_before && written - m_before > m_limit);
    }

private:
    std::vector<std::string> m_folders;
    unsigned long long m_limit;
    unsigned long long m_before;
};

// How often a bounded program's output is measured.
constexpr long MeterIntervalNanoseconds = 20 * 1000 * 1000;

// Reaps whatever has ended but the program, which stays unreaped: its
// process id, which names its process group, stays taken until the group
// is ended. True once the program has ended, with its wait status.
bool programEnded(pid_t program, int &status)
{
    for (;;) {
        siginfo_t ended{};
        if (::waitid(P_ALL, 0, &ended, WEXITED | WNOHANG | WNOWAIT) != 0 || ended.si_pid == 0)
            return false;
        if (ended.si_pid == program) {
            status = ended.si_code == CLD_EXITED ? W_EXITCODE(ended.si_status, 0) : W_EXITCODE(0, ended.si_status);
            return true;
        }
        ::waitpid(ended.si_pid, nullptr, WNOHANG);
    }
}

// Waits for the program, measuring its output when it is bounded. The
// program's wait status; `outgrown` when it was stopped for its output.
int awaitProgram(pid_t program, const sigset_t &awaited, const OutputBound &output, bool &outgrown)
{
    for (;;) {
        const timespec interval{0, MeterIntervalNanoseconds};
        const int signal = output.bounded() ? ::sigtimedwait(&awaited, nullptr, &interval)
                                            : ::sigwaitinfo(&awaited, nullptr);
        int status = 0;
        if (signal == SIGCHLD && programEnded(program, status))
            return status;
        // Asked to end, or past its bound: everything goes, the program with it.
        outgrown = signal < 0 && errno == EAGAIN && output.outgrown(true);
        if (outgrown || (signal > 0 && signal != SIGCHLD))
            return W_EXITCODE(0, SIGKILL);
    }
}

// Makes this process the reaper of what the program leaves: it stops with
// its starter, which made sure it had not already gone, leaves no core, and
// takes the signals it awaits (returned, blocked; the mask before in `before`).
sigset_t becomeReaper(sigset_t &before)
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::setsid();
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    sigset_t awaited;
    sigemptyset(&awaited);
    for (const int signal : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&awaited, signal);
    ::sigprocmask(SIG_BLOCK, &awaited, &before);
    return awaited;
}

// The program's own process: held, it waits on `release` for its turn.
[[noreturn]] void runProgram(const Sandbox &sandbox, char **program, const int release[2], const sigset_t &before)
{
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // A session and process group apart from its reaper's, which the
    // program may not leave: nothing it signals reaches its reaper.
    ::setsid();
    if (release[0] >= 0) {
        char go = 0;
        ::close(release[1]);
        if (!emptyInput() || ::read(release[0], &go, 1) != 1)
            ::_exit(NotStarted);
        ::close(release[0]);
    }
    become(sandbox, program);
}

int reap(const Sandbox &sandbox, char **program, bool held)
{
    sigset_t before;
    const sigset_t awaited = becomeReaper(before);
    // Held, the program's process waits on this for its release.
    int release[2] = {-1, -1};
    if (held && ::pipe2(release, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "pellucor-sandbox: no channel could be made: %s\n", std::strerror(errno));
        return NotStarted;
    }

    const pid_t child = ::fork();
    if (child == 0)
        runProgram(sandbox, program, release, before);
    if (child < 0) {
        std::fprintf(stderr, "pellucor-sandbox: no process could be made: %s\n", std::strerror(errno));
        return NotStarted;
    }
    std::string mark;
    if (held) {
        ::close(release[0]);
        if (!awaitRelease(mark)) {
            ::close(release[1]); // the program's process ends without running it
            ::waitpid(child, nullptr, 0);
            return NotStarted;
        }
    }
    // Measured when the program is let run: what the job before it left
    // meanwhile is no allowance of this one.
    const OutputBound output(sandbox.rules());
    if (held) {
        const bool released = ::write(release[1], "", 1) == 1;
        ::close(release[1]);
        if (!released) {
            endDescendants(child);
            return NotStarted;
        }
    }
    bool outgrown = false;
    const int status = awaitProgram(child, awaited, output, outgrown);
    endDescendants(child);
    // Measured once more now that nothing writes: a program that ended
    // before the first measurement is measured too. As a shell reports it:
    // 128 plus the signal that ended the program.
    const int result = outgrown || (output.bounded() && output.outgrown(false)) ? Sandbox::OutputTooLargeStatus
                       : WIFSIGNALED(status)                                    ? 128 + WTERMSIG(status)
                                                                                : WEXITSTATUS(status);
    if (!mark.empty()) { // nothing the program started is left to write after it
        std::printf("\n%s %d\n", mark.c_str(), result);
        std::fflush(stdout);
    }
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    Sandbox::Rules rules;
    bool reaps = false, held = false;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--reap") == 0)
            reaps = true;
        else if (std::strcmp(argv[i], "--held") == 0)
            held = true;
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
    if (!reaps) {
        std::string mark;
        if (held && !awaitRelease(mark))
            return NotStarted;
        become(sandbox, program);
    }
    return reap(sandbox, program, held);
}
