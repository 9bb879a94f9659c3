#include "platform/kobj/wait.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/kobj/kobj.h"

namespace qv::kobj::internal {

Deadline::Deadline(std::uint32_t timeout_ms)
    : infinite_(timeout_ms == kInfinite),
      at_(std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite_ ? 0 : timeout_ms)) {}

std::uint32_t Deadline::RemainingMs() const {
  if (infinite_) return kInfinite;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(at_ - std::chrono::steady_clock::now());
  if (left.count() <= 0) return 0;
  return static_cast<std::uint32_t>(left.count());
}

WordWait WaitOnWord(std::uint32_t* word, std::uint32_t expected, std::uint32_t timeout_ms) {
  struct timespec ts {};
  struct timespec* pts = nullptr;
  if (timeout_ms != kInfinite) {
    ts.tv_sec = timeout_ms / 1000;
    ts.tv_nsec = static_cast<long>(timeout_ms % 1000) * 1000000L;
    pts = &ts;
  }
  // Shared (not private) futex: the word may be mapped by other processes.
  long rc = ::syscall(SYS_futex, word, FUTEX_WAIT, expected, pts, nullptr, 0);
  if (rc == 0) return WordWait::Woken;
  switch (errno) {
    case EAGAIN:
    case EINTR: return WordWait::Woken;
    case ETIMEDOUT: return WordWait::TimedOut;
    default: return WordWait::Error;
  }
}

void WakeWord(std::uint32_t* word, int waiters) {
  ::syscall(SYS_futex, word, FUTEX_WAKE, waiters, nullptr, nullptr, 0);
}

}  // namespace qv::kobj::internal
