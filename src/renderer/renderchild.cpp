#include "renderchild.h"

#include "sandbox/namespaces.h"
#include "sandbox/outputmeter.h"
#include "sandbox/sandbox.h"
#include "imaging/jpegencoding.h"
#include "renderprotocol.h"
#include "trace.h"
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
void prepareChild(const std::string &input, const std::string &folder, Sandbox &sandbox, int parentAlive)
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

    if (::chdir(folder.c_str()) != 0)
        ::_exit(FolderUnusable);
    const int messages = ::open(RenderProtocol::MessagesName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (messages < 0)
        ::_exit(FolderUnusable);
    ::dup2(messages, STDOUT_FILENO);
    ::dup2(messages, STDERR_FILENO);
    ::close(messages);

    const std::string temporary = GhostscriptPolicy::temporaryFolder(folder);
    ::mkdir(temporary.c_str(), 0700);
    for (const char *name : GhostscriptPolicy::TemporaryVariables)
        ::setenv(name, temporary.c_str(), 1);

    // The renderer's sandbox, with this child's input and folder: nothing else
    // is opened or compiled here. Processor time backs the wall clock, should
    // the renderer be stopped.
    sandbox.addReadable(input);
    sandbox.addWritable(folder);
    if (!sandbox.failure().empty())
        std::fprintf(stderr, "pellucor-renderer: %s\n", sandbox.failure().c_str());
    if (!sandbox.apply())
        ::_exit(SandboxRefused);
    // Nothing but the standard descriptors: not the renderer's channel, not
    // another child's, not what was inherited from whatever started pellucor-batch.
    Sandbox::keepStandardDescriptorsOnly(false);
}

// Everything the child has written: its files below its folder and, while
// it runs, those it holds open after removing them.
unsigned long long written(const std::string &folder, pid_t running)
{
    return OutputMeter::sum(OutputMeter::filesBelow({folder}), running > 0 ? OutputMeter::removedButOpen({running}) : 0);
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

// The child's own part: renders the document, then leaves only the pages
// Ghostscript output, encoded where that is asked. Never returns.
[[noreturn]] void renderDocument(WarmInterpreter &interpreter, const RenderRequest &request,
                                 const ChildSettings &settings)
{
    const GhostscriptPolicy::Limits &limits = settings.limits;
    const int status = interpreter.runDocument(request.input, GhostscriptPolicy::temporaryFolder(request.folder),
                                               request.prologue);
    // Measured before the document's own pages go: they were written all the same.
    if (limits.outputBytes() > 0 && written(request.folder, 0) > limits.outputBytes())
        ::_exit(OutputOutgrown);
    const long pages = interpreter.pagesOutput();
    removeUnrenderedPages(pages);
    if (settings.encodeQuality >= 0 && !encodePages(pages, settings.encodeQuality, interpreter.resolution()))
        ::_exit(1);
    ::_exit(status);
}

RenderEnding endingOf(int status)
{
    if (WIFSIGNALED(status))
        return {RenderProtocol::Signalled, WTERMSIG(status)};
    switch (WEXITSTATUS(status)) {
    case SandboxRefused: return {RenderProtocol::Unconfined, 0};
    case ProcessorTimeUsed: return {RenderProtocol::Signalled, SIGXCPU};
    case OutputOutgrown: return {RenderProtocol::OutputTooLarge, 0};
    default: return {RenderProtocol::Exited, WEXITSTATUS(status)};
    }
}

} // namespace

RenderChildren::RenderChildren(WarmInterpreter &interpreter, Sandbox &sandbox, const ChildSettings &settings,
                               bool ownNamespaces)
    : m_interpreter(interpreter), m_sandbox(sandbox), m_settings(settings), m_ownNamespaces(ownNamespaces)
{
}

RenderChildren::~RenderChildren()
{
    stopAll();
}

bool RenderChildren::start(const RenderRequest &request, RenderAnswer &refused)
{
    const auto deadline = Clock::now() + m_settings.limits.time;
    refused.id = request.id;
    if (!checkInput(request.input, refused.ending))
        return false;
    // Made for this child: nothing in it may pass for the child's pages.
    if (!isEmptyFolder(request.folder)) {
        refused.ending = {RenderProtocol::NotStarted, EEXIST};
        return false;
    }
    int below = -1;
    if (m_ownNamespaces && (below = mountChildFileSystem(request.folder, m_settings.limits)) < 0) {
        refused.ending = {RenderProtocol::Unconfined, 0};
        return false;
    }
    int alive[2] = {-1, -1};
    pid_t child = -1;
    if (::pipe2(alive, O_CLOEXEC) == 0) {
        // A plain clone, as fork, only with the child's namespaces: the
        // renderer has a single thread, so nothing is left locked.
        child = m_ownNamespaces ? pid_t(::syscall(SYS_clone, ChildNamespaces | SIGCHLD, nullptr, nullptr, nullptr, 0))
                                : ::fork();
    }
    if (child == 0) {
        prepareChild(request.input, request.folder, m_sandbox, alive[0]);
        renderDocument(m_interpreter, request, m_settings);
    }
    const int forkError = errno;
    if (alive[0] >= 0)
        ::close(alive[0]);
    Child started{request.id, request.folder, child, alive[1], below, deadline};
    if (child < 0) {
        refused.ending = finish(started, {RenderProtocol::NotStarted, forkError});
        return false;
    }
    Trace::stamp("renderer", request.id, "forked");
    m_children.push_back(started);
    return true;
}

void RenderChildren::reap()
{
    const auto now = Clock::now();
    const bool measure = now >= m_nextMeasure;
    if (measure)
        m_nextMeasure = now + OutputCheckInterval;
    const GhostscriptPolicy::Limits &limits = m_settings.limits;
    for (auto child = m_children.begin(); child != m_children.end();) {
        int status = 0;
        RenderEnding ending{nullptr, 0};
        if (::waitpid(child->pid, &status, WNOHANG) == child->pid) {
            Trace::stamp("renderer", child->id, "reaped");
            ending = endingOf(status);
            // Measured once more now that nothing writes: a child that ended
            // before the first measurement is measured too.
            if (std::strcmp(ending.ending, RenderProtocol::Exited) == 0 && limits.outputBytes() > 0
                && written(child->folder, 0) > limits.outputBytes())
                ending = {RenderProtocol::OutputTooLarge, 0};
        } else if (now >= child->deadline) {
            ending = stop(*child, RenderProtocol::TimedOut);
        } else if (measure && limits.outputBytes() > 0 && written(child->folder, child->pid) > limits.outputBytes()) {
            ending = stop(*child, RenderProtocol::OutputTooLarge);
        }
        if (!ending.ending) {
            ++child;
            continue;
        }
        m_reaped.emplace_back(*child, ending);
        child = m_children.erase(child);
    }
}

std::vector<RenderAnswer> RenderChildren::answerReaped()
{
    std::vector<RenderAnswer> answers;
    for (auto &[child, ending] : m_reaped)
        answers.push_back({child.id, finish(child, ending)});
    m_reaped.clear();
    return answers;
}

int RenderChildren::millisecondsToNextCheck() const
{
    if (m_children.empty())
        return -1;
    auto next = m_nextMeasure;
    for (const Child &child : m_children)
        next = std::min(next, child.deadline);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    return int(std::clamp<long long>(wait + 1, 0, OutputCheckInterval.count()));
}

void RenderChildren::stopAll()
{
    for (Child &child : m_children)
        finish(child, stop(child, RenderProtocol::TimedOut));
    m_children.clear();
    answerReaped();
}

RenderEnding RenderChildren::stop(Child &child, const char *ending)
{
    ::kill(child.pid, SIGKILL);
    while (::waitpid(child.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return {ending, 0};
}

// Keeps what pellucor-batch reads of a child that had a file system of its
// own, then lets that go. A child that failed already keeps its own reason.
RenderEnding RenderChildren::finish(Child &child, RenderEnding ending)
{
    if (child.alive >= 0)
        ::close(child.alive);
    if (child.below < 0)
        return ending;
    const bool exited = std::strcmp(ending.ending, RenderProtocol::Exited) == 0;
    const int error = keepResults(child.folder, child.below, exited);
    if (error != 0 && exited)
        ending = {error == ENOSPC || error == EDQUOT ? RenderProtocol::NoSpace : RenderProtocol::Unkept, error};
    ::umount2(child.folder.c_str(), MNT_DETACH);
    ::close(child.below);
    return ending;
}
