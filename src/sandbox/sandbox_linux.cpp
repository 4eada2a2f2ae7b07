// The kernel sandbox on Linux: namespaces, Landlock, seccomp, capabilities,
// descriptors and resource limits.
#include "sandbox.h"

#include "namespaces.h"

#include <seccomp.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>

#include <fcntl.h>
#include <link.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::string helperFolder;

std::string errorText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

std::string folderOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string realPath(const std::string &path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

bool exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// The dynamic loader the kernel opens for every program it starts, found as
// this program's own (the name its programs ask for, such as
// /lib64/ld-linux-x86-64.so.2), and the C library: the system's programs use
// the same.
struct SystemLibraries
{
    std::string loader;
    std::string c;
};

SystemLibraries systemLibraries()
{
    struct Search
    {
        ElfW(Addr) base;
        SystemLibraries found;
    } search{ElfW(Addr)(::getauxval(AT_BASE)), {}};
    ::dl_iterate_phdr(
        [](dl_phdr_info *object, size_t, void *data) {
            auto *wanted = static_cast<Search *>(data);
            if (!object->dlpi_name || !*object->dlpi_name)
                return 0;
            const std::string name = object->dlpi_name;
            if (object->dlpi_addr == wanted->base)
                wanted->found.loader = name;
            else if (name.find("/libc.so") != std::string::npos)
                wanted->found.c = name;
            return 0;
        },
        &search);
    return search.found;
}

// The folders of the libraries every program here loads: the loader's and
// the C library's, as named and as they really are, and their twins below
// /usr where /lib is a folder of its own. Not /usr/lib as a whole, which
// holds programs too.
std::vector<std::string> libraryFolders()
{
    const SystemLibraries libraries = systemLibraries();
    std::vector<std::string> folders;
    const auto add = [&](const std::string &folder) {
        if (folder.empty() || folder == "/" || !exists(folder))
            return;
        for (const std::string &known : folders)
            if (known == folder)
                return;
        folders.push_back(folder);
    };
    for (const std::string &library : {libraries.loader, libraries.c}) {
        if (library.empty())
            continue;
        for (const std::string &folder : {realPath(folderOf(library)), folderOf(realPath(library))}) {
            add(folder);
            if (folder.rfind("/usr/", 0) != 0)
                add("/usr" + folder);
        }
    }
    return folders;
}

// The first program of that name on PATH; "" when there is none.
std::string findProgram(const std::string &name)
{
    const char *path = std::getenv("PATH");
    std::string folders = path && *path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= folders.size();) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + '/' + name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

std::string ownProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return size > 0 ? folderOf(std::string(path, size_t(size))) : std::string(".");
}

std::string helperProgram()
{
    return (helperFolder.empty() ? ownProgramFolder() : helperFolder) + "/pellucor-sandbox";
}

// Landlock as the kernel documents it: the system's headers may describe
// only its first version, while the running kernel offers later ones. Only
// what the running kernel knows is handed to it.
namespace Landlock {
constexpr long CreateRuleset = 444;
constexpr long AddRule = 445;
constexpr long RestrictSelf = 446;
constexpr unsigned AskVersion = 1u << 0;
constexpr int PathBeneath = 1;

constexpr std::uint64_t Execute = 1ull << 0, WriteFile = 1ull << 1, ReadFile = 1ull << 2, ReadDir = 1ull << 3,
                        RemoveDir = 1ull << 4, RemoveFile = 1ull << 5, MakeDir = 1ull << 7, MakeReg = 1ull << 8,
                        MakeSym = 1ull << 12, Refer = 1ull << 13, Truncate = 1ull << 14, IoctlDev = 1ull << 15;
// Rights that a rule on a file (not a folder) may carry.
constexpr std::uint64_t FileRights = Execute | WriteFile | ReadFile | Truncate | IoctlDev;
constexpr std::uint64_t BindTcp = 1ull << 0, ConnectTcp = 1ull << 1;
constexpr std::uint64_t ScopeAbstractUnixSocket = 1ull << 0, ScopeSignal = 1ull << 1;

struct RulesetAttr
{
    std::uint64_t handledAccessFs;
    std::uint64_t handledAccessNet; // from version 4
    std::uint64_t scoped;           // from version 6
};

struct __attribute__((packed)) PathBeneathAttr
{
    std::uint64_t allowedAccess;
    std::int32_t parentFd;
};

// The version this kernel offers, or less where PELLUCOR_LANDLOCK_ABI says
// so: the tests play older kernels with it.
int version()
{
    static const int offered = [] {
        const long answer = ::syscall(CreateRuleset, nullptr, 0, AskVersion);
        return answer < 0 ? 0 : int(answer);
    }();
    const char *cap = std::getenv("PELLUCOR_LANDLOCK_ABI");
    if (cap && *cap >= '0' && *cap <= '9')
        return std::min(offered, std::atoi(cap));
    return offered;
}

// Every file-system right this kernel knows: what is not granted is refused.
std::uint64_t handledRights(int abi)
{
    std::uint64_t rights = (MakeSym << 1) - 1;
    if (abi >= 2)
        rights |= Refer;
    if (abi >= 3)
        rights |= Truncate;
    if (abi >= 5)
        rights |= IoctlDev;
    return rights;
}

// The attributes of a ruleset that handles every right this kernel knows.
RulesetAttr attributesFor(int abi, size_t &size)
{
    RulesetAttr attributes{handledRights(abi), 0, 0};
    size = sizeof attributes.handledAccessFs;
    if (abi >= 4) {
        attributes.handledAccessNet = BindTcp | ConnectTcp; // and no rule grants any
        size += sizeof attributes.handledAccessNet;
    }
    if (abi >= 6) {
        // No signals to processes outside, no abstract sockets (an X server's, say).
        attributes.scoped = ScopeAbstractUnixSocket | ScopeSignal;
        size += sizeof attributes.scoped;
    }
    return attributes;
}

// Opens the path once, for a rule of those rights; "" when the grant is
// kept or the path is not on this system. Held open, the rule goes with
// what the path was when it was opened: a path that is replaced later
// (by a link to the user's files, say) gains nothing.
std::string grant(std::vector<Sandbox::Grant> &grants, const std::string &path, std::uint64_t rights)
{
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? std::string() : errorText("cannot open " + path);
    struct stat st;
    if (::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode))
        rights &= FileRights;
    grants.push_back({fd, rights});
    return {};
}

// The ruleset of those grants, or -1; `refused` is the grant the kernel
// refused, if any. System calls only.
int makeRuleset(int abi, const std::vector<Sandbox::Grant> &grants, const Sandbox::Grant **refused) noexcept
{
    size_t size = 0;
    const RulesetAttr attributes = attributesFor(abi, size);
    const int ruleset = int(::syscall(CreateRuleset, &attributes, size, 0));
    if (ruleset < 0)
        return -1;
    for (const Sandbox::Grant &granted : grants) {
        const PathBeneathAttr rule{granted.rights & attributes.handledAccessFs, granted.fd};
        if (::syscall(AddRule, ruleset, PathBeneath, &rule, 0) != 0) {
            *refused = &granted;
            ::close(ruleset);
            return -1;
        }
    }
    return ruleset;
}

constexpr std::uint64_t ReadRights = ReadFile | ReadDir;
constexpr std::uint64_t WriteRights = ReadFile | ReadDir | WriteFile | Truncate | RemoveDir | RemoveFile | MakeDir
                                      | MakeReg;

} // namespace Landlock

bool seccompAvailable()
{
    return ::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0;
}

// What no renderer needs, refused outright (see makeFilter).
const int RefusedCalls[] = {
    SCMP_SYS(socket),
    SCMP_SYS(ptrace),
    SCMP_SYS(process_vm_readv),
    SCMP_SYS(process_vm_writev),
    SCMP_SYS(process_madvise),
    SCMP_SYS(kcmp),
    SCMP_SYS(pidfd_open),
    SCMP_SYS(pidfd_getfd),
    SCMP_SYS(pidfd_send_signal),
    SCMP_SYS(kill),
    SCMP_SYS(tkill),
    SCMP_SYS(tgkill),
    SCMP_SYS(rt_sigqueueinfo),
    SCMP_SYS(rt_tgsigqueueinfo),
    SCMP_SYS(setsid),
    SCMP_SYS(setpgid),
    SCMP_SYS(memfd_create),
    447 /* memfd_secret */,
    SCMP_SYS(shmget),
    SCMP_SYS(shmat),
    SCMP_SYS(shmctl),
    SCMP_SYS(semget),
    SCMP_SYS(semop),
    SCMP_SYS(semtimedop),
    SCMP_SYS(semctl),
    SCMP_SYS(msgget),
    SCMP_SYS(msgsnd),
    SCMP_SYS(msgrcv),
    SCMP_SYS(msgctl),
    SCMP_SYS(mq_open),
    SCMP_SYS(mq_unlink),
    SCMP_SYS(mq_timedsend),
    SCMP_SYS(mq_timedreceive),
    SCMP_SYS(mq_notify),
    SCMP_SYS(mq_getsetattr),
    SCMP_SYS(mount),
    SCMP_SYS(umount2),
    SCMP_SYS(pivot_root),
    SCMP_SYS(chroot),
    SCMP_SYS(unshare),
    SCMP_SYS(setns),
    SCMP_SYS(keyctl),
    SCMP_SYS(add_key),
    SCMP_SYS(request_key),
    SCMP_SYS(bpf),
    SCMP_SYS(perf_event_open),
    SCMP_SYS(userfaultfd),
    SCMP_SYS(io_uring_setup),
    SCMP_SYS(io_uring_enter),
    SCMP_SYS(io_uring_register),
    SCMP_SYS(init_module),
    SCMP_SYS(finit_module),
    SCMP_SYS(delete_module),
    SCMP_SYS(kexec_load),
    SCMP_SYS(open_tree),
    SCMP_SYS(move_mount),
    SCMP_SYS(fsopen),
    SCMP_SYS(fsmount),
    SCMP_SYS(fsconfig),
    SCMP_SYS(fspick),
    SCMP_SYS(mount_setattr),
    SCMP_SYS(chmod),
    SCMP_SYS(fchmod),
    SCMP_SYS(fchmodat),
    SCMP_SYS(chown),
    SCMP_SYS(fchown),
    SCMP_SYS(lchown),
    SCMP_SYS(fchownat),
    452, // fchmodat2, newer than this libseccomp
};

// Allows everything but what no renderer needs: sockets, watching, changing
// or signalling any process, its own group and whatever reaps it included,
// and leaving its process group or session (so that its reaper ends every
// process it made at once, on kernels without Landlock's scopes too),
// System V and message-queue IPC, which outlive their
// processes, memory files, which are no address space and so escape its
// memory limit, changing the owner or mode of files (a folder opened to
// others, a setuid bit), mounts, namespaces, keyrings, BPF, the kernel's
// modules, io_uring (whose requests pass by this filter), and, when it may
// start no program, starting programs and making processes (threads stay
// allowed, sharing its descriptors, which the output meter reads).
std::vector<unsigned char> makeFilter(bool mayStartPrograms, std::string &failure)
{
    scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_ALLOW);
    if (!filter) {
        failure = "the system-call filter could not be made";
        return {};
    }
    bool built = true;
    const auto refuse = [&](int error, int call, unsigned count, auto... conditions) {
        built = built && ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(error), call, count, conditions...) == 0;
    };
    for (const int call : RefusedCalls)
        refuse(EPERM, call, 0);
    // A descriptor's owner is signalled when it is ready: another way to signal.
    for (const scmp_datum_t command : {F_SETOWN, F_SETOWN_EX, F_SETSIG})
        refuse(EPERM, SCMP_SYS(fcntl), 1, SCMP_A1(SCMP_CMP_EQ, command));
    for (const scmp_datum_t request : {0x8901ul /* FIOSETOWN */, 0x8902ul /* SIOCSPGRP */})
        refuse(EPERM, SCMP_SYS(ioctl), 1, SCMP_A1(SCMP_CMP_EQ, request));
    // New namespaces through clone are refused too; clone3 hides its flags
    // from the filter, so it answers "not implemented" and the C library
    // falls back to clone.
    for (const unsigned long flag :
         {CLONE_NEWNS, CLONE_NEWUTS, CLONE_NEWIPC, CLONE_NEWUSER, CLONE_NEWPID, CLONE_NEWNET, CLONE_NEWCGROUP})
        refuse(EPERM, SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag));
    refuse(ENOSYS, SCMP_SYS(clone3), 0);
    if (!mayStartPrograms) {
        refuse(EPERM, SCMP_SYS(execve), 0);
        refuse(EPERM, SCMP_SYS(execveat), 0);
        refuse(EPERM, SCMP_SYS(fork), 0);
        refuse(EPERM, SCMP_SYS(vfork), 0);
        refuse(EPERM, SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0));
        refuse(EPERM, SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_FILES, 0));
    }
    std::vector<unsigned char> program;
    const int memory = built ? ::memfd_create("seccomp", MFD_CLOEXEC) : -1;
    if (memory >= 0 && ::seccomp_export_bpf(filter, memory) == 0) {
        program.resize(size_t(::lseek(memory, 0, SEEK_END)));
        if (::pread(memory, program.data(), program.size(), 0) != ssize_t(program.size()))
            program.clear();
    }
    if (program.empty())
        failure = built ? errorText("the system-call filter could not be exported")
                        : std::string("the system-call filter could not be built");
    if (memory >= 0)
        ::close(memory);
    ::seccomp_release(filter);
    return program;
}

bool setLimit(int resource, unsigned long long soft, unsigned long long hard)
{
    const rlimit limit{rlim_t(soft), rlim_t(hard)};
    return ::setrlimit(resource, &limit) == 0;
}

// Descriptors open at once: a document needs a handful; thousands would only
// hold removed files, out of any folder's sight, or slow their measuring.
constexpr rlim_t OpenFiles = 1024;

bool limitOpenFiles()
{
    rlimit open{};
    if (::getrlimit(RLIMIT_NOFILE, &open) != 0)
        return false;
    const rlim_t bound = std::min(open.rlim_max, OpenFiles);
    return setLimit(RLIMIT_NOFILE, std::min(open.rlim_cur, bound), bound);
}

// No capability survives, also not for root: nothing it runs may mount,
// change owners or pass file permissions.
bool dropCapabilities()
{
    for (int capability = 0; capability < 64; ++capability) {
        // Only with CAP_SETPCAP, which a process without capabilities lacks
        // and does not need: no new privileges keeps it from gaining any.
        if (::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0 && errno == EINVAL)
            break;
    }
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    return ::syscall(SYS_capset, &header, none) == 0;
}

void addOption(std::vector<std::string> &options, const char *name, const std::string &value)
{
    options.push_back(std::string("--") + name + '=' + value);
}

// Reads "--name=value" of `option`; false when it is another option.
bool optionValue(const std::string &option, const char *name, std::string &value)
{
    const std::string prefix = std::string("--") + name + '=';
    if (option.rfind(prefix, 0) != 0)
        return false;
    value = option.substr(prefix.size());
    return true;
}

bool number(const std::string &text, unsigned long long &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && end != text.c_str() && *end == '\0';
}

// The place of a program file in the view: where its folder really is, so
// that no link on the way (/bin to usr/bin) is covered by it.
std::string placeInView(const std::string &program)
{
    const std::string folder = realPath(folderOf(program));
    const std::string name = program.substr(program.find_last_of('/') + 1);
    return (folder.empty() ? folderOf(program) : folder) + '/' + name;
}

} // namespace

std::vector<std::string> Sandbox::systemReadable()
{
    std::vector<std::string> readable = libraryFolders();
    for (const char *path :
         {"/usr/share", "/usr/local/share/fonts", "/etc/ld.so.cache", "/etc/localtime", "/etc/papersize",
          "/etc/ghostscript", "/etc/fonts", "/var/lib/ghostscript", "/var/cache/fontconfig"})
        readable.emplace_back(path);
    return readable;
}

Sandbox::Sandbox(const Rules &rules) : m_rules(rules), m_landlock(Landlock::version())
{
    if (m_landlock >= 1) {
        for (const std::string &path : rules.readable)
            addGrant(path, Landlock::ReadRights);
        for (const std::string &path : rules.writable)
            addGrant(path, Landlock::WriteRights);
        for (const std::string &path : rules.executable)
            addGrant(path, Landlock::Execute | Landlock::ReadFile);
        if (!rules.executable.empty())
            addGrant(systemLibraries().loader, Landlock::Execute | Landlock::ReadFile);
        addGrant("/dev/null", Landlock::ReadFile | Landlock::WriteFile | Landlock::Truncate);
        // Made once here, so that what the kernel refuses is said in words.
        const Grant *refused = nullptr;
        const int ruleset = m_failure.empty() ? Landlock::makeRuleset(m_landlock, m_grants, &refused) : -1;
        if (ruleset >= 0)
            ::close(ruleset);
        else if (m_failure.empty())
            m_failure = errorText(refused ? "a file rule could not be made" : "the file rules could not be made");
    }
    if (m_failure.empty() && seccompAvailable())
        m_filter = makeFilter(!rules.executable.empty(), m_failure);
}

Sandbox::~Sandbox()
{
    for (const Grant &granted : m_grants)
        if (granted.fd >= 0)
            ::close(granted.fd);
}

void Sandbox::addGrant(const std::string &path, std::uint64_t rights)
{
    if (m_landlock < 1 || !m_failure.empty())
        return;
    m_failure = Landlock::grant(m_grants, path, rights);
}

void Sandbox::addReadable(const std::string &path)
{
    m_rules.readable.push_back(path);
    addGrant(path, Landlock::ReadRights);
}

void Sandbox::addWritable(const std::string &path)
{
    m_rules.writable.push_back(path);
    addGrant(path, Landlock::WriteRights);
}

bool Sandbox::apply() const noexcept
{
    if (!m_failure.empty())
        return false;
    // Only the standard descriptors cross into the program it starts.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || !dropCapabilities() || !keepStandardDescriptorsOnly(true))
        return false;
    bool limited = setLimit(RLIMIT_CORE, 0, 0) && limitOpenFiles();
    if (m_rules.memoryBytes > 0)
        limited = limited && setLimit(RLIMIT_AS, m_rules.memoryBytes, m_rules.memoryBytes);
    if (m_rules.fileSizeBytes > 0)
        limited = limited && setLimit(RLIMIT_FSIZE, m_rules.fileSizeBytes, m_rules.fileSizeBytes);
    if (m_rules.cpuSeconds > 0) // SIGXCPU first, SIGKILL a second later
        limited = limited && setLimit(RLIMIT_CPU, m_rules.cpuSeconds, m_rules.cpuSeconds + 1);
    // Counted per user namespace, so only in one of its own.
    if (m_rules.processes > 0)
        limited = limited && setLimit(RLIMIT_NPROC, m_rules.processes, m_rules.processes);
    if (!limited)
        return false;
    if (m_landlock >= 1) {
        const Grant *refused = nullptr;
        const int ruleset = Landlock::makeRuleset(m_landlock, m_grants, &refused);
        if (ruleset < 0 || ::syscall(Landlock::RestrictSelf, ruleset, 0) != 0)
            return false;
        // Only the standard descriptors go on from here.
        ::close(ruleset);
        for (Grant &granted : m_grants) {
            ::close(granted.fd);
            granted.fd = -1;
        }
    }
    if (!m_filter.empty()) {
        const sock_fprog program{static_cast<unsigned short>(m_filter.size() / sizeof(sock_filter)),
                                 reinterpret_cast<sock_filter *>(const_cast<unsigned char *>(m_filter.data()))};
        if (::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0)
            return false;
    }
    return true;
}

bool Sandbox::canHold()
{
    return true;
}

namespace {

// Bubblewrap's part of the command: the namespaces and the view of the
// file system the rules allow, with the helper in it.
std::vector<std::string> bubblewrapView(const std::string &bubblewrap, const Sandbox::Rules &rules,
                                        const std::string &helper)
{
    std::vector<std::string> command = {bubblewrap,
                                        "--unshare-user",
                                        "--unshare-ipc",
                                        "--unshare-pid",
                                        "--as-pid-1",
                                        "--unshare-net",
                                        "--unshare-uts",
                                        "--unshare-cgroup-try",
                                        "--die-with-parent",
                                        "--new-session",
                                        "--disable-userns",
                                        "--cap-drop",
                                        "ALL"};
    for (const char *top : {"/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"}) {
        char target[PATH_MAX];
        const ssize_t size = ::readlink(top, target, sizeof target - 1);
        if (size > 0)
            command.insert(command.end(), {"--symlink", std::string(target, size_t(size)), top});
    }
    for (const std::string &path : rules.readable)
        command.insert(command.end(), {"--ro-bind-try", path, path});
    command.insert(command.end(), {"--dev", "/dev"});
    // Its own processes only, for the helper, which measures the files
    // they hold; where none may be had, the file system in memory bounds
    // their temporary files, and the limits of size, descriptors and
    // processes the rest.
    if (Namespaces::ownProcAvailable())
        command.insert(command.end(), {"--proc", "/proc"});
    for (const std::string &path : rules.writable)
        command.insert(command.end(), {"--bind", path, path});
    for (const std::string &path : rules.executable)
        command.insert(command.end(), {"--ro-bind", path, placeInView(path)});
    command.insert(command.end(), {"--ro-bind", helper, helper});
    if (!rules.temporary.empty())
        command.insert(command.end(),
                       {"--size", std::to_string(rules.temporaryBytes), "--perms", "0700", "--tmpfs", rules.temporary});
    return command;
}

} // namespace

std::vector<std::string> Sandbox::command(const std::vector<std::string> &program, bool held) const
{
    const std::string helper = helperProgram();
    const std::string bubblewrap = findProgram("bwrap");
    std::vector<std::string> command;
    if (!namespacesAvailable() || bubblewrap.empty()) {
        // No namespaces: the helper stays behind as the reaper of what the program leaves.
        Rules unbounded = m_rules;
        unbounded.processes = 0; // the limit would count every process of the user
        command = {helper, "--reap"};
        if (held)
            command.emplace_back("--held");
        for (const std::string &option : helperOptions(unbounded))
            command.push_back(option);
    } else {
        // What the view shows is what the rules name, no more: no programs
        // but those it may start, no home, no other temporary files.
        // The helper is the first process of the namespaces and reaps there:
        // bubblewrap then ends only once it has, and so everything in them
        // has ended with it. With a first process of its own, bubblewrap
        // would say the program ended while what it left still ran.
        command = bubblewrapView(bubblewrap, m_rules, helper);
        command.insert(command.end(), {"--", helper, "--reap"});
        if (held)
            command.emplace_back("--held");
        for (const std::string &option : helperOptions(m_rules))
            command.push_back(option);
    }
    command.emplace_back("--");
    command.insert(command.end(), program.begin(), program.end());
    return command;
}

std::vector<std::string> Sandbox::missing()
{
    std::vector<std::string> gaps;
    if (!namespacesAvailable())
        gaps.emplace_back("without user namespaces, what Ghostscript leaves behind is ended after each file and its "
                          "temporary files are measured, not held in a file system of their own");
    else if (findProgram("bwrap").empty())
        gaps.emplace_back("without bubblewrap (bwrap), a Ghostscript run as a program of its own (the window's jobs, "
                          "one placed in ps/) gets no namespaces: what it leaves behind is ended after each file and "
                          "its temporary files are measured, not held in a file system of their own");
    if (Landlock::version() < 1)
        gaps.emplace_back("without Landlock, -dSAFER alone keeps Ghostscript from the user's files");
    if (!seccompAvailable())
        gaps.emplace_back(Landlock::version() < 4
                              ? "without seccomp, -dSAFER alone keeps Ghostscript from the network and other processes"
                              : "without seccomp, -dSAFER alone keeps Ghostscript from other processes");
    return gaps;
}

bool Sandbox::keepStandardDescriptorsOnly(bool whenStarting) noexcept
{
    if (::syscall(SYS_close_range, 3u, ~0u, whenStarting ? 4u /* CLOSE_RANGE_CLOEXEC */ : 0u) == 0)
        return true;
    // Kernels before 5.11: one by one, as far as descriptors may go.
    rlimit open{};
    if (::getrlimit(RLIMIT_NOFILE, &open) != 0)
        return false;
    const long last = open.rlim_cur == RLIM_INFINITY ? 65536 : long(open.rlim_cur);
    for (int fd = 3; fd < last; ++fd) {
        if (whenStarting)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        else
            ::close(fd);
    }
    return true;
}

bool Sandbox::namespacesAvailable()
{
    return Namespaces::available();
}

void Sandbox::setHelperFolder(const std::string &folder)
{
    helperFolder = folder;
}

std::vector<std::string> Sandbox::helperOptions(const Rules &rules)
{
    std::vector<std::string> options;
    for (const std::string &path : rules.readable)
        addOption(options, "read", path);
    for (const std::string &path : rules.writable)
        addOption(options, "write", path);
    for (const std::string &path : rules.executable)
        addOption(options, "exec", path);
    addOption(options, "processes", std::to_string(rules.processes));
    addOption(options, "memory", std::to_string(rules.memoryBytes));
    addOption(options, "file-size", std::to_string(rules.fileSizeBytes));
    addOption(options, "cpu", std::to_string(rules.cpuSeconds));
    addOption(options, "max-output", std::to_string(rules.outputBytes));
    return options;
}

bool Sandbox::readHelperOption(const std::string &option, Rules &rules)
{
    std::string value;
    unsigned long long amount = 0;
    if (optionValue(option, "read", value))
        rules.readable.push_back(value);
    else if (optionValue(option, "write", value))
        rules.writable.push_back(value);
    else if (optionValue(option, "exec", value))
        rules.executable.push_back(value);
    else if (optionValue(option, "processes", value) && number(value, amount) && amount <= UINT_MAX)
        rules.processes = unsigned(amount);
    else if (optionValue(option, "memory", value) && number(value, amount))
        rules.memoryBytes = amount;
    else if (optionValue(option, "file-size", value) && number(value, amount))
        rules.fileSizeBytes = amount;
    else if (optionValue(option, "cpu", value) && number(value, amount))
        rules.cpuSeconds = amount;
    else if (optionValue(option, "max-output", value) && number(value, amount))
        rules.outputBytes = amount;
    else
        return false;
    return true;
}
