#include <atomic>
#include <utility>
#include <climits>

#include "platform/kobj/blockhandle.h"
#include "platform/kobj/kobj.h"
#include "platform/kobj/objfile.h"
#include "platform/kobj/wait.h"

namespace qv::kobj {

Event::~Event() { Close(); }

Event::Event(Event&& other) noexcept { *this = std::move(other); }

Event& Event::operator=(Event&& other) noexcept {
  if (this != &other) internal::MoveBlock(fd_, path_, block_, other.fd_, other.path_, other.block_);
  return *this;
}

OpenStatus Event::Create(std::string_view name, bool manual_reset, bool initial_state, Access access) {
  Close();
  if (name.empty()) {
    block_ = internal::MapUnnamedBlock(internal::Kind::Event);
    if (!block_) return OpenStatus::Failed;
    block_->manual_reset = manual_reset ? 1 : 0;
    block_->signaled = initial_state ? 1 : 0;
    return OpenStatus::Created;
  }
  return internal::OpenNamedBlock(
      internal::Kind::Event, name, true, access,
      [&](internal::ObjFile& f, bool is_new) {
        if (is_new) {
          f.block->manual_reset = manual_reset ? 1 : 0;
          std::atomic_ref<std::uint32_t>(f.block->signaled).store(initial_state ? 1 : 0);
        }
        return is_new ? OpenStatus::Created : OpenStatus::AlreadyExists;
      },
      fd_, path_, block_);
}

OpenStatus Event::Open(std::string_view name) {
  Close();
  if (name.empty()) return OpenStatus::InvalidName;
  return internal::OpenNamedBlock(internal::Kind::Event, name, false, Access::Owner, nullptr,
                                  fd_, path_, block_);
}

void Event::Close() { internal::CloseBlock(fd_, path_, block_); }

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
