// The control file behind every named object.
//
// Byte-range locks on the file (open-file-description locks, so each open
// of the file is its own owner, also between threads of one process):
//   kGuardByte     held exclusively while a handle is created, opened or
//                  closed, so those steps are serialised;
//   kPresenceByte  held shared by every open handle (and every owned mutex):
//                  the object exists while anybody holds it;
//   kOwnerByte     held exclusively by the thread that owns a mutex.
// The kernel drops the locks of a process that dies, so its handles vanish
// with it. The file's first page is mapped and holds the object's state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/kobj/kobj.h"

namespace qv::kobj::internal {

enum class Kind : std::uint32_t { Mutex = 1, Event = 2, Semaphore = 3, Memory = 4 };

inline constexpr std::uint32_t kBlockMagic = 0x4F4B5651;  // "QVKO"
inline constexpr std::size_t kBlockFileSize = 4096;

inline constexpr long kGuardByte = 0;
inline constexpr long kPresenceByte = 1;
inline constexpr long kOwnerByte = 2;

// Shared state; only touched through std::atomic_ref where it changes after
// creation.
struct Block {
  std::uint32_t magic;
  std::uint32_t kind;
  // mutex: 1 while owned; left at 1 by an owner that died
  std::uint32_t held;
  std::int32_t owner_pid;
  std::int32_t owner_tid;
  // event
  std::uint32_t signaled;
  std::uint32_t manual_reset;
  // semaphore
  std::uint32_t count;
  std::uint32_t max_count;
  std::uint32_t reserved;
  // shared memory
  std::uint64_t memory_size;
};

struct ObjFile {
  int fd = -1;
  std::uint64_t dev = 0;
  std::uint64_t ino = 0;
  std::string path;
  Block* block = nullptr;
};

// Called with the guard held, after the block is mapped and, for a new
// object, zeroed and stamped. A status other than Created/AlreadyExists/Opened
// undoes the open.
using UnderGuard = std::function<OpenStatus(ObjFile& file, bool is_new)>;

// Creates or opens the control file of (kind, name); out is left closed on
// failure.
OpenStatus OpenObjFile(Kind kind, std::string_view name, bool create, Access access,
                       const UnderGuard& under_guard, ObjFile& out);

// Closes the handle; when it was the last one anywhere, runs on_last (may be
// empty) under the guard and removes the file.
void CloseObjFile(ObjFile& file, const std::function<void()>& on_last);

// Another open of the same control file (a new lock owner), or -1.
int ReopenObjFile(const std::string& path, std::uint64_t dev, std::uint64_t ino);

// Open-file-description lock of one byte; wait blocks until granted.
bool LockByte(int fd, short type, long offset, bool wait);
void UnlockByte(int fd, long offset);

unsigned ModeFor(Access access);

}  // namespace qv::kobj::internal
