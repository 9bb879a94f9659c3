#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/registry/keystore.h"
#include "platform/registry/registry.h"

namespace qv::reg {
namespace {

// Watches the key's directory: the value file is replaced by rename, so a
// watch on the file itself would end at the first write.
constexpr uint32_t kMask = IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM |
                           IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

KeyWatch::~KeyWatch() { Close(); }

void KeyWatch::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  wd_ = -1;
  gone_ = false;
}

LSTATUS KeyWatch::Open(HKEY key) {
  Close();
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_NOTIFY)) return ERROR_ACCESS_DENIED;
  std::string dir = key->predefined ? store::RootDir() : key->dir;
  int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return store::FromErrno(errno);
  int wd = ::inotify_add_watch(fd, dir.c_str(), kMask);
  if (wd < 0) {
    int err = errno;
    ::close(fd);
    return err == ENOENT ? ERROR_KEY_DELETED : store::FromErrno(err);
  }
  fd_ = fd;
  wd_ = wd;
  return ERROR_SUCCESS;
}

KeyWatch::Result KeyWatch::Wait(int timeout_ms, int stop_fd) {
  if (fd_ < 0) return Result::kError;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  while (true) {
    if (gone_) return Result::kError;
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    struct pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    int n = ::poll(fds, stop_fd >= 0 ? 2 : 1, wait_ms);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Result::kError;
    }
    if (stop_fd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) return Result::kStopped;
    if (n == 0) return Result::kTimeout;
    if (!(fds[0].revents & POLLIN)) return Result::kError;

    bool changed = false;
    bool lost = false;
    alignas(struct inotify_event) char buf[8192];
    while (true) {
      ssize_t len = ::read(fd_, buf, sizeof buf);
      if (len < 0 && errno == EINTR) continue;
      if (len <= 0) break;
      for (ssize_t off = 0; off < len;) {
        const auto* ev = reinterpret_cast<const struct inotify_event*>(buf + off);
        off += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
        if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_Q_OVERFLOW)) {
          // The key is gone (or events were lost): report one change first.
          changed = true;
          if (!(ev->mask & IN_Q_OVERFLOW)) lost = true;
          continue;
        }
        if (ev->mask & IN_ISDIR) continue;  // subkeys
        if (ev->len && std::strcmp(ev->name, store::kValueFile) == 0) changed = true;
      }
    }
    // A deleted key is reported as a change now and as an error afterwards.
    if (lost) gone_ = true;
    if (changed) return Result::kChanged;
  }
}

}  // namespace qv::reg
