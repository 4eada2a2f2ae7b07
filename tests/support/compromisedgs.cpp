// A Ghostscript taken over by a hostile file, for the tests: before it
// renders (with the real Ghostscript library, so its image is the real one)
// it tries what a bypass of safe mode would try. Each attempt says on its
// error output whether it got through.
#include <ghostscript/iapi.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
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

    void *instance = nullptr;
    if (gsapi_new_instance(&instance, nullptr) < 0)
        return 1;
    int code = gsapi_init_with_args(instance, argc, argv);
    if (code == 0 || code == -101) // -101: quit, which ends a run without an error
        code = 0;
    gsapi_exit(instance);
    gsapi_delete_instance(instance);

    // What was stolen goes into the image.
    if (!secret.empty()) {
        const int image = ::open("current.jpg", O_WRONLY | O_APPEND);
        if (image >= 0) {
            [[maybe_unused]] const ssize_t written = ::write(image, secret.data(), secret.size());
            ::close(image);
        }
    }
    return code == 0 ? 0 : 1;
}
