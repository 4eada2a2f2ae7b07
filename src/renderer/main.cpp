// pellucor-renderer: the warm Ghostscript behind pellucor-batch. It starts
// one interpreter, then renders each file it is sent in a child of its own.
// Not linked to Qt: it forks, and only a single-threaded process may.
#include "renderchild.h"
#include "sandbox/namespaces.h"
#include "sandbox/sandbox.h"
#include "renderprotocol.h"
#include "trace.h"
#include "warminterpreter.h"
#include "writeall.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const Usage =
    "usage: pellucor-renderer --time-limit=MS --memory-limit=MB --max-output=MB [--jobs=N]\n"
    "                         [--encode-jpeg=QUALITY] -- GHOSTSCRIPT-SWITCH...\n"
    "Started by pellucor-batch; reads requests on standard input and renders up to N files at\n"
    "once. With --encode-jpeg, Ghostscript's pages are PPM and become JPEGs with full colour detail.\n";

struct Options
{
    ChildSettings child;
    size_t jobs = 1;
    std::vector<std::string> switches;
};

bool parse(int argc, char **argv, Options &options)
{
    const auto number = [](const char *text, unsigned long long &value) {
        char *end = nullptr;
        errno = 0;
        value = std::strtoull(text, &end, 10);
        return errno == 0 && end != text && *end == '\0';
    };
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string argument = argv[i];
        const auto equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        unsigned long long value = 0;
        if (equals == std::string::npos || !number(argv[i] + equals + 1, value) || value > INT_MAX)
            return false;
        if (name == "--time-limit")
            options.child.limits.time = std::chrono::milliseconds(value);
        else if (name == "--memory-limit")
            options.child.limits.memoryMegabytes = int(value);
        else if (name == "--max-output")
            options.child.limits.outputMegabytes = int(value);
        else if (name == "--jobs" && value >= 1)
            options.jobs = size_t(value);
        else if (name == "--encode-jpeg" && value <= 100)
            options.child.encodeQuality = int(value);
        else
            return false;
    }
    if (i >= argc)
        return false;
    // Not quiet: Ghostscript names the fonts it substitutes only when it is
    // not, and those words belong in a file's messages.
    for (++i; i < argc; ++i) {
        if (std::strcmp(argv[i], "-dBATCH") != 0) // it would end the interpreter after starting it
            options.switches.emplace_back(argv[i]);
    }
    // Every child writes its pages into its own current folder.
    options.switches.push_back(std::string("-sOutputFile=") + RenderProtocol::PagePattern);
    return true;
}

// Requests arrive as NUL-terminated fields, whenever pellucor-batch has one,
// whether or not a child is running.
class RequestReader
{
public:
    explicit RequestReader(int fd) : m_fd(fd) {}

    // Reads what has arrived; false once the other end has hung up.
    bool read()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
        }
        if (n <= 0)
            return false;
        m_pending.append(buffer, size_t(n));
        return true;
    }

    // The next whole request, if one has arrived.
    bool next(RenderRequest &request)
    {
        size_t end = 0;
        for (int field = 0; field < 4; ++field, ++end) {
            end = m_pending.find('\0', end);
            if (end == std::string::npos)
                return false;
        }
        size_t at = 0;
        for (std::string *field : {&request.id, &request.folder, &request.input, &request.prologue}) {
            const size_t nul = m_pending.find('\0', at);
            field->assign(m_pending, at, nul - at);
            at = nul + 1;
        }
        m_pending.erase(0, at);
        return true;
    }

private:
    int m_fd;
    std::string m_pending;
};

bool say(int fd, const std::string &line)
{
    return writeAll(fd, line.data(), line.size()) == line.size();
}

bool starterGone()
{
    pollfd requests{STDIN_FILENO, POLLIN, 0};
    return ::poll(&requests, 1, 0) > 0 && (requests.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// The channel to pellucor-batch moves off the standard descriptors, which
// Ghostscript writes to: nothing a document prints can pass for an answer.
bool moveChannel(int &protocolIn, int &protocolOut)
{
    protocolIn = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    protocolOut = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    const int nothing = ::open("/dev/null", O_RDONLY);
    if (protocolIn < 0 || protocolOut < 0 || nothing < 0)
        return false;
    ::dup2(nothing, STDIN_FILENO);
    ::close(nothing);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    return true;
}

// Safe mode lets documents write in Ghostscript's temporary folder, the one
// named when it starts: never the user's, but an empty one below the
// renderer's own folder, its current folder. Children get their own.
bool useOwnTemporaryFolder()
{
    char current[PATH_MAX];
    if (!::getcwd(current, sizeof current))
        return false;
    const std::string temporary = GhostscriptPolicy::temporaryFolder(current);
    ::mkdir(temporary.c_str(), 0700);
    for (const char *name : GhostscriptPolicy::TemporaryVariables)
        ::setenv(name, temporary.c_str(), 1);
    return true;
}

bool answer(int protocolOut, const RenderAnswer &done)
{
    Trace::stamp("renderer", done.id, "answered", done.ending.ending);
    return say(protocolOut, done.id + ' ' + done.ending.ending + ' ' + std::to_string(done.ending.number) + '\n');
}

// SIGCHLD and SIGTERM, read as they come beside the requests.
int signalDescriptor()
{
    sigset_t awaited;
    sigemptyset(&awaited);
    sigaddset(&awaited, SIGCHLD);
    sigaddset(&awaited, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &awaited, nullptr);
    const int signals = ::signalfd(-1, &awaited, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signals < 0)
        throw std::runtime_error(std::string("no signal descriptor: ") + std::strerror(errno));
    return signals;
}

// Whether SIGTERM came: every child is then ended, so that nothing writes
// in the folders pellucor-batch is about to remove.
bool terminationAsked(int signals)
{
    bool asked = false;
    signalfd_siginfo info;
    while (::read(signals, &info, sizeof info) == ssize_t(sizeof info))
        asked = asked || info.ssi_signo == SIGTERM;
    return asked;
}

// Starts the interpreter and the sandbox its children apply, then renders
// each requested file in a child, up to `jobs` at once, answering each as
// soon as its child has ended. Ends once the requests end and every child
// has been answered.
int serve(const Options &options, bool ownNamespaces, int protocolIn, int protocolOut)
{
    try {
        WarmInterpreter interpreter(options.switches);
        Sandbox sandbox(GhostscriptPolicy::batchChildRules(options.child.limits));
        RenderChildren children(interpreter, sandbox, options.child, ownNamespaces);
        const int signals = signalDescriptor();
        if (!say(protocolOut, std::string(RenderProtocol::Ready) + '\n'))
            return 1;
        RequestReader requests(protocolIn);
        std::deque<RenderRequest> waiting;
        for (bool open = true; open || children.running() > 0 || !waiting.empty();) {
            // The next child starts before what the last one left is kept.
            children.reap();
            for (; !waiting.empty() && children.running() < options.jobs; waiting.pop_front()) {
                RenderAnswer refused;
                if (!children.start(waiting.front(), refused) && !answer(protocolOut, refused))
                    return 1;
            }
            for (const RenderAnswer &done : children.answerReaped())
                if (!answer(protocolOut, done))
                    return 1;
            // The next child is forked while this one renders, out of the next file's way.
            if (open)
                children.prepareNext();
            if (!open && children.running() == 0 && waiting.empty())
                break;
            pollfd ready[2] = {{signals, POLLIN, 0}, {open ? protocolIn : -1, POLLIN, 0}};
            if (::poll(ready, 2, children.millisecondsToNextCheck()) < 0 && errno != EINTR)
                return 1;
            if ((ready[0].revents & POLLIN) && terminationAsked(signals))
                return 0;
            if (ready[1].revents != 0) {
                open = requests.read();
                for (RenderRequest request; requests.next(request);) {
                    Trace::stamp("renderer", request.id, "received");
                    waiting.push_back(request);
                }
            }
        }
    } catch (const std::exception &error) {
        say(protocolOut, std::string(RenderProtocol::Failed) + ' ' + error.what() + '\n');
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Nothing of whatever started pellucor-batch reaches a document: only
    // the standard descriptors stay, two of which are the channel.
    Sandbox::keepStandardDescriptorsOnly(false);
    Options options;
    if (!parse(argc, argv, options)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    // Die with pellucor-batch; children die with this process in turn. Gone
    // already, it has hung up its end of the requests. Its process id says
    // nothing: as the first process of a container it is 1.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (starterGone())
        return 1;
    ::signal(SIGPIPE, SIG_IGN);
    int protocolIn = -1, protocolOut = -1;
    if (!moveChannel(protocolIn, protocolOut))
        return 1;

    // Namespaces of its own where this user may have them, before Ghostscript
    // starts: its children then get theirs inside. Offered but not working,
    // nothing is rendered.
    std::string why;
    const Namespaces::Entry entry = Namespaces::enterOwn(why);
    if (entry == Namespaces::Entry::Failed) {
        say(protocolOut, std::string(RenderProtocol::Failed) + " the sandbox could not be made: " + why + '\n');
        return 1;
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL); // once more: new credentials may clear it
    if (!useOwnTemporaryFolder())
        return 1;
    return serve(options, entry == Namespaces::Entry::Entered, protocolIn, protocolOut);
}
