#pragma once

#include <string>
#include <vector>

// A kernel sandbox for a process that is about to run Ghostscript, so that
// even a Ghostscript taken over by a hostile file can read nothing but what
// rendering needs, write nothing outside its own folders, start no other
// program and reach no network. On Linux: no new privileges, Landlock rules
// for files, TCP and scopes, a seccomp filter, and resource limits; elsewhere
// the resource limits only, where the platform has them.
//
// Everything that allocates or opens files happens when the sandbox is made;
// apply() only makes system calls, so it may run between fork and exec in a
// program with threads. Plain C++: the warm renderer has no Qt.
class Sandbox
{
public:
    struct Rules
    {
        std::vector<std::string> readable;   // folders (with everything below) and files to read
        std::vector<std::string> writable;   // folders to read, write, create and remove in
        std::vector<std::string> executable; // programs it may start; none means no program at all
        unsigned long long memoryBytes = 0;   // address space; 0 for no limit
        unsigned long long fileSizeBytes = 0; // largest file written; 0 for no limit
        unsigned long long cpuSeconds = 0;    // processor time, then SIGXCPU; 0 for no limit
    };

    // What every Ghostscript reads: the system's libraries and programs, its
    // resources and font maps, fonts and their configuration, and the few
    // files of /etc it consults (paper size, time zone).
    static std::vector<std::string> systemReadable();

    explicit Sandbox(const Rules &rules);
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    // In the child, before Ghostscript runs. False when a restriction that
    // this kernel offers could not be applied: the caller must not go on.
    bool apply() const noexcept;

    // What this kernel cannot restrict, in words for the user; empty when
    // everything applies.
    static std::vector<std::string> missing();

private:
    Rules m_rules;
    int m_ruleset = -1;                 // Landlock ruleset, -1 without Landlock
    std::vector<unsigned char> m_filter; // seccomp program, empty without seccomp
};
