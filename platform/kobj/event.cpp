#include <sys/mman.h>

#include <atomic>
#include <utility>
#include <climits>

#include "platform/kobj/kobj.h"
#include "platform/kobj/objfile.h"
#include "platform/kobj/wait.h"

namespace qv::kobj {

using internal::Block;

Event::~Event() { Close(); }

Event::Event(Event&& other) noexcept { *this = std::move(other); }

Event& Event::operator=(Event&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    other.path_.clear();
    block_ = std::exchange(other.block_, nullptr);
  }
  return *this;
}

OpenStatus Event::Create(std::string_view name, bool manual_reset, bool initial_state, Access access) {
  Close();
  if (name.empty()) {
    void* map = ::mmap(nullptr, sizeof(Block), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) return OpenStatus::Failed;
    block_ = static_cast<Block*>(map);
    block_->kind = static_cast<std::uint32_t>(internal::Kind::Event);
    block_->manual_reset = manual_reset ? 1 : 0;
    block_->signaled = initial_state ? 1 : 0;
    return OpenStatus::Created;
  }
  internal::ObjFile file;
  const OpenStatus s = internal::OpenObjFile(
      internal::Kind::Event, name, true, access,
      [&](internal::ObjFile& f, bool is_new) {
        if (is_new) {
          f.block->manual_reset = manual_reset ? 1 : 0;
          std::atomic_ref<std::uint32_t>(f.block->signaled).store(initial_state ? 1 : 0);
        }
        return is_new ? OpenStatus::Created : OpenStatus::AlreadyExists;
      },
      file);
  if (!IsOpen(s)) return s;
  fd_ = file.fd;
  path_ = std::move(file.path);
  block_ = file.block;
  return s;
}

OpenStatus Event::Open(std::string_view name) {
  Close();
  if (name.empty()) return OpenStatus::InvalidName;
  internal::ObjFile file;
  const OpenStatus s = internal::OpenObjFile(internal::Kind::Event, name, false, Access::Owner, nullptr, file);
  if (!IsOpen(s)) return s;
  fd_ = file.fd;
  path_ = std::move(file.path);
  block_ = file.block;
  return s;
}

void Event::Close() {
  if (!block_) return;
  if (fd_ < 0) {
    ::munmap(block_, sizeof(Block));
  } else {
    internal::ObjFile file;
    file.fd = fd_;
    file.path = std::move(path_);
    file.block = block_;
    internal::CloseObjFile(file, nullptr);
  }
  fd_ = -1;
  path_.clear();
  block_ = nullptr;
}

bool Event::Set() {
  if (!block_) return false;
  std::atomic_ref<std::uint32_t>(block_->signaled).store(1);
  internal::WakeWord(&block_->signaled, block_->manual_reset ? INT_MAX : 1);
  return true;
}

bool Event::Reset() {
  if (!block_) return false;
  std::atomic_ref<std::uint32_t>(block_->signaled).store(0);
  return true;
}

WaitResult Event::Wait(std::uint32_t timeout_ms) {
  if (!block_) return WaitResult::Failed;
  std::atomic_ref<std::uint32_t> signaled(block_->signaled);
  const bool manual = block_->manual_reset != 0;
  internal::Deadline deadline(timeout_ms);
  for (;;) {
    if (manual) {
      if (signaled.load() != 0) return WaitResult::Signaled;
    } else {
      std::uint32_t expected = 1;
      if (signaled.compare_exchange_strong(expected, 0)) return WaitResult::Signaled;
    }
    const std::uint32_t left = deadline.RemainingMs();
    if (left == 0) return WaitResult::Timeout;
    if (internal::WaitOnWord(&block_->signaled, 0, left) == internal::WordWait::Error) return WaitResult::Failed;
  }
}

}  // namespace qv::kobj
