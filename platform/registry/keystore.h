// Key storage on disk: one directory per key holding its value file
// "@key.reg" and the lock file "@lock"; subkeys are subdirectories.
// Internal to the registry layer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/registry/regfile.h"
#include "platform/registry/registry.h"

namespace qv::reg {

struct KeyObject {
  std::string dir;   // the key's directory; empty for the predefined root
  std::string path;  // full path as first written, e.g. HKEY_LOCAL_MACHINE\SOFTWARE
  uint32_t access = 0;
  bool predefined = false;
};

namespace store {

inline constexpr char kValueFile[] = "@key.reg";
inline constexpr char kLockFile[] = "@lock";

// Directory of the root key: EtcDir() + "/registry", as configured now.
std::string RootDir();

// Maps errno of a failed file operation to a registry status.
LSTATUS FromErrno(int err);

// Reads the key's values. A key without a value file has none; a missing
// directory gives ERROR_KEY_DELETED.
LSTATUS Load(const std::string& dir, RegSection* section);

// Read-modify-write of the key's values under its lock: `change` edits the
// loaded section and returns ERROR_SUCCESS to have it written back (any
// other status is returned without writing). The new file replaces the old
// one atomically and keeps its mode and owner. `path` names the key in a
// new file.
LSTATUS Modify(const std::string& dir, const std::string& path,
               const std::function<LSTATUS(RegSection&)>& change);

// Holds a key's lock for the lifetime of the object.
class KeyLock {
 public:
  KeyLock() = default;
  KeyLock(const KeyLock&) = delete;
  KeyLock& operator=(const KeyLock&) = delete;
  ~KeyLock();
  // ERROR_KEY_DELETED when the key went away before or while waiting.
  LSTATUS Acquire(const std::string& dir);

 private:
  int fd_ = -1;
};

// Permission checks with the caller's effective identity.
bool CanRead(const std::string& dir);
bool CanWrite(const std::string& dir);

// True when the directory has subkeys; false also when it cannot be read.
bool HasSubkeys(const std::string& dir);

// Removes the key's own files and its directory (subkeys must be gone).
LSTATUS RemoveKeyDir(const std::string& dir);

// Subkey directory names, sorted.
LSTATUS ListSubkeys(const std::string& dir, std::vector<std::string>* names);

}  // namespace store
}  // namespace qv::reg
