#include <atomic>
#include <utility>
#include <climits>

#include "platform/kobj/blockhandle.h"
#include "platform/kobj/kobj.h"
#include "platform/kobj/objfile.h"
#include "platform/kobj/wait.h"

namespace qv::kobj {

Semaphore::~Semaphore() { Close(); }

Semaphore::Semaphore(Semaphore&& other) noexcept { *this = std::move(other); }

Semaphore& Semaphore::operator=(Semaphore&& other) noexcept {
  if (this != &other) internal::MoveBlock(fd_, path_, block_, other.fd_, other.path_, other.block_);
  return *this;
}

OpenStatus Semaphore::Create(std::string_view name, std::int32_t initial_count, std::int32_t max_count,
                             Access access) {
  Close();
  if (max_count <= 0 || initial_count < 0 || initial_count > max_count) return OpenStatus::InvalidArgument;
  if (name.empty()) {
    block_ = internal::MapUnnamedBlock(internal::Kind::Semaphore);
    if (!block_) return OpenStatus::Failed;
    block_->max_count = static_cast<std::uint32_t>(max_count);
    block_->count = static_cast<std::uint32_t>(initial_count);
    return OpenStatus::Created;
  }
  return internal::OpenNamedBlock(
      internal::Kind::Semaphore, name, true, access,
      [&](internal::ObjFile& f, bool is_new) {
        if (is_new) {
          f.block->max_count = static_cast<std::uint32_t>(max_count);
          std::atomic_ref<std::uint32_t>(f.block->count).store(static_cast<std::uint32_t>(initial_count));
        }
        return is_new ? OpenStatus::Created : OpenStatus::AlreadyExists;
      },
      fd_, path_, block_);
}

OpenStatus Semaphore::Open(std::string_view name) {
  Close();
  if (name.empty()) return OpenStatus::InvalidName;
  return internal::OpenNamedBlock(internal::Kind::Semaphore, name, false, Access::Owner, nullptr,
                                  fd_, path_, block_);
}

void Semaphore::Close() { internal::CloseBlock(fd_, path_, block_); }

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
