#include <poll.h>
#include <time.h>

#include <cerrno>

#include "runtime/message/socket_wait.h"

namespace qv::netmsg {

WaitResult WaitReadable(int socket, int timeoutMs) {
  if (socket < 0) return WaitResult::kError;
  pollfd fd{socket, POLLIN, 0};
  int n;
  do {
    n = ::poll(&fd, 1, timeoutMs);
  } while (n < 0 && errno == EINTR);
  if (n < 0 || (n > 0 && (fd.revents & POLLNVAL))) return WaitResult::kError;
  if (n == 0) return WaitResult::kTimeout;
  return WaitResult::kReadable;
}

long long MonotonicSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec;
}

}  // namespace qv::netmsg
