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
#include <utility>
#include <vector>

#include <malloc.h>
#include <sys/mman.h>

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
    return OutputMeter::sum(OutputMeter::filesBelow({folder}),
                            running > 0 ? OutputMeter::removedButOpen({running}) : 0);
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
// itself) goes to the request's folder, nothing else. 0 or the error.
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
        const int file = failure.empty() ? ::open(encoded, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)
                                         : -1;
        if (failure.empty()
            && (file < 0 || writeAll(file, reinterpret_cast<const char *>(jpeg.data()), jpeg.size()) != jpeg.size()
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
// its output may be, mounted on a new folder (of a name no renderer before
// had) in the renderer's; "" with the reason among the renderer's words,
// when it cannot be had.
std::string mountChildFileSystem(const std::string &home, const GhostscriptPolicy::Limits &limits)
{
    std::string folder = home + "/childXXXXXX";
    const std::string failure =
        !::mkdtemp(folder.data())
            ? std::string("no folder can be made in ") + home + ": " + std::strerror(errno)
            : Namespaces::mountPrivateFileSystem(folder, limits.outputBytes() > 0 ? limits.outputBytes() + 4096 : 0);
    if (failure.empty())
        return folder;
    std::fprintf(stderr, "pellucor-renderer: %s\n", failure.c_str());
    ::rmdir(folder.c_str());
    return {};
}

// In a child forked ahead of its request, while it waits: room for the
// document's first allocations, its pages made now in one call rather than
// one fault at a time while the document runs, and kept for it.
void prepareMemory()
{
    constexpr size_t Room = 4 << 20;
    ::mallopt(M_MMAP_THRESHOLD, int(4 * Room));
    ::mallopt(M_TRIM_THRESHOLD, int(4 * Room));
    void *room = std::malloc(Room);
    if (!room)
        return;
    const uintptr_t page = uintptr_t(::sysconf(_SC_PAGESIZE));
    const uintptr_t start = (uintptr_t(room) + page - 1) & ~(page - 1);
    const uintptr_t end = (uintptr_t(room) + Room) & ~(page - 1);
    if (::madvise(reinterpret_cast<void *>(start), end - start, MADV_POPULATE_WRITE) != 0)
        std::memset(room, 0, Room);
    std::free(room);
}

// In a child forked ahead of its request: the request, read to its end.
// Gone with the renderer (its end is closed), the child ends.
RenderRequest awaitRequest(int requests)
{
    std::string fields;
    char buffer[4096];
    for (ssize_t n; (n = ::read(requests, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno != EINTR)
            ::_exit(RendererGone);
        if (n > 0)
            fields.append(buffer, size_t(n));
    }
    RenderRequest request;
    size_t at = 0;
    for (std::string *field : {&request.input, &request.prologue, &request.folder}) {
        const size_t end = fields.find('\0', at);
        if (end == std::string::npos)
            ::_exit(RendererGone);
        field->assign(fields, at, end - at);
        at = end + 1;
    }
    return request;
}

// The child's own part: renders the document, then leaves only the pages
// Ghostscript output, encoded where that is asked. Never returns.
[[noreturn]] void renderDocument(WarmInterpreter &interpreter, const RenderRequest &request, const std::string &folder,
                                 const ChildSettings &settings)
{
    const GhostscriptPolicy::Limits &limits = settings.limits;
    const int status = interpreter.runDocument(request.input, GhostscriptPolicy::temporaryFolder(folder),
                                               request.prologue);
    // Measured before the document's own pages go: they were written all the same.
    if (limits.outputBytes() > 0 && written(folder, 0) > limits.outputBytes())
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
    char home[PATH_MAX];
    m_home = ::getcwd(home, sizeof home) ? home : ".";
}

RenderChildren::~RenderChildren()
{
    stopAll();
}

bool RenderChildren::prepareNext()
{
    if (m_next.pid > 0)
        return true;
    Waiting next;
    if (m_ownNamespaces && (next.folder = mountChildFileSystem(m_home, m_settings.limits)).empty()) {
        errno = EPERM;
        return false;
    }
    int requests[2] = {-1, -1};
    int alive[2] = {-1, -1};
    if (::pipe2(requests, O_CLOEXEC) == 0 && ::pipe2(alive, O_CLOEXEC) == 0) {
        // A plain clone, as fork, only with the child's namespaces: the
        // renderer has a single thread, so nothing is left locked.
        next.pid = m_ownNamespaces
                       ? pid_t(::syscall(SYS_clone, ChildNamespaces | SIGCHLD, nullptr, nullptr, nullptr, 0))
                       : ::fork();
    }
    if (next.pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(requests[1]);
        prepareMemory();
        const RenderRequest request = awaitRequest(requests[0]);
        const std::string folder = m_ownNamespaces ? next.folder : request.folder;
        prepareChild(request.input, folder, m_sandbox, alive[0]);
        renderDocument(m_interpreter, request, folder, m_settings);
    }
    const int forkError = errno;
    for (const int end : {requests[0], alive[0]})
        if (end >= 0)
            ::close(end);
    next.requests = requests[1];
    next.alive = alive[1];
    m_next = next;
    if (next.pid > 0)
        return true;
    endWaiting();
    errno = forkError;
    return false;
}

void RenderChildren::endWaiting()
{
    if (m_next.pid > 0)
        stop(m_next.pid, RenderProtocol::TimedOut);
    for (const int end : {m_next.requests, m_next.alive})
        if (end >= 0)
            ::close(end);
    if (!m_next.folder.empty()) {
        ::umount2(m_next.folder.c_str(), MNT_DETACH);
        ::rmdir(m_next.folder.c_str());
    }
    m_next = Waiting();
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
    const int keep = m_ownNamespaces ? ::open(request.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
    if (m_ownNamespaces && keep < 0) {
        refused.ending = {RenderProtocol::NotStarted, errno};
        return false;
    }
    // A child that was waiting and is gone (the memory killer, say) is replaced once.
    const std::string fields = request.input + '\0' + request.prologue + '\0' + request.folder + '\0';
    bool sent = false;
    for (int attempt = 0; !sent && attempt < 2; ++attempt) {
        if (!prepareNext()) {
            refused.ending = m_ownNamespaces && errno == EPERM ? RenderEnding{RenderProtocol::Unconfined, 0}
                                                               : RenderEnding{RenderProtocol::NotStarted, errno};
            if (keep >= 0)
                ::close(keep);
            return false;
        }
        sent = writeAll(m_next.requests, fields.data(), fields.size()) == fields.size();
        if (!sent)
            endWaiting();
    }
    if (!sent) {
        refused.ending = {RenderProtocol::NotStarted, EPIPE};
        if (keep >= 0)
            ::close(keep);
        return false;
    }
    ::close(std::exchange(m_next.requests, -1));
    Child started{request.id,
                  request.folder,
                  m_ownNamespaces ? m_next.folder : request.folder,
                  m_next.pid,
                  std::exchange(m_next.alive, -1),
                  keep,
                  deadline};
    m_next = Waiting();
    Trace::stamp("renderer", request.id, "started");
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
                && written(child->writes, 0) > limits.outputBytes())
                ending = {RenderProtocol::OutputTooLarge, 0};
        } else if (now >= child->deadline) {
            ending = stop(child->pid, RenderProtocol::TimedOut);
        } else if (measure && limits.outputBytes() > 0 && written(child->writes, child->pid) > limits.outputBytes()) {
            ending = stop(child->pid, RenderProtocol::OutputTooLarge);
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
    endWaiting();
    for (Child &child : m_children)
        finish(child, stop(child.pid, RenderProtocol::TimedOut));
    m_children.clear();
    answerReaped();
}

RenderEnding RenderChildren::stop(pid_t pid, const char *ending)
{
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return {ending, 0};
}

// Keeps what pellucor-batch reads of a child that had a file system of its
// own, then lets that go. A child that failed already keeps its own reason.
RenderEnding RenderChildren::finish(Child &child, RenderEnding ending)
{
    if (child.alive >= 0)
        ::close(child.alive);
    if (child.keep < 0)
        return ending;
    const bool exited = std::strcmp(ending.ending, RenderProtocol::Exited) == 0;
    const int error = keepResults(child.writes, child.keep, exited);
    if (error != 0 && exited)
        ending = {error == ENOSPC || error == EDQUOT ? RenderProtocol::NoSpace : RenderProtocol::Unkept, error};
    ::umount2(child.writes.c_str(), MNT_DETACH);
    ::rmdir(child.writes.c_str());
    ::close(child.keep);
    return ending;
}
