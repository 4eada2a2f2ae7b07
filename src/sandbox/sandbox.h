#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A kernel sandbox for a process that is about to run Ghostscript, so that
// even a Ghostscript taken over by a hostile file can read nothing but what
// rendering needs, write nothing outside its own folders, start no other
// program, reach no network and leave nothing behind. On Linux: namespaces
// of its own where the kernel lets this user make them, no capabilities and
// no new privileges, Landlock rules for files, TCP and scopes, a seccomp
// filter, resource limits, and only the standard descriptors; elsewhere the
// resource limits only, where the platform has them.
//
// Everything that allocates, opens files or compiles happens when the
// sandbox is made, once for as many processes as apply it; apply() only
// makes system calls, so it may run between fork and exec in a program with
// threads. Plain C++: the warm renderer has no Qt.
class Sandbox
{
public:
    struct Rules
    {
        std::vector<std::string> readable;   // folders (with everything below) and files to read
        std::vector<std::string> writable;   // folders to read, write, create and remove in
        std::vector<std::string> executable; // programs it may start; none: it starts nothing and makes no process
        std::string temporary;                // a folder that gets a file system of its own, in namespaces
        unsigned long long temporaryBytes = 0; // the size of that file system
        unsigned processes = 0;               // processes it may have at once, in namespaces; 0 for no bound
        unsigned long long memoryBytes = 0;   // address space; 0 for no limit
        unsigned long long fileSizeBytes = 0; // largest file written; 0 for no limit
        unsigned long long cpuSeconds = 0;    // processor time, then SIGXCPU; 0 for no limit
        // What a program run by pellucor-sandbox may leave below `writable`
        // and hold open after removing it, measured as it runs and once more
        // when it has ended; past it, it is stopped. 0 for no bound.
        unsigned long long outputBytes = 0;
    };

    // What every Ghostscript reads: the system's libraries, its resources
    // and font maps, fonts and their configuration, and the few files of
    // /etc it consults (paper size, time zone). No folder of programs.
    static std::vector<std::string> systemReadable();

    // How a process ends whose sandbox could not be applied: it never ran
    // what it was meant to run.
    static constexpr int RefusedStatus = 125;
    // How pellucor-sandbox ends when what the program wrote outgrew
    // Rules::outputBytes: it was stopped, or its output does not count.
    static constexpr int OutputTooLargeStatus = 124;

    explicit Sandbox(const Rules &rules);
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // One more file or folder to read, or folder to write in, beside the
    // rules it was made with: in the forked copy of a process that made the
    // sandbox once for many, the one process's own. Opened now, as the
    // others were when it was made.
    void addReadable(const std::string &path);
    void addWritable(const std::string &path);

    // Why a restriction that this kernel offers could not be made; "" when
    // the sandbox is whole. A sandbox with a failure refuses to apply.
    const std::string &failure() const { return m_failure; }

    // What it was made with: where the system confines a process from the
    // outside (a job object on Windows), the limits come from here.
    const Rules &rules() const { return m_rules; }

    // In the process itself, before Ghostscript runs. False when the sandbox
    // is not whole or a restriction could not be applied: the caller must
    // not go on. Once applied, the process holds none of the descriptors the
    // rules were made from.
    bool apply() const noexcept;

    // The command that runs `program` (and its arguments) as a new process
    // tree inside the sandbox, through pellucor-sandbox: in namespaces of its
    // own made by bubblewrap, which show it only what the rules name and end
    // everything it started when it ends; where there are none, under a
    // pellucor-sandbox that ends whatever the program left when it ends.
    // `held`: the sandbox is made at once, but the program starts only when
    // a line arrives on standard input (see pellucor-sandbox --held), and
    // reads /dev/null there; a standard input closed first ends it without
    // running the program.
    std::vector<std::string> command(const std::vector<std::string> &program, bool held = false) const;
    // Whether command() can hold a program here: only pellucor-sandbox waits
    // to be released.
    static bool canHold();

    // What this system cannot restrict, each in a sentence for the user;
    // empty when everything applies.
    static std::vector<std::string> missing();

    // Whether this user may make namespaces of its own (a user namespace
    // with mount, PID, IPC and network namespaces and a file system in it).
    // PELLUCOR_NAMESPACES=off plays a system without them.
    static bool namespacesAvailable();

    // Closes every descriptor beyond standard input, output and error, or,
    // `whenStarting`, marks them to close when a program starts. System
    // calls only: for between fork and exec too.
    static bool keepStandardDescriptorsOnly(bool whenStarting) noexcept;

    // pellucor-sandbox lies beside the running program, or in `folder`.
    static void setHelperFolder(const std::string &folder);

    // The rules as pellucor-sandbox's options, and read back from them.
    static std::vector<std::string> helperOptions(const Rules &rules);
    static bool readHelperOption(const std::string &option, Rules &rules);

    // A path opened for a Landlock rule, with the rights it is given.
    struct Grant
    {
        int fd;
        std::uint64_t rights;
    };

private:
    void addGrant(const std::string &path, std::uint64_t rights);

    Rules m_rules;
    std::string m_failure;               // what could not be made; a sandbox with one never applies
    int m_landlock = 0;                  // the Landlock version its rules are for, 0 without Landlock
    mutable std::vector<Grant> m_grants; // closed once applied
    std::vector<unsigned char> m_filter; // seccomp program, compiled once; empty without seccomp
};
