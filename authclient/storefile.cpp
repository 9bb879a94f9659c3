#include "authclient/storefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/paths/paths.h"

namespace kel {
namespace {

std::mutex g_dir_mutex;
std::string g_dir_override;

class LockFile {
 public:
  LockFile(const std::string& dir, bool exclusive) {
    fd_ = ::open((dir + "/store.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
    if (fd_ < 0) return;
    (void)::fchmod(fd_, 0660);  // group members open it read-write; fails harmlessly for non-owners
    struct flock fl {};
    fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    int rc;
    do {
      rc = ::fcntl(fd_, F_OFD_SETLKW, &fl);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~LockFile() {
    if (fd_ >= 0) ::close(fd_);  // closing the description releases the lock
  }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

StoreResult ReadFile(const std::string& path, std::string* text, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return StoreResult::kMissing;
    if (error) *error = path + ": " + std::strerror(errno);
    return StoreResult::kIoError;
  }
  std::string out;
  char buf[8192];
  StoreResult result = StoreResult::kOk;
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = path + ": " + std::strerror(errno);
      result = StoreResult::kIoError;
      break;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
    if (out.size() > (64u << 20)) {
      if (error) *error = path + ": too large";
      result = StoreResult::kCorrupt;
      break;
    }
  }
  ::close(fd);
  if (result == StoreResult::kOk) *text = std::move(out);
  return result;
}

StoreResult WriteAtomically(const std::string& dir, const std::string& text, std::string* error) {
  std::string path = dir + "/store";
  std::string tmp = dir + "/.store.XXXXXX";
  int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = dir + ": " + std::strerror(errno);
    return StoreResult::kIoError;
  }
  bool ok = ::fchmod(fd, 0660) == 0;
  struct stat dst {};
  if (ok && ::stat(dir.c_str(), &dst) == 0) (void)!::fchown(fd, static_cast<uid_t>(-1), dst.st_gid);
  size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (ok && ::fdatasync(fd) != 0) ok = false;
  int saved = errno;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
    saved = errno;
    ok = false;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    if (error) *error = path + ": " + std::strerror(saved);
    return StoreResult::kIoError;
  }
  return StoreResult::kOk;
}

}  // namespace

std::string StoreDir() {
  {
    std::lock_guard<std::mutex> lock(g_dir_mutex);
    if (!g_dir_override.empty()) return g_dir_override;
  }
  return qv::paths::StateDir() + "/tokens";
}

void SetStoreDirForProcess(const std::string& dir) {
  std::lock_guard<std::mutex> lock(g_dir_mutex);
  g_dir_override = dir;
}

StoreResult ReadStore(const std::string& dir, Store* out, std::string* error) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return StoreResult::kMissing;
  LockFile lock(dir, false);
  if (!lock.held()) {
    if (error) *error = dir + "/store.lock: " + std::strerror(errno);
    return StoreResult::kIoError;
  }
  std::string text;
  StoreResult r = ReadFile(dir + "/store", &text, error);
  if (r != StoreResult::kOk) return r;
  if (!ParseStore(text, out, error)) return StoreResult::kCorrupt;
  return StoreResult::kOk;
}

StoreResult UpdateStore(const std::string& dir, const std::function<bool(Store&)>& change, bool create,
                        std::string* error) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) {
    if (!create) return StoreResult::kMissing;
    if (!qv::paths::MakeDirs(dir, 0770) || ::chmod(dir.c_str(), 02770) != 0) {
      if (error) *error = dir + ": " + std::strerror(errno);
      return StoreResult::kIoError;
    }
  }
  LockFile lock(dir, true);
  if (!lock.held()) {
    if (error) *error = dir + "/store.lock: " + std::strerror(errno);
    return StoreResult::kIoError;
  }
  std::string text;
  Store store;
  StoreResult r = ReadFile(dir + "/store", &text, error);
  if (r == StoreResult::kMissing && !create) return r;
  if (r != StoreResult::kOk && r != StoreResult::kMissing) return r;
  if (r == StoreResult::kOk && !ParseStore(text, &store, error)) return StoreResult::kCorrupt;
  if (!change(store)) return StoreResult::kOk;
  return WriteAtomically(dir, SerializeStore(store), error);
}

}  // namespace kel
