#include "runtime/message/socketpair_session.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace qv::netmsg {

SocketSession::~SocketSession() { Close(); }

void SocketSession::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

long SocketSession::Read(void* buffer, size_t size) {
  ssize_t n;
  do {
    n = ::recv(fd_, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

long SocketSession::Write(const void* buffer, size_t size) {
  return WriteAll(fd_, buffer, size) ? static_cast<long>(size) : -1;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool MakeSocketSessionPair(SocketSessionPair& pair) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  pair.a = std::make_unique<SocketSession>(fds[0]);
  pair.b = std::make_unique<SocketSession>(fds[1]);
  return true;
}

}  // namespace qv::netmsg
