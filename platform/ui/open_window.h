// Registry of the message boxes and dialogs open on each thread, so that
// another thread can close them.
#pragma once

#include <atomic>

#include "platform/ui/ui.h"

namespace qv::ui::internal {

// Registers one open window of the calling thread for its lifetime.
class OpenWindow {
 public:
  OpenWindow();
  ~OpenWindow();
  OpenWindow(const OpenWindow&) = delete;
  OpenWindow& operator=(const OpenWindow&) = delete;

  // True once CloseThreadWindows reached this window.
  bool Closed() const { return closed_.load(); }
  // Becomes readable when the window is closed (-1 when no pipe could be made;
  // Closed() still works then).
  int WakeFd() const { return pipe_[0]; }

  void RequestClose();

 private:
  ThreadKey thread_;
  std::atomic<bool> closed_{false};
  int pipe_[2] = {-1, -1};
};

// The time-out in force for a requested one: TAVRIK_UI_TIMEOUT replaces every
// non-zero time-out.
uint32_t EffectiveTimeout(uint32_t seconds);

}  // namespace qv::ui::internal
