#include "platform/resolver/netsock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace qv::net {
namespace {

int WaitFor(int fd, short events, int timeout_ms) {
  pollfd p{fd, events, 0};
  for (;;) {
    int rc = poll(&p, 1, timeout_ms);
    if (rc > 0) return 0;
    if (rc == 0) return ETIMEDOUT;
    if (errno != EINTR) return errno;
  }
}

}  // namespace

int Startup() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction old {};
    if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
      signal(SIGPIPE, SIG_IGN);
    }
  });
  return 0;
}

int TcpSocket(int* fd) {
  *fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (*fd < 0) return errno;
  int one = 1;
  setsockopt(*fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return 0;
}

int Connect(int fd, uint32_t address, uint16_t port, int timeout_ms) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = address;
  if (timeout_ms < 0) {
    while (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      if (errno != EINTR) return errno;
    }
    return 0;
  }
  if (int rc = SetNonBlocking(fd, true)) return rc;
  int rc = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    rc = errno;
    if (rc == EINPROGRESS || rc == EINTR) {
      rc = WaitFor(fd, POLLOUT, timeout_ms);
      if (rc == 0) {
        int err = 0;
        socklen_t len = sizeof err;
        rc = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 ? errno : err;
      }
    }
  }
  int rc2 = SetNonBlocking(fd, false);
  return rc ? rc : rc2;
}

int Bind(int fd, uint32_t address, uint16_t port) {
  int one = 1;
  // Lets a restarted service bind while old connections linger; an active
  // listener on the port still makes bind fail.
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = address;
  return bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0 : errno;
}

int Listen(int fd, int backlog) { return listen(fd, backlog) == 0 ? 0 : errno; }

int Accept(int fd, int* conn, uint32_t* peer_address) {
  for (;;) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int c = accept4(fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    if (c >= 0) {
      int one = 1;
      setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      *conn = c;
      *peer_address = sa.sin_family == AF_INET ? sa.sin_addr.s_addr : 0;
      return 0;
    }
    // A connection that was reset while queued is not a failure of the listener.
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return errno;
  }
}

int LocalPort(int fd, uint16_t* port) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return errno;
  *port = ntohs(sa.sin_port);
  return 0;
}

int SetNonBlocking(int fd, bool on) {
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return errno;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0 ? 0 : errno;
}

int WaitReadable(int fd, int timeout_ms) { return WaitFor(fd, POLLIN, timeout_ms); }
int WaitWritable(int fd, int timeout_ms) { return WaitFor(fd, POLLOUT, timeout_ms); }

void Shutdown(int fd) {
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

void Close(int fd) {
  if (fd >= 0) close(fd);
}

bool IsWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
bool IsAddressInUse(int error) { return error == EADDRINUSE; }

}  // namespace qv::net
