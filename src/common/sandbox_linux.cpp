// The kernel sandbox on Linux: Landlock, seccomp and resource limits.
#include "sandbox.h"

#include <seccomp.h>

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <link.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

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

int version()
{
    static const int abi = [] {
        const long answer = ::syscall(CreateRuleset, nullptr, 0, AskVersion);
        return answer < 0 ? 0 : int(answer);
    }();
    return abi;
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

void allow(int ruleset, const std::string &path, std::uint64_t rights, std::uint64_t handled)
{
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return; // not on this system: nothing to allow
    struct stat st;
    if (::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode))
        rights &= FileRights;
    const PathBeneathAttr rule{rights & handled, fd};
    ::syscall(AddRule, ruleset, PathBeneath, &rule, 0);
    ::close(fd);
}

// The dynamic loader the kernel opens for every program it starts, found as
// this program's own: the system's programs use the same.
std::string programLoader()
{
    struct Search
    {
        ElfW(Addr) base;
        std::string name;
    } search{ElfW(Addr)(::getauxval(AT_BASE)), {}};
    ::dl_iterate_phdr(
        [](dl_phdr_info *object, size_t, void *data) {
            auto *wanted = static_cast<Search *>(data);
            if (object->dlpi_addr != wanted->base || !object->dlpi_name)
                return 0;
            wanted->name = object->dlpi_name;
            return 1;
        },
        &search);
    return search.base ? search.name : std::string();
}

int makeRuleset(const Sandbox::Rules &rules)
{
    const int abi = version();
    if (abi < 1)
        return -1;
    RulesetAttr attributes{handledRights(abi), 0, 0};
    size_t size = sizeof attributes.handledAccessFs;
    if (abi >= 4) {
        attributes.handledAccessNet = BindTcp | ConnectTcp; // and no rule grants any
        size += sizeof attributes.handledAccessNet;
    }
    if (abi >= 6) {
        // No signals to processes outside, no abstract sockets (an X server's, say).
        attributes.scoped = ScopeAbstractUnixSocket | ScopeSignal;
        size += sizeof attributes.scoped;
    }
    const int ruleset = int(::syscall(CreateRuleset, &attributes, size, 0));
    if (ruleset < 0)
        return -1;
    const std::uint64_t handled = attributes.handledAccessFs;
    for (const std::string &path : rules.readable)
        allow(ruleset, path, ReadFile | ReadDir, handled);
    for (const std::string &path : rules.writable)
        allow(ruleset, path,
              ReadFile | ReadDir | WriteFile | Truncate | RemoveDir | RemoveFile | MakeDir | MakeReg, handled);
    for (const std::string &path : rules.executable)
        allow(ruleset, path, Execute | ReadFile, handled);
    if (!rules.executable.empty())
        allow(ruleset, programLoader(), Execute | ReadFile, handled);
    allow(ruleset, "/dev/null", ReadFile | WriteFile | Truncate, handled);
    return ruleset;
}

} // namespace Landlock

bool seccompAvailable()
{
    return ::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0;
}

// Allows everything but what no renderer needs: sockets, watching or
// changing other processes, mounts, namespaces, keyrings, BPF, the kernel's
// modules, io_uring (whose requests pass by this filter), and starting
// programs when it may start none.
std::vector<unsigned char> makeFilter(bool mayStartPrograms)
{
    scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return {};
    const int refused[] = {
        SCMP_SYS(socket), SCMP_SYS(ptrace), SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev),
        SCMP_SYS(mount), SCMP_SYS(umount2), SCMP_SYS(pivot_root), SCMP_SYS(chroot), SCMP_SYS(unshare),
        SCMP_SYS(setns), SCMP_SYS(keyctl), SCMP_SYS(add_key), SCMP_SYS(request_key), SCMP_SYS(bpf),
        SCMP_SYS(perf_event_open), SCMP_SYS(userfaultfd), SCMP_SYS(io_uring_setup), SCMP_SYS(io_uring_enter),
        SCMP_SYS(io_uring_register), SCMP_SYS(init_module), SCMP_SYS(finit_module), SCMP_SYS(delete_module),
        SCMP_SYS(kexec_load), SCMP_SYS(open_tree), SCMP_SYS(move_mount), SCMP_SYS(fsopen), SCMP_SYS(fsmount),
    };
    for (const int call : refused)
        ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0);
    // New namespaces through clone are refused too; clone3 hides its flags
    // from the filter, so it answers "not implemented" and the C library
    // falls back to clone.
    for (const unsigned long flag : {CLONE_NEWNS, CLONE_NEWUTS, CLONE_NEWIPC, CLONE_NEWUSER, CLONE_NEWPID,
                                     CLONE_NEWNET, CLONE_NEWCGROUP})
        ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1, SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag));
    ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
    if (!mayStartPrograms) {
        ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(execve), 0);
        ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(execveat), 0);
    }
    std::vector<unsigned char> program;
    const int memory = ::memfd_create("seccomp", MFD_CLOEXEC);
    if (memory >= 0 && ::seccomp_export_bpf(filter, memory) == 0) {
        program.resize(size_t(::lseek(memory, 0, SEEK_END)));
        if (::pread(memory, program.data(), program.size(), 0) != ssize_t(program.size()))
            program.clear();
    }
    if (memory >= 0)
        ::close(memory);
    ::seccomp_release(filter);
    return program;
}

void setLimit(int resource, unsigned long long soft, unsigned long long hard)
{
    const rlimit limit{rlim_t(soft), rlim_t(hard)};
    ::setrlimit(resource, &limit);
}

} // namespace

std::vector<std::string> Sandbox::systemReadable()
{
    return {"/usr", "/lib", "/lib64", "/bin", "/etc/ld.so.cache", "/etc/localtime", "/etc/papersize",
            "/etc/ghostscript", "/etc/fonts", "/var/lib/ghostscript", "/var/cache/fontconfig"};
}

Sandbox::Sandbox(const Rules &rules) : m_rules(rules), m_ruleset(Landlock::makeRuleset(rules))
{
    if (seccompAvailable())
        m_filter = makeFilter(!rules.executable.empty());
}

Sandbox::~Sandbox()
{
    if (m_ruleset >= 0)
        ::close(m_ruleset);
}

bool Sandbox::apply() const noexcept
{
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    setLimit(RLIMIT_CORE, 0, 0);
    if (m_rules.memoryBytes > 0)
        setLimit(RLIMIT_AS, m_rules.memoryBytes, m_rules.memoryBytes);
    if (m_rules.fileSizeBytes > 0)
        setLimit(RLIMIT_FSIZE, m_rules.fileSizeBytes, m_rules.fileSizeBytes);
    if (m_rules.cpuSeconds > 0) // SIGXCPU first, SIGKILL a second later
        setLimit(RLIMIT_CPU, m_rules.cpuSeconds, m_rules.cpuSeconds + 1);
    if (m_ruleset >= 0 && ::syscall(Landlock::RestrictSelf, m_ruleset, 0) != 0)
        return false;
    if (!m_filter.empty()) {
        const sock_fprog program{static_cast<unsigned short>(m_filter.size() / sizeof(sock_filter)),
                                 reinterpret_cast<sock_filter *>(const_cast<unsigned char *>(m_filter.data()))};
        if (::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0)
            return false;
    }
    return true;
}

std::vector<std::string> Sandbox::missing()
{
    std::vector<std::string> gaps;
    if (Landlock::version() < 1)
        gaps.emplace_back("file access");
    if (Landlock::version() < 4)
        gaps.emplace_back("network connections");
    if (!seccompAvailable())
        gaps.emplace_back("system calls");
    return gaps;
}
