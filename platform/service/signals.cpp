// Control requests taken synchronously from blocked signals.
#include <signal.h>
#include <time.h>

#include <cerrno>

#include "platform/service/service.h"

namespace qv::service {

namespace {

sigset_t ControlSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

int BlockControlSignals() {
  sigset_t set = ControlSet();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

Control WaitControl(int timeoutMs) {
  sigset_t set = ControlSet();
  int sig;
  if (timeoutMs < 0) {
    do sig = sigwaitinfo(&set, nullptr);
    while (sig < 0 && errno == EINTR);
  } else {
    timespec ts{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
    do sig = sigtimedwait(&set, nullptr, &ts);
    while (sig < 0 && errno == EINTR);
  }
  switch (sig) {
    case SIGTERM:
    case SIGINT:
      return Control::kStop;
    case SIGUSR1:
      return Control::kSessionEnd;
    case SIGHUP:
      return Control::kInterrogate;
    default:
      return Control::kNone;
  }
}

}  // namespace qv::service
