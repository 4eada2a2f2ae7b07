#pragma once

#include <string>

// Linux namespaces for the sandbox: a user namespace of this user's own, in
// which a process may make mount, PID, IPC and network namespaces and file
// systems that nobody else sees, as bubblewrap makes them for Flatpak
// applications. Plain C++ and system calls only.
namespace Namespaces {

// Whether this user may make them: asked once, in a child that tries.
// PELLUCOR_NAMESPACES=off plays a system without them.
bool available();

// Whether, in them, a PID namespace may have a /proc of its own: a container
// whose own /proc is partly covered refuses one.
bool ownProcAvailable();

// How entering them went.
enum class Entry {
    Entered,     // this process is now in namespaces of its own
    Unavailable, // the kernel or the system refuses this user namespaces: go on without
    Failed,      // they were offered but could not be set up: do not go on
};

// Moves this process (which must have a single thread) into a user namespace
// mapped to its own user, with mount (all mounts private), network, IPC and
// host-name namespaces of its own. `why` receives the reason of a failure.
Entry enterOwn(std::string &why);

// Mounts a file system of `bytes` (and a bounded number of files) in memory
// at `folder`, open to this user only; needs the namespaces above. "" on
// success, else why not.
std::string mountPrivateFileSystem(const std::string &folder, unsigned long long bytes);

} // namespace Namespaces
