#include "namespaces.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Namespaces {

namespace {

constexpr int OwnNamespaces = CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWIPC | CLONE_NEWUTS;
// Files a child may make in its file system: pages and temporary files, not millions.
constexpr unsigned long long MaxFiles = 16384;

struct Maps
{
    char uid[48];
    char gid[48];
};

// This user stays itself inside: its files are its own there too.
Maps ownMaps()
{
    Maps maps;
    std::snprintf(maps.uid, sizeof maps.uid, "%u %u 1\n", unsigned(::getuid()), unsigned(::getuid()));
    std::snprintf(maps.gid, sizeof maps.gid, "%u %u 1\n", unsigned(::getgid()), unsigned(::getgid()));
    return maps;
}

bool writeFile(const char *path, const char *text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const size_t size = std::strlen(text);
    const bool written = ::write(fd, text, size) == ssize_t(size);
    ::close(fd);
    return written;
}

// System calls only: the probe runs it in a child of a program with threads.
bool mapOwnUser(const Maps &maps)
{
    // An unprivileged gid map needs setgroups denied; kernels before 3.19 have no such file.
    if (!writeFile("/proc/self/setgroups", "deny") && errno != ENOENT)
        return false;
    return writeFile("/proc/self/uid_map", maps.uid) && writeFile("/proc/self/gid_map", maps.gid);
}

bool switchedOff()
{
    const char *knob = std::getenv("PELLUCOR_NAMESPACES");
    return knob && std::strcmp(knob, "off") == 0;
}

std::string reason(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// What a child that tried everything said: 0 all of it works, 1 no
// namespaces, 2 namespaces but no /proc of their own.
constexpr int Works = 0, NoNamespaces = 1, NoOwnProc = 2;

int waitFor(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : NoNamespaces;
}

// Everything the sandbox will do, tried where it changes nothing: some
// systems let a user namespace be made but nothing be done in it, and some
// (a container whose /proc is partly covered) no /proc be mounted in it.
// System calls only: it runs in a child of a program with threads.
int probe()
{
    const Maps maps = ownMaps();
    const pid_t child = ::fork();
    if (child == 0) {
        const bool works = ::unshare(CLONE_NEWUSER) == 0 && mapOwnUser(maps)
                           && ::unshare(OwnNamespaces | CLONE_NEWPID) == 0
                           && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                           && ::mount("tmpfs", "/", "tmpfs", MS_NOSUID | MS_NODEV, "size=4k") == 0;
        if (!works)
            ::_exit(NoNamespaces);
        const pid_t first = ::fork(); // the first process of the new PID namespace
        if (first == 0)
            ::_exit(::mount("proc", "/", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0 ? Works : NoOwnProc);
        ::_exit(first < 0 ? NoOwnProc : waitFor(first));
    }
    return child < 0 ? NoNamespaces : waitFor(child);
}

int probed()
{
    static const int answer = probe();
    return answer;
}

} // namespace

bool available()
{
    return !switchedOff() && probed() != NoNamespaces;
}

bool ownProcAvailable()
{
    return available() && probed() == Works;
}

Entry enterOwn(std::string &why)
{
    if (!available())
        return Entry::Unavailable;
    // Offered: from here on whatever does not work is a fault, not a gap.
    const Maps maps = ownMaps();
    if (::unshare(CLONE_NEWUSER) != 0) {
        why = reason("no user namespace could be made");
        return Entry::Failed;
    }
    if (!mapOwnUser(maps)) {
        why = reason("the user namespace could not be mapped");
        return Entry::Failed;
    }
    if (::unshare(OwnNamespaces) != 0) {
        why = reason("no mount, network, IPC and host-name namespaces could be made");
        return Entry::Failed;
    }
    // Nothing mounted here may reach the system's mounts, and back.
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        why = reason("the mounts could not be made private");
        return Entry::Failed;
    }
    // Mounting is all the namespace's capabilities are for: the user's files
    // keep their permissions, also for this process.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct mountOnly[2] = {};
    mountOnly[0].effective = mountOnly[0].permitted = 1u << CAP_SYS_ADMIN;
    if (::syscall(SYS_capset, &header, mountOnly) != 0) {
        why = reason("the capabilities could not be narrowed");
        return Entry::Failed;
    }
    return Entry::Entered;
}

std::string mountPrivateFileSystem(const std::string &folder, unsigned long long bytes)
{
    char options[96];
    std::snprintf(options, sizeof options, "size=%llu,nr_inodes=%llu,mode=0700", bytes, MaxFiles);
    if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, options) != 0)
        return reason(("no file system could be mounted at " + folder).c_str());
    return {};
}

} // namespace Namespaces
