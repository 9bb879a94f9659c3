// One instance per root: an exclusive open-file-description lock on a pid
// file under RunDir(). The kernel drops the lock when the holder dies, so a
// stale file never blocks a start.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/paths/paths.h"
#include "platform/service/service.h"

namespace qv::service {

namespace {

std::string LockPath(const std::string& name) { return qv::paths::RunDir() + "/" + name + ".pid"; }

struct flock WholeFile(short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  return fl;
}

}  // namespace

InstanceLock::~InstanceLock() { Release(); }

int InstanceLock::Acquire(const std::string& name) {
  if (fd_ >= 0) return EALREADY;
  if (!qv::paths::MakeDirs(qv::paths::RunDir())) return errno ? errno : EACCES;
  std::string path = LockPath(name);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  struct flock fl = WholeFile(F_WRLCK);
  if (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    int err = errno;
    close(fd);
    return (err == EAGAIN || err == EACCES) ? EEXIST : err;
  }
  char text[32];
  int n = std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
  if (ftruncate(fd, 0) != 0 || pwrite(fd, text, static_cast<size_t>(n), 0) != n) {
    int err = errno ? errno : EIO;
    close(fd);
    return err;
  }
  fd_ = fd;
  path_ = path;
  return 0;
}

void InstanceLock::Release() {
  if (fd_ < 0) return;
  // Empty the file before the lock goes, so a reader never finds our pid
  // in an unlocked file.
  (void)ftruncate(fd_, 0);
  close(fd_);
  fd_ = -1;
}

pid_t RunningInstance(const std::string& name) {
  int fd = open(LockPath(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct flock fl = WholeFile(F_WRLCK);
  pid_t pid = 0;
  if (fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK) {
    char text[32] = {};
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n > 0) {
      char* end = nullptr;
      long value = std::strtol(text, &end, 10);
      if (end != text && value > 0) pid = static_cast<pid_t>(value);
    }
  }
  close(fd);
  return pid;
}

int SignalInstance(const std::string& name, int sig, int waitMs) {
  pid_t pid = RunningInstance(name);
  if (pid <= 0) return ESRCH;
  if (kill(pid, sig) != 0) return errno;
  if (sig != SIGTERM && sig != SIGINT) return 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (RunningInstance(name) == pid) {
    if (std::chrono::steady_clock::now() >= deadline) return ETIMEDOUT;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return 0;
}

}  // namespace qv::service
