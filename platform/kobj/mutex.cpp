#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <utility>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/kobj/kobj.h"
#include "platform/kobj/objfile.h"
#include "platform/kobj/wait.h"

namespace qv::kobj {
namespace {

using internal::Block;

// Mutexes owned by the current thread. Each ownership is its own open of the
// control file holding the owner byte; a thread that exits closes them
// without clearing the held mark, which the next owner reports as Abandoned.
struct Ownership {
  std::uint64_t dev;
  std::uint64_t ino;
  int fd;
  std::uint32_t depth;
};

struct OwnedByThread {
  std::vector<Ownership> list;
  ~OwnedByThread() {
    for (const Ownership& o : list) ::close(o.fd);
  }
  Ownership* Find(std::uint64_t dev, std::uint64_t ino) {
    for (Ownership& o : list)
      if (o.dev == dev && o.ino == ino) return &o;
    return nullptr;
  }
};

OwnedByThread& Owned() {
  thread_local OwnedByThread owned;
  return owned;
}

enum class Take { Got, Timeout, Error };

// Timed waits poll: the kernel offers no timed wait for a byte-range lock.
Take TakeOwnerByte(int fd, std::uint32_t timeout_ms) {
  if (timeout_ms == kInfinite) return internal::LockByte(fd, F_WRLCK, internal::kOwnerByte, true) ? Take::Got : Take::Error;
  internal::Deadline deadline(timeout_ms);
  auto pause = std::chrono::microseconds(100);
  for (;;) {
    if (internal::LockByte(fd, F_WRLCK, internal::kOwnerByte, false)) return Take::Got;
    if (errno != EAGAIN && errno != EACCES) return Take::Error;
    const std::uint32_t left = deadline.RemainingMs();
    if (left == 0) return Take::Timeout;
    std::this_thread::sleep_for(std::min<std::chrono::microseconds>(pause, std::chrono::milliseconds(left)));
    pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(5));
  }
}

WaitResult Acquire(const std::string& path, std::uint64_t dev, std::uint64_t ino, Block* block,
                   std::uint32_t timeout_ms) {
  OwnedByThread& owned = Owned();
  if (Ownership* o = owned.Find(dev, ino)) {
    if (o->depth == UINT32_MAX) return WaitResult::Failed;
    ++o->depth;
    return WaitResult::Signaled;
  }
  const int fd = internal::ReopenObjFile(path, dev, ino);
  if (fd < 0) return WaitResult::Failed;
  // Presence keeps the object alive while owned, even past its handle.
  if (!internal::LockByte(fd, F_RDLCK, internal::kPresenceByte, true)) {
    ::close(fd);
    return WaitResult::Failed;
  }
  const Take take = TakeOwnerByte(fd, timeout_ms);
  if (take != Take::Got) {
    ::close(fd);
    return take == Take::Timeout ? WaitResult::Timeout : WaitResult::Failed;
  }
  const std::uint32_t was_held = std::atomic_ref<std::uint32_t>(block->held).exchange(1);
  block->owner_pid = static_cast<std::int32_t>(::getpid());
  block->owner_tid = static_cast<std::int32_t>(::gettid());
  owned.list.push_back(Ownership{dev, ino, fd, 1});
  return was_held ? WaitResult::Abandoned : WaitResult::Signaled;
}

// Opens or creates the control file and, when that succeeds, stores it in
// the handle's fields (which must be closed).
OpenStatus OpenMutexFile(std::string_view name, bool create, Access access,
                         const internal::UnderGuard& under_guard, int& fd, std::uint64_t& dev,
                         std::uint64_t& ino, std::string& path, Block*& block) {
  internal::ObjFile file;
  const OpenStatus s =
      internal::OpenObjFile(internal::Kind::Mutex, name, create, access, under_guard, file);
  if (!IsOpen(s)) return s;
  fd = file.fd;
  dev = file.dev;
  ino = file.ino;
  path = std::move(file.path);
  block = file.block;
  return s;
}

}  // namespace

Mutex::~Mutex() { Close(); }

Mutex::Mutex(Mutex&& other) noexcept { *this = std::move(other); }

Mutex& Mutex::operator=(Mutex&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    dev_ = std::exchange(other.dev_, 0);
    ino_ = std::exchange(other.ino_, 0);
    path_ = std::move(other.path_);
    other.path_.clear();
    block_ = std::exchange(other.block_, nullptr);
  }
  return *this;
}

OpenStatus Mutex::Create(std::string_view name, bool initial_owner, Access access) {
  Close();
  return OpenMutexFile(
      name, true, access,
      [initial_owner](internal::ObjFile& f, bool is_new) {
        // Taken under the guard, so no other handle can get in first.
        if (is_new && initial_owner && Acquire(f.path, f.dev, f.ino, f.block, 0) != WaitResult::Signaled)
          return OpenStatus::Failed;
        return is_new ? OpenStatus::Created : OpenStatus::AlreadyExists;
      },
      fd_, dev_, ino_, path_, block_);
}

OpenStatus Mutex::Open(std::string_view name) {
  Close();
  return OpenMutexFile(name, false, Access::Owner, nullptr, fd_, dev_, ino_, path_, block_);
}

void Mutex::Close() {
  if (fd_ < 0) return;
  internal::ObjFile file;
  file.fd = fd_;
  file.dev = dev_;
  file.ino = ino_;
  file.path = std::move(path_);
  file.block = block_;
  internal::CloseObjFile(file, nullptr);
  fd_ = -1;
  dev_ = ino_ = 0;
  path_.clear();
  block_ = nullptr;
}

WaitResult Mutex::Wait(std::uint32_t timeout_ms) {
  if (fd_ < 0) return WaitResult::Failed;
  return Acquire(path_, dev_, ino_, block_, timeout_ms);
}

bool Mutex::Release() {
  if (fd_ < 0) return false;
  OwnedByThread& owned = Owned();
  Ownership* o = owned.Find(dev_, ino_);
  if (!o) return false;
  if (--o->depth > 0) return true;
  block_->owner_pid = 0;
  block_->owner_tid = 0;
  std::atomic_ref<std::uint32_t>(block_->held).store(0);
  ::close(o->fd);
  owned.list.erase(owned.list.begin() + (o - owned.list.data()));
  return true;
}

}  // namespace qv::kobj
