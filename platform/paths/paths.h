// Where the system keeps its files.
//
// Every path of the system hangs off one root, taken from the environment
// variable TAVRIK_ROOT (default: the empty root, i.e. the production layout
// /etc/tavrik, /var/lib/tavrik, /run/tavrik, /var/log/tavrik). Tests and the
// demo point it at a private directory, so several runs share a machine.
#pragma once

#include <string>

namespace qv::paths {

// The configured root without a trailing slash ("" in production).
std::string Root();

// Overrides the root for this process (tests); an empty text restores the
// environment's value.
void SetRootForProcess(const std::string& root);

std::string EtcDir();    // <root>/etc/tavrik: registry keys, configuration
std::string StateDir();  // <root>/var/lib/tavrik: token store, state
std::string RunDir();    // <root>/run/tavrik: sockets, lock files
std::string LogDir();    // <root>/var/log/tavrik: event file, trace file

// A short prefix unique to the root, for names that live outside it
// (POSIX semaphores and shared memory in /dev/shm): "/tvk<hex>_".
std::string NamePrefix();

// Creates a directory and its parents with the given mode; true when it exists
// afterwards.
bool MakeDirs(const std::string& path, unsigned mode = 0755);

}  // namespace qv::paths
