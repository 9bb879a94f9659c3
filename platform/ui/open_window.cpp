#include "platform/ui/open_window.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>

namespace qv::ui {
namespace {

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}

std::multimap<ThreadKey, internal::OpenWindow*>& Registry() {
  static auto* registry = new std::multimap<ThreadKey, internal::OpenWindow*>();
  return *registry;
}

}  // namespace

ThreadKey CurrentThreadKey() { return static_cast<ThreadKey>(::syscall(SYS_gettid)); }

int CloseThreadWindows(ThreadKey thread) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  int count = 0;
  auto range = Registry().equal_range(thread);
  for (auto it = range.first; it != range.second; ++it) {
    it->second->RequestClose();
    ++count;
  }
  return count;
}

DialogScope::DialogScope() : window_(new internal::OpenWindow()) {}

DialogScope::~DialogScope() { delete static_cast<internal::OpenWindow*>(window_); }

bool DialogScope::Closed() const { return static_cast<internal::OpenWindow*>(window_)->Closed(); }

namespace internal {

OpenWindow::OpenWindow() : thread_(CurrentThreadKey()) {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipe_[0] = pipe_[1] = -1;
  }
  std::lock_guard<std::mutex> guard(RegistryLock());
  Registry().emplace(thread_, this);
}

OpenWindow::~OpenWindow() {
  {
    std::lock_guard<std::mutex> guard(RegistryLock());
    auto range = Registry().equal_range(thread_);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == this) {
        Registry().erase(it);
        break;
      }
    }
  }
  if (pipe_[0] >= 0) ::close(pipe_[0]);
  if (pipe_[1] >= 0) ::close(pipe_[1]);
}

void OpenWindow::RequestClose() {
  closed_.store(true);
  if (pipe_[1] >= 0) {
    char byte = 1;
    ssize_t ignored = ::write(pipe_[1], &byte, 1);
    (void)ignored;
  }
}

uint32_t EffectiveTimeout(uint32_t seconds) {
  if (seconds == 0) return 0;
  const char* text = std::getenv("TAVRIK_UI_TIMEOUT");
  if (text == nullptr || *text == '\0') return seconds;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || value == 0 || value > 86400) return seconds;
  return static_cast<uint32_t>(value);
}

}  // namespace internal
}  // namespace qv::ui
