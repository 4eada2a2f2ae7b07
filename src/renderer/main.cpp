// pellucor-renderer: the warm Ghostscript behind pellucor-batch. It starts
// one interpreter, then renders each file it is sent in a child of its own.
// Not linked to Qt: it forks, and only a single-threaded process may.
#include "renderchild.h"
#include "sandbox/namespaces.h"
#include "sandbox/sandbox.h"
#include "renderprotocol.h"
#include "warminterpreter.h"
#include "writeall.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const Usage =
    "usage: pellucor-renderer --time-limit=MS --memory-limit=MB --max-output=MB [--encode-jpeg=QUALITY]\n"
    "                         -- GHOSTSCRIPT-SWITCH...\n"
    "Started by pellucor-batch; reads requests on standard input. With --encode-jpeg, Ghostscript's\n"
    "pages are PPM and become JPEGs with full colour detail.\n";

struct Options
{
    ChildSettings child;
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

// Requests arrive as NUL-terminated fields.
class FieldReader
{
public:
    explicit FieldReader(int fd) : m_fd(fd) {}

    bool next(std::string &field)
    {
        field.clear();
        for (;;) {
            if (m_at == m_end) {
                const ssize_t n = ::read(m_fd, m_buffer, sizeof m_buffer);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return false;
                m_at = 0;
                m_end = size_t(n);
            }
            const char c = m_buffer[m_at++];
            if (c == '\0')
                return true;
            field.push_back(c);
        }
    }

private:
    int m_fd;
    char m_buffer[4096];
    size_t m_at = 0;
    size_t m_end = 0;
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

// Starts the interpreter, then renders each requested file in a child.
int serve(const Options &options, bool ownNamespaces, int protocolIn, int protocolOut)
{
    try {
        WarmInterpreter interpreter(options.switches);
        if (!say(protocolOut, std::string(RenderProtocol::Ready) + '\n'))
            return 1;
        FieldReader requests(protocolIn);
        RenderRequest request;
        while (requests.next(request.folder) && requests.next(request.input) && requests.next(request.prologue)) {
            const RenderEnding ending =
                renderInChild(interpreter, request, options.child, ownNamespaces, protocolIn, protocolOut);
            if (!say(protocolOut, std::string(ending.ending) + ' ' + std::to_string(ending.number) + '\n'))
                return 1;
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
