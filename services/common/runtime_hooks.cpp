#include "services/common/runtime_hooks.h"

#include <dlfcn.h>

#include <cstdint>

namespace qv::services {

namespace {

constexpr uint32_t kLogoffEvent = 5;

template <typename Fn>
Fn Lookup(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, name));
}

}  // namespace

bool StopListening() {
  static auto stop = Lookup<void (*)()>("SMStopListening");
  if (stop == nullptr) return false;
  stop();
  return true;
}

bool DispatchLogoff() {
  static auto handler = Lookup<int (*)(uint32_t)>("ConsoleCtrlHandler");
  if (handler == nullptr) return false;
  (void)handler(kLogoffEvent);
  return true;
}

}  // namespace qv::services
