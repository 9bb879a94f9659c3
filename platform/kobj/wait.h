// Waiting on a shared 32-bit word, with a deadline.
#pragma once

#include <chrono>
#include <cstdint>

namespace qv::kobj::internal {

class Deadline {
 public:
  explicit Deadline(std::uint32_t timeout_ms);
  bool infinite() const { return infinite_; }
  // Milliseconds left, 0 once passed (always kInfinite when infinite).
  std::uint32_t RemainingMs() const;

 private:
  bool infinite_;
  std::chrono::steady_clock::time_point at_;
};

enum class WordWait { Woken, TimedOut, Error };

// Sleeps while *word == expected, at most timeout_ms (kInfinite: no limit).
// Woken also covers spurious and interrupted wake-ups: callers re-check.
WordWait WaitOnWord(std::uint32_t* word, std::uint32_t expected, std::uint32_t timeout_ms);
void WakeWord(std::uint32_t* word, int waiters);

}  // namespace qv::kobj::internal
