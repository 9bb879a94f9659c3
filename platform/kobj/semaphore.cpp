#include <sys/mman.h>

#include <atomic>
#include <utility>
#include <climits>

#include "platform/kobj/kobj.h"
#include "platform/kobj/objfile.h"
#include "platform/kobj/wait.h"

namespace qv::kobj {

using internal::Block;

Semaphore::~Semaphore() { Close(); }

Semaphore::Semaphore(Semaphore&& other) noexcept { *this = std::move(other); }

Semaphore& Semaphore::operator=(Semaphore&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    other.path_.clear();
    block_ = std::exchange(other.block_, nullptr);
  }
  return *this;
}

OpenStatus Semaphore::Create(std::string_view name, std::int32_t initial_count, std::int32_t max_count,
                             Access access) {
  Close();
  if (max_count <= 0 || initial_count < 0 || initial_count > max_count) return OpenStatus::InvalidArgument;
  if (name.empty()) {
    void* map = ::mmap(nullptr, sizeof(Block), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) return OpenStatus::Failed;
    block_ = static_cast<Block*>(map);
    block_->kind = static_cast<std::uint32_t>(internal::Kind::Semaphore);
    block_->max_count = static_cast<std::uint32_t>(max_count);
    block_->count = static_cast<std::uint32_t>(initial_count);
    return OpenStatus::Created;
  }
  internal::ObjFile file;
  const OpenStatus s = internal::OpenObjFile(
      internal::Kind::Semaphore, name, true, access,
      [&](internal::ObjFile& f, bool is_new) {
        if (is_new) {
          f.block->max_count = static_cast<std::uint32_t>(max_count);
          std::atomic_ref<std::uint32_t>(f.block->count).store(static_cast<std::uint32_t>(initial_count));
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

OpenStatus Semaphore::Open(std::string_view name) {
  Close();
  if (name.empty()) return OpenStatus::InvalidName;
  internal::ObjFile file;
  const OpenStatus s = internal::OpenObjFile(internal::Kind::Semaphore, name, false, Access::Owner, nullptr, file);
  if (!IsOpen(s)) return s;
  fd_ = file.fd;
  path_ = std::move(file.path);
  block_ = file.block;
  return s;
}

void Semaphore::Close() {
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

WaitResult Semaphore::Wait(std::uint32_t timeout_ms) {
  if (!block_) return WaitResult::Failed;
  std::atomic_ref<std::uint32_t> count(block_->count);
  internal::Deadline deadline(timeout_ms);
  for (;;) {
    std::uint32_t c = count.load();
    while (c > 0) {
      if (count.compare_exchange_weak(c, c - 1)) return WaitResult::Signaled;
    }
    const std::uint32_t left = deadline.RemainingMs();
    if (left == 0) return WaitResult::Timeout;
    if (internal::WaitOnWord(&block_->count, 0, left) == internal::WordWait::Error) return WaitResult::Failed;
  }
}

bool Semaphore::Release(std::int32_t count, std::int32_t* previous_count) {
  if (!block_ || count <= 0) return false;
  std::atomic_ref<std::uint32_t> value(block_->count);
  const std::uint32_t max = block_->max_count;
  std::uint32_t c = value.load();
  do {
    if (static_cast<std::uint32_t>(count) > max || c > max - static_cast<std::uint32_t>(count)) return false;
  } while (!value.compare_exchange_weak(c, c + static_cast<std::uint32_t>(count)));
  if (previous_count) *previous_count = static_cast<std::int32_t>(c);
  internal::WakeWord(&block_->count, count);
  return true;
}

}  // namespace qv::kobj
