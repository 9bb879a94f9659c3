#include "runtime/startup/console_control.h"

#include <signal.h>

#include <atomic>
#include <mutex>

namespace qv::startup {
namespace {

constexpr int kMaxHandlers = 16;
constexpr int kSignals[] = {SIGINT, SIGHUP, SIGTERM};

std::mutex g_mutex;  // writers only; the signal handler reads the atomics
std::atomic<ConsoleHandler> g_handlers[kMaxHandlers];
std::atomic<int> g_count{0};
bool g_installed = false;
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]];

uint32_t EventOf(int sig) {
  switch (sig) {
    case SIGINT:
      return kConsoleInterrupt;
    case SIGHUP:
      return kConsoleClose;
    default:
      return kConsoleShutdown;
  }
}

void OnSignal(int sig, siginfo_t* info, void* context) {
  if (DispatchConsoleEvent(EventOf(sig))) return;
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    if (kSignals[i] != sig) continue;
    const struct sigaction& prev = g_previous[i];
    if (prev.sa_flags & SA_SIGINFO) {
      if (prev.sa_sigaction) prev.sa_sigaction(sig, info, context);
    } else if (prev.sa_handler == SIG_DFL) {
      // As if never caught: the default action, then ours again.
      signal(sig, SIG_DFL);
      raise(sig);
    } else if (prev.sa_handler != SIG_IGN && prev.sa_handler) {
      prev.sa_handler(sig);
    }
    return;
  }
}

void InstallOnce() {
  if (g_installed) return;
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
    struct sigaction act {};
    act.sa_sigaction = OnSignal;
    act.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&act.sa_mask);
    sigaction(kSignals[i], &act, &g_previous[i]);
  }
  g_installed = true;
}

}  // namespace

bool AddConsoleHandler(ConsoleHandler handler) {
  if (!handler) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  const int n = g_count.load();
  for (int i = 0; i < n; ++i)
    if (g_handlers[i].load() == handler) return true;
  if (n == kMaxHandlers) return false;
  g_handlers[n].store(handler);
  g_count.store(n + 1);
  InstallOnce();
  return true;
}

bool RemoveConsoleHandler(ConsoleHandler handler) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const int n = g_count.load();
  for (int i = 0; i < n; ++i) {
    if (g_handlers[i].load() != handler) continue;
    for (int j = i; j + 1 < n; ++j) g_handlers[j].store(g_handlers[j + 1].load());
    g_count.store(n - 1);
    return true;
  }
  return false;
}

bool HasConsoleHandler(ConsoleHandler handler) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (int i = 0; i < g_count.load(); ++i)
    if (g_handlers[i].load() == handler) return true;
  return false;
}

int DispatchConsoleEvent(uint32_t event) {
  for (int i = g_count.load() - 1; i >= 0; --i) {
    ConsoleHandler h = g_handlers[i].load();
    if (h && h(event)) return 1;
  }
  return 0;
}

}  // namespace qv::startup
