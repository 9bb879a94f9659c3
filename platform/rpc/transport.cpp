// Unix-domain socket transport: framing, server loop, client call.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "platform/paths/paths.h"
#include "platform/rpc/rpc.h"
#include "platform/rpc/rpc_internal.h"

namespace qv::rpc {
namespace {

constexpr int kBacklog = 16;

int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void WipeVector(std::vector<uint8_t>* v) {
  volatile uint8_t* p = v->data();
  for (size_t i = 0; i < v->size(); ++i) p[i] = '*';
  v->clear();
}

// Waits until `fd` is ready for `events` or the deadline passes.
uint32_t WaitReady(int fd, short events, int64_t deadline) {
  for (;;) {
    int64_t left = deadline - NowMs();
    if (left <= 0) return kRpcCallTimeout;
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, static_cast<int>(left));
    if (r > 0) return kRpcOk;
    if (r == 0) return kRpcCallTimeout;
    if (errno != EINTR) return kRpcCallFailed;
  }
}

uint32_t WriteAll(int fd, const uint8_t* p, size_t n, int64_t deadline) {
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w > 0) {
      p += w;
      n -= static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      uint32_t s = WaitReady(fd, POLLOUT, deadline);
      if (s != kRpcOk) return s;
      continue;
    }
    return kRpcCallFailed;
  }
  return kRpcOk;
}

// Reads exactly n bytes; kRpcCallFailed on a closed connection.
uint32_t ReadAll(int fd, uint8_t* p, size_t n, int64_t deadline) {
  while (n > 0) {
    ssize_t r = ::recv(fd, p, n, MSG_DONTWAIT);
    if (r > 0) {
      p += r;
      n -= static_cast<size_t>(r);
      continue;
    }
    if (r == 0) return kRpcCallFailed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      uint32_t s = WaitReady(fd, POLLIN, deadline);
      if (s != kRpcOk) return s;
      continue;
    }
    return kRpcCallFailed;
  }
  return kRpcOk;
}

uint32_t WriteFrame(int fd, const std::vector<uint8_t>& body, int64_t deadline) {
  if (body.size() > kMaxFrame) return kRpcProtocolError;
  uint8_t head[4];
  for (int i = 0; i < 4; ++i) head[i] = static_cast<uint8_t>(body.size() >> (8 * i));
  uint32_t s = WriteAll(fd, head, sizeof head, deadline);
  return s == kRpcOk ? WriteAll(fd, body.data(), body.size(), deadline) : s;
}

uint32_t ReadFrame(int fd, std::vector<uint8_t>* body, int64_t deadline) {
  uint8_t head[4];
  uint32_t s = ReadAll(fd, head, sizeof head, deadline);
  if (s != kRpcOk) return s;
  const uint32_t n = static_cast<uint32_t>(head[0]) | static_cast<uint32_t>(head[1]) << 8 |
                     static_cast<uint32_t>(head[2]) << 16 | static_cast<uint32_t>(head[3]) << 24;
  if (n > kMaxFrame) return kRpcProtocolError;
  body->assign(n, 0);
  s = ReadAll(fd, body->data(), n, deadline);
  if (s != kRpcOk) WipeVector(body);
  return s;
}

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr->sun_path) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool IsEndpointChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

}  // namespace

struct Server {
  std::string path;
  unsigned maxCalls = kDefaultMaxCalls;
  int requestTimeoutMs = kDefaultRequestTimeoutMs;
  int fd = -1;
  int wake[2] = {-1, -1};
  bool bound = false;
  dev_t dev = 0;  // identity of the socket file we bound
  ino_t ino = 0;
  Handler handler = nullptr;
  void* arg = nullptr;
  std::thread acceptor;
  std::atomic<bool> stopping{false};
  std::mutex mutex;
  std::condition_variable cv;
  unsigned inFlight = 0;
};

std::string EndpointPath(const std::string& endpoint) {
  if (endpoint.empty() || endpoint.size() > 64) return {};
  std::string name;
  for (char c : endpoint) name.push_back(IsEndpointChar(c) ? c : '_');
  std::string path = qv::paths::RunDir() + "/" + name + ".sock";
  sockaddr_un addr;
  return FillAddress(path, &addr) ? path : std::string();
}

namespace {

void ServeOne(Server* server, int fd) {
  CallContext call{fd};
  std::vector<uint8_t> request, reply;
  const int64_t deadline = NowMs() + server->requestTimeoutMs;
  if (ReadFrame(fd, &request, deadline) == kRpcOk &&
      server->handler(&call, request, &reply, server->arg)) {
    // The answer goes out within its own bound.
    WriteFrame(fd, reply, NowMs() + server->requestTimeoutMs);
  }
  WipeVector(&request);
  WipeVector(&reply);
  ::close(fd);
  std::lock_guard<std::mutex> lock(server->mutex);
  --server->inFlight;
  server->cv.notify_all();
}

void AcceptLoop(Server* server) {
  for (;;) {
    {
      // A free call slot first; connections meanwhile wait in the queue.
      std::unique_lock<std::mutex> lock(server->mutex);
      server->cv.wait(lock, [&] { return server->stopping.load() || server->inFlight < server->maxCalls; });
    }
    if (server->stopping.load()) return;
    pollfd p[2] = {{server->fd, POLLIN, 0}, {server->wake[0], POLLIN, 0}};
    int r = ::poll(p, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || server->stopping.load() || (p[1].revents & POLLIN)) return;
    if (!(p[0].revents & POLLIN)) continue;
    int fd = ::accept4(server->fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) ::usleep(10000);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(server->mutex);
      ++server->inFlight;
    }
    try {
      std::thread(ServeOne, server, fd).detach();
    } catch (...) {
      ::close(fd);
      std::lock_guard<std::mutex> lock(server->mutex);
      --server->inFlight;
      server->cv.notify_all();
    }
  }
}

}  // namespace

uint32_t CreateServer(const std::string& endpoint, unsigned maxCalls, Server** out) {
  *out = nullptr;
  const std::string path = EndpointPath(endpoint);
  if (path.empty() || maxCalls == 0) return kRpcInvalidEndpoint;
  if (!qv::paths::MakeDirs(qv::paths::RunDir(), 0755)) return kRpcInvalidEndpoint;
  auto* server = new (std::nothrow) Server;
  if (!server) return kRpcOutOfResources;
  server->path = path;
  server->maxCalls = maxCalls;
  server->fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (server->fd < 0 || ::pipe2(server->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    DestroyServer(server);
    return kRpcOutOfResources;
  }
  *out = server;
  return kRpcOk;
}

uint32_t RegisterEndpoint(Server* server) {
  if (!server) return kRpcInvalidEndpoint;
  if (server->bound) return kRpcOk;
  sockaddr_un addr;
  if (!FillAddress(server->path, &addr)) return kRpcInvalidEndpoint;
  // Others may connect; the socket file's mode is set through the umask at bind.
  const mode_t old = ::umask(0);
  int r = ::bind(server->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int err = errno;
  ::umask(old);
  if (r != 0 && err == EADDRINUSE) {
    // A server that is gone leaves its file behind; a live one answers.
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return kRpcOutOfResources;
    const bool live = ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    const int probeErr = errno;
    ::close(probe);
    if (live || probeErr != ECONNREFUSED) return kRpcDuplicateEndpoint;
    ::unlink(server->path.c_str());
    const mode_t again = ::umask(0);
    r = ::bind(server->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    err = errno;
    ::umask(again);
  }
  if (r != 0) return err == EADDRINUSE ? kRpcDuplicateEndpoint : kRpcInvalidEndpoint;
  struct stat st{};
  if (::chmod(server->path.c_str(), 0666) != 0 || ::stat(server->path.c_str(), &st) != 0) {
    ::unlink(server->path.c_str());
    return kRpcSecurityFailed;
  }
  server->dev = st.st_dev;
  server->ino = st.st_ino;
  server->bound = true;
  if (::listen(server->fd, kBacklog) != 0) return kRpcOutOfResources;
  return kRpcOk;
}

uint32_t StartListening(Server* server, Handler handler, void* arg) {
  if (!server || !handler) return kRpcInvalidEndpoint;
  if (!server->bound) return kRpcNotListening;
  if (server->acceptor.joinable()) return kRpcAlreadyListening;
  server->handler = handler;
  server->arg = arg;
  server->stopping = false;
  char drain[16];
  while (::read(server->wake[0], drain, sizeof drain) > 0) {
  }
  try {
    server->acceptor = std::thread(AcceptLoop, server);
  } catch (...) {
    return kRpcOutOfResources;
  }
  return kRpcOk;
}

uint32_t StopListening(Server* server) {
  if (!server) return kRpcNotListening;
  uint32_t status = kRpcNotListening;
  if (server->acceptor.joinable()) {
    server->stopping = true;
    const char byte = 1;
    (void)!::write(server->wake[1], &byte, 1);
    server->cv.notify_all();
    server->acceptor.join();
    // Calls in progress end within their request and answer bounds.
    std::unique_lock<std::mutex> lock(server->mutex);
    server->cv.wait(lock, [&] { return server->inFlight == 0; });
    status = kRpcOk;
  }
  if (server->bound) {
    // Only our own file: a newer server may have replaced it.
    struct stat st{};
    if (::stat(server->path.c_str(), &st) == 0 && st.st_dev == server->dev && st.st_ino == server->ino)
      ::unlink(server->path.c_str());
    server->bound = false;
  }
  if (server->fd >= 0) {
    ::close(server->fd);
    server->fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  }
  return status;
}

void DestroyServer(Server* server) {
  if (!server) return;
  StopListening(server);
  if (server->fd >= 0) ::close(server->fd);
  for (int fd : server->wake)
    if (fd >= 0) ::close(fd);
  delete server;
}

void SetRequestTimeoutForTest(Server* server, int milliseconds) {
  if (server) server->requestTimeoutMs = milliseconds;
}

uint32_t Call(const std::string& endpoint, const std::vector<uint8_t>& request,
              std::vector<uint8_t>* reply, int timeoutMs) {
  reply->clear();
  sockaddr_un addr;
  const std::string path = EndpointPath(endpoint);
  if (path.empty() || !FillAddress(path, &addr)) return kRpcInvalidEndpoint;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kRpcOutOfResources;
  uint32_t status = kRpcOk;
  // Connecting to a server whose queue is full waits at most the timeout.
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  int r;
  do {
    r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    status = (errno == EAGAIN || errno == EINPROGRESS) ? kRpcCallTimeout : kRpcServerUnavailable;
  }
  const int64_t deadline = NowMs() + timeoutMs;
  if (status == kRpcOk) status = WriteFrame(fd, request, deadline);
  if (status == kRpcOk) status = ReadFrame(fd, reply, deadline);
  ::close(fd);
  return status;
}

}  // namespace qv::rpc
