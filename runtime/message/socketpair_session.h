// A QVNetSession over a plain stream socket, and a connected pair of them,
// for tests and benchmarks of code that talks over sessions.
#pragma once

#include <cstddef>
#include <memory>

#include "qvnetmsg.h"

namespace qv::netmsg {

class SocketSession : public QVNetSession {
 public:
  // Takes ownership of `fd` (closed by the destructor).
  explicit SocketSession(int fd) : fd_(fd) {}
  ~SocketSession() override;
  SocketSession(const SocketSession&) = delete;
  SocketSession& operator=(const SocketSession&) = delete;

  long Read(void* buffer, size_t size) override;
  long Write(const void* buffer, size_t size) override;
  size_t Pending() override { return 0; }

  int Socket() const { return fd_; }
  // Closes the socket now; the peer sees the session end.
  void Close();

 private:
  int fd_;
};

struct SocketSessionPair {
  std::unique_ptr<SocketSession> a;
  std::unique_ptr<SocketSession> b;
};

// A connected pair (AF_UNIX stream). False when the system refuses one.
bool MakeSocketSessionPair(SocketSessionPair& pair);

// Writes raw bytes to a socket (for feeding a peer a hand-made byte stream).
bool WriteAll(int fd, const void* data, size_t size);

}  // namespace qv::netmsg
