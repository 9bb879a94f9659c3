#include "runtime/startup/ui_lock.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <new>

namespace qv::startup {
namespace {

std::mutex g_guard;  // guards the pointer, not the user
std::shared_ptr<std::timed_mutex> g_lock;

std::shared_ptr<std::timed_mutex> Current() {
  std::lock_guard<std::mutex> guard(g_guard);
  return g_lock;
}

}  // namespace

bool CreateUiLock() {
  std::lock_guard<std::mutex> guard(g_guard);
  if (!g_lock) g_lock = std::shared_ptr<std::timed_mutex>(new (std::nothrow) std::timed_mutex);
  return g_lock != nullptr;
}

void DeleteUiLock() {
  std::lock_guard<std::mutex> guard(g_guard);
  g_lock.reset();
}

bool UiLockExists() { return Current() != nullptr; }

bool AcquireUiLock(uint32_t timeoutMs) {
  std::shared_ptr<std::timed_mutex> lock = Current();
  return lock && lock->try_lock_for(std::chrono::milliseconds(timeoutMs));
}

void ReleaseUiLock() {
  if (std::shared_ptr<std::timed_mutex> lock = Current()) lock->unlock();
}

}  // namespace qv::startup
