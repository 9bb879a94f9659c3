#include "platform/registry/keystore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/paths/paths.h"

namespace qv::reg::store {
namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool IsDir(const std::string& dir) {
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsOwnEntry(const char* name) {
  return name[0] == '@' || (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)));
}

}  // namespace

std::string RootDir() { return qv::paths::EtcDir() + "/registry"; }

LSTATUS FromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_OUTOFMEMORY;
    case ENAMETOOLONG:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_WRITE_FAULT;
  }
}

LSTATUS Load(const std::string& dir, RegSection* section) {
  section->values.clear();
  section->remove = false;
  std::string file = dir + "/" + kValueFile;
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    int err = errno;
    if (err == ENOENT) return IsDir(dir) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    return FromErrno(err);
  }
  std::string text;
  char buf[8192];
  while (true) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FromErrno(errno);
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > kMaxRegTextSize) return ERROR_BADDB;
  }
  std::vector<RegSection> sections;
  std::string error;
  if (!ParseRegText(text, &sections, &error) || sections.size() > 1 ||
      (sections.size() == 1 && sections[0].remove)) {
    return ERROR_BADDB;
  }
  if (sections.empty()) return ERROR_SUCCESS;
  for (const RegValue& v : sections[0].values) {
    if (v.remove) return ERROR_BADDB;
  }
  *section = std::move(sections[0]);
  return ERROR_SUCCESS;
}

KeyLock::~KeyLock() {
  if (fd_ >= 0) ::close(fd_);
}

LSTATUS KeyLock::Acquire(const std::string& dir) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  std::string file = dir + "/" + kLockFile;
  // flock works on a read-only descriptor, so readers of a shared lock file
  // need no write permission on it. Each open is its own file description,
  // which makes the lock exclude threads of this process too.
  Fd fd(::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
  if (fd.get() < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return ERROR_KEY_DELETED;
    return FromErrno(err);
  }
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return FromErrno(errno);
  }
  // A key deleted while we waited has unlinked this lock file.
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || st.st_nlink == 0) return ERROR_KEY_DELETED;
  fd_ = fd.release();
  return ERROR_SUCCESS;
}

LSTATUS Modify(const std::string& dir, const std::string& path,
               const std::function<LSTATUS(RegSection&)>& change) {
  KeyLock lock;
  LSTATUS st = lock.Acquire(dir);
  if (st != ERROR_SUCCESS) return st;

  RegSection section;
  st = Load(dir, &section);
  if (st != ERROR_SUCCESS) return st;
  if (section.path.empty()) section.path = path;
  st = change(section);
  if (st != ERROR_SUCCESS) return st;

  std::string file = dir + "/" + kValueFile;
  struct stat old;
  bool had_old = ::stat(file.c_str(), &old) == 0;

  std::string tmp = file + ".XXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  Fd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.get() < 0) return FromErrno(errno);
  auto fail = [&](LSTATUS why) {
    ::unlink(name.data());
    return why;
  };
  std::string text = FormatSection(section);
  if (!WriteAll(fd.get(), text)) return fail(ERROR_WRITE_FAULT);
  if (had_old) {
    // Owner first: a change of owner may clear mode bits.
    if (::geteuid() == 0 && (old.st_uid != 0 || old.st_gid != 0)) {
      if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0) return fail(ERROR_WRITE_FAULT);
    }
    if (::fchmod(fd.get(), old.st_mode & 07777) != 0) return fail(ERROR_WRITE_FAULT);
  } else {
    ::fchmod(fd.get(), 0644);
  }
  if (::fsync(fd.get()) != 0) return fail(ERROR_WRITE_FAULT);
  if (::close(fd.release()) != 0) return fail(ERROR_WRITE_FAULT);
  if (::rename(name.data(), file.c_str()) != 0) return fail(FromErrno(errno));
  Fd dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dfd.get() >= 0) ::fsync(dfd.get());
  return ERROR_SUCCESS;
}

bool CanRead(const std::string& dir) {
  if (::faccessat(AT_FDCWD, dir.c_str(), R_OK | X_OK, AT_EACCESS) != 0) return false;
  std::string file = dir + "/" + kValueFile;
  if (::faccessat(AT_FDCWD, file.c_str(), R_OK, AT_EACCESS) != 0 && errno != ENOENT) return false;
  return true;
}

bool CanWrite(const std::string& dir) {
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return false;
  std::string file = dir + "/" + kValueFile;
  if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) return false;
  return true;
}

LSTATUS ListSubkeys(const std::string& dir, std::vector<std::string>* names) {
  names->clear();
  DIR* d = ::opendir(dir.c_str());
  if (!d) return errno == ENOENT ? ERROR_KEY_DELETED : FromErrno(errno);
  while (struct dirent* e = ::readdir(d)) {
    if (IsOwnEntry(e->d_name)) continue;
    bool is_dir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN) is_dir = IsDir(dir + "/" + e->d_name);
    if (is_dir) names->emplace_back(e->d_name);
  }
  ::closedir(d);
  std::sort(names->begin(), names->end());
  return ERROR_SUCCESS;
}

bool HasSubkeys(const std::string& dir) {
  std::vector<std::string> names;
  return ListSubkeys(dir, &names) == ERROR_SUCCESS && !names.empty();
}

LSTATUS RemoveKeyDir(const std::string& dir) {
  // A writer may recreate the lock file between the unlinks and the rmdir;
  // it then finds its lock file unlinked and gives up, and we retry.
  for (int attempt = 0; attempt < 20; ++attempt) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return FromErrno(errno);
    std::vector<std::string> own;
    while (struct dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '@') own.emplace_back(e->d_name);
    }
    ::closedir(d);
    for (const std::string& n : own) {
      std::string p = dir + "/" + n;
      if (::unlink(p.c_str()) != 0 && errno != ENOENT) return FromErrno(errno);
    }
    if (::rmdir(dir.c_str()) == 0) return ERROR_SUCCESS;
    if (errno != ENOTEMPTY && errno != EEXIST) return FromErrno(errno);
    if (HasSubkeys(dir)) return ERROR_ACCESS_DENIED;
  }
  return ERROR_ACCESS_DENIED;
}

}  // namespace qv::reg::store
