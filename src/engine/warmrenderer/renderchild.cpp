#include "renderchild.h"

#include "common/sandbox.h"
#include "renderprotocol.h"
#include "warminterpreter.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How often a running child's output is measured.
constexpr std::chrono::milliseconds OutputCheckInterval{20};

// Exit statuses of a child that never reached Ghostscript.
constexpr int RendererGone = 127;
constexpr int FolderUnusable = 126;
constexpr int SandboxRefused = 125;

// Everything the child does before Ghostscript sees the document. Returns
// only when the child is ready to render.
void prepareChild(const std::string &input, const std::string &folder, const RenderLimits &limits, pid_t parent,
                  int protocolIn, int protocolOut)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(RendererGone);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::close(protocolIn);
    ::close(protocolOut);

    if (::chdir(folder.c_str()) != 0)
        ::_exit(FolderUnusable);
    const int messages = ::open(RenderProtocol::MessagesName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (messages < 0)
        ::_exit(FolderUnusable);
    ::dup2(messages, STDOUT_FILENO);
    ::dup2(messages, STDERR_FILENO);
    ::close(messages);

    // Safe mode lets a document write in Ghostscript's temporary folder: one
    // of this child's own.
    ::mkdir(RenderProtocol::TemporaryName, 0700);
    const std::string temporary = folder + '/' + RenderProtocol::TemporaryName;
    for (const char *name : {"TMPDIR", "TEMP", "TMP"})
        ::setenv(name, temporary.c_str(), 1);

    // It may read what rendering needs and its one input, write in its own
    // folder only, start nothing; processor time backs the wall clock, should
    // the renderer be stopped.
    Sandbox::Rules rules;
    rules.readable = Sandbox::systemReadable();
    rules.readable.push_back(input);
    rules.writable = {folder};
    rules.memoryBytes = limits.memoryBytes;
    rules.fileSizeBytes = limits.outputBytes;
    rules.cpuSeconds = (unsigned long long)(limits.time.count() / 1000 + 1);
    if (!Sandbox(rules).apply())
        ::_exit(SandboxRefused);
}

// What the child's files in `folder` hold so far, counted cheaply: pages that
// are finished are measured once.
class OutputMeter
{
public:
    explicit OutputMeter(std::string folder) : m_folder(std::move(folder)) {}

    unsigned long long bytes()
    {
        while (size(pagePath(m_lastPage + 1)) >= 0) {
            if (m_lastPage > 0)
                m_finished += size(pagePath(m_lastPage));
            ++m_lastPage;
        }
        const long long current = m_lastPage > 0 ? size(pagePath(m_lastPage)) : 0;
        const long long messages = size(m_folder + '/' + RenderProtocol::MessagesName);
        return m_finished + (unsigned long long)(current > 0 ? current : 0) +
               (unsigned long long)(messages > 0 ? messages : 0);
    }

private:
    std::string pagePath(int page) const
    {
        char name[32];
        std::snprintf(name, sizeof name, RenderProtocol::PagePattern, page);
        return m_folder + '/' + name;
    }

    static long long size(const std::string &path)
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
    }

    std::string m_folder;
    int m_lastPage = 0;
    unsigned long long m_finished = 0;
};

RenderEnding stopChild(pid_t child, const char *ending)
{
    ::kill(child, SIGKILL);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return {ending, 0};
}

// Waits for the child within the limits. Asked to end meanwhile (SIGTERM),
// the renderer ends only once the child is gone, so that nothing writes in
// the folders pellucor-batch is about to remove.
RenderEnding waitForChild(pid_t child, const std::string &folder, const RenderLimits &limits,
                          Clock::time_point deadline, const sigset_t &awaited)
{
    OutputMeter output(folder);
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) {
            if (WIFSIGNALED(status))
                return {RenderProtocol::Signalled, WTERMSIG(status)};
            if (WEXITSTATUS(status) == SandboxRefused)
                return {RenderProtocol::Unconfined, 0};
            return {RenderProtocol::Exited, WEXITSTATUS(status)};
        }
        const auto now = Clock::now();
        if (now >= deadline)
            return stopChild(child, RenderProtocol::TimedOut);
        if (limits.outputBytes > 0 && output.bytes() > limits.outputBytes)
            return stopChild(child, RenderProtocol::OutputTooLarge);
        const auto wait = std::min<Clock::duration>(deadline - now, OutputCheckInterval);
        const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        const timespec timeout{time_t(nanoseconds / 1000000000), long(nanoseconds % 1000000000)};
        if (::sigtimedwait(&awaited, nullptr, &timeout) == SIGTERM) {
            stopChild(child, RenderProtocol::TimedOut);
            ::_exit(0);
        }
    }
}

} // namespace

RenderEnding renderInChild(WarmInterpreter &interpreter, const std::string &input, const std::string &folder,
                           const RenderLimits &limits, int protocolIn, int protocolOut)
{
    const auto deadline = Clock::now() + limits.time;
    // Only a regular file is rendered: a pipe or a device could block the
    // reader or never end. Opened once here to tell why it cannot be read.
    struct stat st;
    if (::stat(input.c_str(), &st) != 0)
        return {RenderProtocol::Unreadable, errno};
    if (!S_ISREG(st.st_mode))
        return {RenderProtocol::NotRegular, 0};
    const int probe = ::open(input.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (probe < 0)
        return {RenderProtocol::Unreadable, errno};
    ::close(probe);

    // While a child runs, SIGCHLD and SIGTERM are awaited rather than handled.
    sigset_t awaited;
    sigemptyset(&awaited);
    sigaddset(&awaited, SIGCHLD);
    sigaddset(&awaited, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &awaited, nullptr);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        prepareChild(input, folder, limits, parent, protocolIn, protocolOut);
        ::_exit(interpreter.runDocument(input, folder + '/' + RenderProtocol::TemporaryName));
    }
    const int forkError = errno;
    const RenderEnding ending =
        child < 0 ? RenderEnding{RenderProtocol::NotStarted, forkError} : waitForChild(child, folder, limits, deadline, awaited);
    sigset_t terminate;
    sigemptyset(&terminate);
    sigaddset(&terminate, SIGTERM);
    ::sigprocmask(SIG_UNBLOCK, &terminate, nullptr); // a SIGTERM that came meanwhile ends the renderer now
    return ending;
}
