#include "renderchild.h"

#include "sandbox/namespaces.h"
#include "sandbox/outputmeter.h"
#include "sandbox/sandbox.h"
#include "imaging/jpegencoding.h"
#include "renderprotocol.h"
#include "warminterpreter.h"
#include "writeall.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How often a running child's output is measured.
constexpr std::chrono::milliseconds OutputCheckInterval{20};

// Exit statuses of a child that never reached Ghostscript, that ran past
// its processor time (as the first process of its PID namespace it does not
// die of SIGXCPU, so it says so), or that wrote more than it may.
constexpr int RendererGone = 127;
constexpr int FolderUnusable = 126;
constexpr int SandboxRefused = Sandbox::RefusedStatus;
constexpr int ProcessorTimeUsed = 124;
constexpr int OutputOutgrown = 123;

// The namespaces a child gets of its own, inside the renderer's: a PID
// namespace that ends with it, its own view of the mounts, its own IPC.
constexpr unsigned long ChildNamespaces = CLONE_NEWPID | CLONE_NEWNS | CLONE_NEWIPC;

void onProcessorTimeUsed(int)
{
    ::_exit(ProcessorTimeUsed);
}

// Everything the child does before Ghostscript sees the document. Returns
// only when the child is ready to render.
void prepareChild(const std::string &input, const std::string &folder, const GhostscriptPolicy::Limits &limits, int parentAlive,
                  int protocolIn, int protocolOut)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The renderer holds the other end: once it is gone, this end hangs up.
    pollfd renderer{parentAlive, POLLIN, 0};
    if (::poll(&renderer, 1, 0) != 0)
        ::_exit(RendererGone);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGXCPU, onProcessorTimeUsed);
    ::close(protocolIn);
    ::close(protocolOut);

    if (::chdir(folder.c_str()) != 0)
        ::_exit(FolderUnusable);
    const int messages = ::open(RenderProtocol::MessagesName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (messages < 0)
        ::_exit(FolderUnusable);
    ::dup2(messages, STDOUT_FILENO);
    ::dup2(messages, STDERR_FILENO);
    // Nothing but the standard descriptors: not the renderer's, not what was
    // inherited from whatever started pellucor-batch.
    Sandbox::keepStandardDescriptorsOnly(false);

    const std::string temporary = GhostscriptPolicy::temporaryFolder(folder);
    ::mkdir(temporary.c_str(), 0700);
    for (const char *name : GhostscriptPolicy::TemporaryVariables)
        ::setenv(name, temporary.c_str(), 1);

    // Processor time backs the wall clock, should the renderer be stopped.
    const Sandbox sandbox(GhostscriptPolicy::batchChildRules(input, folder, limits));
    if (!sandbox.failure().empty())
        std::fprintf(stderr, "pellucor-renderer: %s\n", sandbox.failure().c_str());
    if (!sandbox.apply())
        ::_exit(SandboxRefused);
}

// Everything the child has written: its files below its folder and, while
// it runs, those it holds open after removing them.
unsigned long long written(const std::string &folder, pid_t running)
{
    return OutputMeter::sum(OutputMeter::filesBelow({folder}), running > 0 ? OutputMeter::removedButOpen({running}) : 0);
}

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
RenderEnding waitForChild(pid_t child, const std::string &folder, const GhostscriptPolicy::Limits &limits,
                          Clock::time_point deadline, const sigset_t &awaited)
{
    const auto outgrown = [&](pid_t running) {
        return limits.outputBytes() > 0 && written(folder, running) > limits.outputBytes();
    };
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) {
            if (WIFSIGNALED(status))
                return {RenderProtocol::Signalled, WTERMSIG(status)};
            if (WEXITSTATUS(status) == SandboxRefused)
                return {RenderProtocol::Unconfined, 0};
            if (WEXITSTATUS(status) == ProcessorTimeUsed)
                return {RenderProtocol::Signalled, SIGXCPU};
            if (WEXITSTATUS(status) == OutputOutgrown)
                return {RenderProtocol::OutputTooLarge, 0};
            // Measured once more now that nothing writes: a child that ended
            // before the first measurement is measured too.
            if (outgrown(0))
                return {RenderProtocol::OutputTooLarge, 0};
            return {RenderProtocol::Exited, WEXITSTATUS(status)};
        }
        const auto now = Clock::now();
        if (now >= deadline)
            return stopChild(child, RenderProtocol::TimedOut);
        if (outgrown(child))
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

// Copies one file the child left, if it is a regular file, to a new file of
// its name; 0 or the error.
int copyOut(int from, int to, const char *name)
{
    const int source = ::openat(from, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (source < 0)
        return 0;
    struct stat st;
    int error = 0;
    if (::fstat(source, &st) == 0 && S_ISREG(st.st_mode)) {
        const int target = ::openat(to, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (target < 0)
            error = errno;
        for (off_t offset = 0; !error && offset < st.st_size;) {
            const ssize_t sent = ::sendfile(target, source, &offset, size_t(st.st_size - offset));
            if (sent <= 0)
                error = sent < 0 ? errno : EIO;
        }
        if (target >= 0 && ::close(target) != 0 && !error)
            error = errno;
    }
    ::close(source);
    return error;
}

// The child's file system lives only as long as the renderer holds it: what
// pellucor-batch reads (the messages, and the pages of a child that ended by
// itself) goes to the folder below it, nothing else. 0 or the error.
int keepResults(const std::string &folder, int below, bool pages)
{
    const int from = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (from < 0)
        return errno;
    int error = copyOut(from, below, RenderProtocol::MessagesName);
    for (int page = 1; pages && !error; ++page) {
        char name[32];
        std::snprintf(name, sizeof name, RenderProtocol::PagePattern, page);
        if (::faccessat(from, name, F_OK, AT_SYMLINK_NOFOLLOW) != 0)
            break;
        error = copyOut(from, below, name);
    }
    ::close(from);
    return error;
}

bool isEmptyFolder(const std::string &folder)
{
    DIR *entries = ::opendir(folder.c_str());
    if (!entries)
        return false;
    bool empty = true;
    while (const dirent *entry = ::readdir(entries))
        empty = empty && (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0);
    ::closedir(entries);
    return empty;
}

// In the child, once the document has run. Safe mode lets a document write
// files that its output's name pattern matches, which it can read from its
// page device: a page beyond those Ghostscript output is the document's own.
void removeUnrenderedPages(long rendered)
{
    for (long page = std::max(rendered, 0L) + 1;; ++page) {
        char name[32];
        std::snprintf(name, sizeof name, RenderProtocol::PagePattern, int(page));
        if (::unlink(name) != 0 && errno == ENOENT)
            return;
    }
}

// In the child: each page Ghostscript wrote as PPM becomes a JPEG of the
// same name with full colour detail (a device that writes no pages, as the
// one that measures a drawing, leaves none to encode). False, with the
// reason among the messages and no page left, when one cannot be encoded.
bool encodePages(long pages, int quality, double dotsPerInch)
{
    for (long page = 1; page <= pages; ++page) {
        char name[32];
        std::snprintf(name, sizeof name, RenderProtocol::PagePattern, int(page));
        if (::faccessat(AT_FDCWD, name, F_OK, AT_SYMLINK_NOFOLLOW) != 0)
            return true;
        std::vector<unsigned char> jpeg;
        std::string failure = JpegEncoding::encodePpm(name, quality, dotsPerInch, jpeg);
        const char *const encoded = "encoded.tmp";
        const int file = failure.empty() ? ::open(encoded, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600) : -1;
        if (failure.empty() && (file < 0 || writeAll(file, reinterpret_cast<const char *>(jpeg.data()), jpeg.size()) != jpeg.size()
                                || ::close(file) != 0 || ::rename(encoded, name) != 0))
            failure = std::string("the page could not be written: ") + std::strerror(errno);
        if (!failure.empty()) {
            std::fprintf(stderr, "pellucor-renderer: %s\n", failure.c_str());
            removeUnrenderedPages(0);
            return false;
        }
    }
    return true;
}

// Only a regular file is rendered: a pipe or a device could block the
// reader or never end. Opened once here to tell why it cannot be read.
bool checkInput(const std::string &input, RenderEnding &refusal)
{
    struct stat st;
    if (::stat(input.c_str(), &st) != 0) {
        refusal = {RenderProtocol::Unreadable, errno};
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        refusal = {RenderProtocol::NotRegular, 0};
        return false;
    }
    const int probe = ::open(input.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (probe < 0) {
        refusal = {RenderProtocol::Unreadable, errno};
        return false;
    }
    ::close(probe);
    return true;
}

// In namespaces the child writes to a file system of its own, as large as
// its output may be, mounted over its folder; the folder itself stays
// reachable below it for what is kept. The descriptor of the folder below,
// or -1 when the file system could not be had.
int mountChildFileSystem(const std::string &folder, const GhostscriptPolicy::Limits &limits)
{
    const int below = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const std::string failure =
        below < 0 ? std::string("the folder ") + folder + " cannot be opened: " + std::strerror(errno)
                  : Namespaces::mountPrivateFileSystem(folder, limits.outputBytes() > 0 ? limits.outputBytes() + 4096 : 0);
    if (failure.empty())
        return below;
    std::fprintf(stderr, "pellucor-renderer: %s\n", failure.c_str());
    if (below >= 0)
        ::close(below);
    return -1;
}

// Keeps what pellucor-batch reads of a child that had a file system of its
// own, then lets that go. A child that failed already keeps its own reason.
RenderEnding keepAndUnmount(const std::string &folder, int below, RenderEnding ending)
{
    const bool exited = std::strcmp(ending.ending, RenderProtocol::Exited) == 0;
    const int error = keepResults(folder, below, exited);
    if (error != 0 && exited)
        ending = {error == ENOSPC || error == EDQUOT ? RenderProtocol::NoSpace : RenderProtocol::Unkept, error};
    ::umount2(folder.c_str(), MNT_DETACH);
    ::close(below);
    return ending;
}

} // namespace

RenderEnding renderInChild(WarmInterpreter &interpreter, const RenderRequest &request, const ChildSettings &settings,
                           bool ownNamespaces, int protocolIn, int protocolOut)
{
    const std::string &input = request.input;
    const std::string &folder = request.folder;
    const GhostscriptPolicy::Limits &limits = settings.limits;
    const auto deadline = Clock::now() + limits.time;
    RenderEnding refusal{};
    if (!checkInput(input, refusal))
        return refusal;
    // Made for this child: nothing in it may pass for the child's pages.
    if (!isEmptyFolder(folder))
        return {RenderProtocol::NotStarted, EEXIST};
    int below = -1;
    if (ownNamespaces && (below = mountChildFileSystem(folder, limits)) < 0)
        return {RenderProtocol::Unconfined, 0};

    // While a child runs, SIGCHLD and SIGTERM are awaited rather than handled.
    sigset_t awaited;
    sigemptyset(&awaited);
    sigaddset(&awaited, SIGCHLD);
    sigaddset(&awaited, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &awaited, nullptr);
    int alive[2] = {-1, -1};
    pid_t child = -1;
    if (::pipe2(alive, O_CLOEXEC) == 0) {
        // A plain clone, as fork, only with the child's namespaces: the
        // renderer has a single thread, so nothing is left locked.
        child = ownNamespaces ? pid_t(::syscall(SYS_clone, ChildNamespaces | SIGCHLD, nullptr, nullptr, nullptr, 0))
                              : ::fork();
    }
    if (child == 0) {
        ::close(alive[1]);
        prepareChild(input, folder, limits, alive[0], protocolIn, protocolOut);
        const int status =
            interpreter.runDocument(input, GhostscriptPolicy::temporaryFolder(folder), request.prologue);
        // Measured before the document's own pages go: they were written all the same.
        if (limits.outputBytes() > 0 && written(folder, 0) > limits.outputBytes())
            ::_exit(OutputOutgrown);
        const long pages = interpreter.pagesOutput();
        removeUnrenderedPages(pages);
        if (settings.encodeQuality >= 0 && !encodePages(pages, settings.encodeQuality, interpreter.resolution()))
            ::_exit(1);
        ::_exit(status);
    }
    const int forkError = errno;
    if (alive[0] >= 0)
        ::close(alive[0]);
    RenderEnding ending = child < 0 ? RenderEnding{RenderProtocol::NotStarted, forkError}
                                    : waitForChild(child, folder, limits, deadline, awaited);
    if (alive[1] >= 0)
        ::close(alive[1]); // held while the child lives: its end hangs up only when the renderer is gone
    if (ownNamespaces)
        ending = keepAndUnmount(folder, below, ending);
    sigset_t terminate;
    sigemptyset(&terminate);
    sigaddset(&terminate, SIGTERM);
    ::sigprocmask(SIG_UNBLOCK, &terminate, nullptr); // a SIGTERM that came meanwhile ends the renderer now
    return ending;
}
