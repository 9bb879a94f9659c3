// The state shared by event and semaphore handles: fd, path and block. An
// unnamed object is an anonymous mapping of its block (fd < 0); a named one
// is its control file.
#pragma once

#include <sys/mman.h>

#include <string>
#include <string_view>
#include <utility>

#include "platform/kobj/kobj.h"
#include "platform/kobj/objfile.h"

namespace qv::kobj::internal {

// A zeroed block of the given kind for an unnamed object, or nullptr.
inline Block* MapUnnamedBlock(Kind kind) {
  void* map =
      ::mmap(nullptr, sizeof(Block), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) return nullptr;
  Block* block = static_cast<Block*>(map);
  block->kind = static_cast<std::uint32_t>(kind);
  return block;
}

// Opens or creates the named object's control file and, when that succeeds,
// stores it in fd, path and block (which must be closed).
inline OpenStatus OpenNamedBlock(Kind kind, std::string_view name, bool create, Access access,
                                 const UnderGuard& under_guard, int& fd, std::string& path,
                                 Block*& block) {
  ObjFile file;
  const OpenStatus s = OpenObjFile(kind, name, create, access, under_guard, file);
  if (!IsOpen(s)) return s;
  fd = file.fd;
  path = std::move(file.path);
  block = file.block;
  return s;
}

// Releases what fd, path and block hold and leaves them closed.
inline void CloseBlock(int& fd, std::string& path, Block*& block) {
  if (!block) return;
  if (fd < 0) {
    ::munmap(block, sizeof(Block));
  } else {
    ObjFile file;
    file.fd = fd;
    file.path = std::move(path);
    file.block = block;
    CloseObjFile(file, nullptr);
  }
  fd = -1;
  path.clear();
  block = nullptr;
}

// Closes the destination, then moves the source's state into it, leaving
// the source closed.
inline void MoveBlock(int& fd, std::string& path, Block*& block, int& other_fd,
                      std::string& other_path, Block*& other_block) {
  CloseBlock(fd, path, block);
  fd = std::exchange(other_fd, -1);
  path = std::move(other_path);
  other_path.clear();
  block = std::exchange(other_block, nullptr);
}

}  // namespace qv::kobj::internal
