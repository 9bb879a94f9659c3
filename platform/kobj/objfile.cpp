#include "platform/kobj/objfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/kobj/names.h"
#include "platform/paths/paths.h"

namespace qv::kobj::internal {
namespace {

const char* KindPrefix(Kind kind) {
  switch (kind) {
    case Kind::Mutex: return "mutex";
    case Kind::Event: return "event";
    case Kind::Semaphore: return "sem";
    case Kind::Memory: return "shm";
  }
  return "obj";
}

OpenStatus FromErrno(int err) {
  switch (err) {
    case ENOENT: return OpenStatus::NotFound;
    case EACCES:
    case EPERM:
    case EROFS: return OpenStatus::AccessDenied;
    default: return OpenStatus::Failed;
  }
}

// True when an open file description other than fd's holds the byte.
bool HeldByOthers(int fd, long offset) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = 1;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;  // fail towards "exists"
  return fl.l_type != F_UNLCK;
}

// The path still names the file open on fd (it may have been removed by the
// last closer between our open and our guard).
bool StillLinked(int fd, const std::string& path, struct stat* st) {
  struct stat by_path {};
  if (::fstat(fd, st) != 0 || st->st_nlink == 0) return false;
  if (::lstat(path.c_str(), &by_path) != 0) return false;
  return by_path.st_dev == st->st_dev && by_path.st_ino == st->st_ino;
}

void RemoveIfSame(int fd, const std::string& path) {
  struct stat st {};
  if (StillLinked(fd, path, &st)) ::unlink(path.c_str());
}

int OpenControlFile(const std::string& path, bool create, unsigned mode, int* err) {
  const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
  if (create) {
    int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
    if (fd >= 0) {
      ::fchmod(fd, mode);  // not narrowed by the umask
      return fd;
    }
    if (errno != EEXIST) {
      *err = errno;
      return -1;
    }
  }
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) *err = errno;
  return fd;
}

}  // namespace

unsigned ModeFor(Access access) {
  switch (access) {
    case Access::Owner: return 0600;
    case Access::Group: return 0660;
    case Access::Everyone: return 0666;
  }
  return 0600;
}

bool LockByte(int fd, short type, long offset, bool wait) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = 1;
  for (;;) {
    if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void UnlockByte(int fd, long offset) { LockByte(fd, F_UNLCK, offset, false); }

int ReopenObjFile(const std::string& path, std::uint64_t dev, std::uint64_t ino) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_dev != dev || st.st_ino != ino) {
    ::close(fd);
    return -1;
  }
  return fd;
}

OpenStatus OpenObjFile(Kind kind, std::string_view name, bool create, Access access,
                       const UnderGuard& under_guard, ObjFile& out) {
  out = ObjFile{};
  if (name.empty()) return OpenStatus::InvalidName;
  const std::string dir = ObjectDir();
  if (create && !qv::paths::MakeDirs(dir, 0755))
    return errno == EACCES || errno == EPERM || errno == EROFS ? OpenStatus::AccessDenied : OpenStatus::Failed;
  const std::string path = ControlPath(KindPrefix(kind), EncodeName(name));
  const unsigned mode = ModeFor(access);

  // Retried only when the file was removed by a last closer under our feet.
  for (int attempt = 0; attempt < 100; ++attempt) {
    int err = 0;
    int fd = OpenControlFile(path, create, mode, &err);
    if (fd < 0) {
      if (err == ENOENT && create) continue;
      return FromErrno(err);
    }
    if (!LockByte(fd, F_WRLCK, kGuardByte, true)) {
      ::close(fd);
      return OpenStatus::Failed;
    }
    struct stat st {};
    if (!StillLinked(fd, path, &st)) {
      ::close(fd);
      continue;
    }
    const bool exists = HeldByOthers(fd, kPresenceByte);
    if (!exists && !create) {
      ::unlink(path.c_str());  // stale file of a vanished object
      ::close(fd);
      return OpenStatus::NotFound;
    }
    if (!exists) {
      ::fchmod(fd, mode);  // a stale file keeps no mode of an earlier creator
      if (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, kBlockFileSize) != 0) {
        const int err = errno;
        ::close(fd);
        return FromErrno(err);
      }
    } else if (static_cast<std::size_t>(st.st_size) < kBlockFileSize) {
      ::close(fd);
      return OpenStatus::Failed;
    }
    void* map = ::mmap(nullptr, kBlockFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
      if (!exists) ::unlink(path.c_str());
      ::close(fd);
      return OpenStatus::Failed;
    }
    auto* block = static_cast<Block*>(map);
    if (!exists) {
      block->kind = static_cast<std::uint32_t>(kind);
      std::atomic_ref<std::uint32_t>(block->magic).store(kBlockMagic);
    } else if (std::atomic_ref<std::uint32_t>(block->magic).load() != kBlockMagic ||
               block->kind != static_cast<std::uint32_t>(kind)) {
      ::munmap(map, kBlockFileSize);
      ::close(fd);
      return OpenStatus::Failed;
    }
    if (!LockByte(fd, F_RDLCK, kPresenceByte, false)) {
      ::munmap(map, kBlockFileSize);
      if (!exists) ::unlink(path.c_str());
      ::close(fd);
      return OpenStatus::Failed;
    }

    ObjFile file;
    file.fd = fd;
    file.dev = st.st_dev;
    file.ino = st.st_ino;
    file.path = path;
    file.block = block;
    OpenStatus status = !exists ? OpenStatus::Created : create ? OpenStatus::AlreadyExists : OpenStatus::Opened;
    if (under_guard) {
      const OpenStatus s = under_guard(file, !exists);
      if (!IsOpen(s)) status = s;
    }
    if (!IsOpen(status)) {
      ::munmap(map, kBlockFileSize);
      UnlockByte(fd, kPresenceByte);
      if (!HeldByOthers(fd, kPresenceByte)) ::unlink(path.c_str());
      ::close(fd);
      return status;
    }
    UnlockByte(fd, kGuardByte);
    out = std::move(file);
    return status;
  }
  return OpenStatus::Failed;
}

void CloseObjFile(ObjFile& file, const std::function<void()>& on_last) {
  if (file.block) ::munmap(file.block, kBlockFileSize);
  file.block = nullptr;
  if (file.fd < 0) return;
  if (LockByte(file.fd, F_WRLCK, kGuardByte, true)) {
    UnlockByte(file.fd, kPresenceByte);
    if (!HeldByOthers(file.fd, kPresenceByte)) {
      if (on_last) on_last();
      RemoveIfSame(file.fd, file.path);
    }
  }
  ::close(file.fd);  // drops every lock of this description
  file.fd = -1;
  file.path.clear();
}

}  // namespace qv::kobj::internal
