#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <limits>

#include "platform/kobj/kobj.h"
#include "platform/kobj/names.h"
#include "platform/kobj/objfile.h"

namespace qv::kobj {
namespace {

// Opens (or, for a new object, recreates zero-filled) the segment of an
// object whose control file is held under its guard.
OpenStatus OpenSegment(const std::string& shm_name, internal::Block& block, bool is_new, std::size_t size,
                       Access access, int* shm_fd, std::size_t* actual) {
  if (is_new) {
    const unsigned mode = internal::ModeFor(access);
    // A segment left by a process that died is replaced, never reused: /dev/shm
    // is writable by everybody, and a planted one could be held open by its
    // maker.
    ::shm_unlink(shm_name.c_str());
    int fd = ::shm_open(shm_name.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
    if (fd < 0) return errno == EACCES ? OpenStatus::AccessDenied : OpenStatus::Failed;
    ::fchmod(fd, mode);
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
      ::close(fd);
      ::shm_unlink(shm_name.c_str());
      return OpenStatus::Failed;
    }
    block.memory_size = size;
    *shm_fd = fd;
    *actual = size;
    return OpenStatus::Created;
  }
  int fd = ::shm_open(shm_name.c_str(), O_RDWR, 0);
  if (fd < 0) return errno == EACCES ? OpenStatus::AccessDenied : OpenStatus::Failed;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || block.memory_size == 0 ||
      static_cast<std::uint64_t>(st.st_size) != block.memory_size) {
    ::close(fd);
    return OpenStatus::Failed;
  }
  *shm_fd = fd;
  *actual = static_cast<std::size_t>(block.memory_size);
  return OpenStatus::AlreadyExists;
}

// Creates (size and access apply to a new object) or opens the object's
// control file and segment and, when that succeeds, stores them in the
// handle's fields (which must be closed). Open answers Opened where Create
// answers AlreadyExists.
OpenStatus OpenMemory(std::string_view name, bool create, std::size_t size, Access access, int& fd,
                      int& shm_fd, std::string& path, std::string& shm_name,
                      std::size_t& actual_size) {
  const std::string segment = internal::SegmentName(internal::EncodeName(name));
  int segment_fd = -1;
  std::size_t actual = 0;
  internal::ObjFile file;
  const OpenStatus s = internal::OpenObjFile(
      internal::Kind::Memory, name, create, access,
      [&](internal::ObjFile& f, bool is_new) {
        const OpenStatus seg =
            OpenSegment(segment, *f.block, is_new, size, access, &segment_fd, &actual);
        return !create && seg == OpenStatus::AlreadyExists ? OpenStatus::Opened : seg;
      },
      file);
  if (!IsOpen(s)) return s;
  ::munmap(file.block, internal::kBlockFileSize);  // the state is only needed while opening
  fd = file.fd;
  shm_fd = segment_fd;
  path = std::move(file.path);
  shm_name = segment;
  actual_size = actual;
  return s;
}

}  // namespace

SharedView::~SharedView() { Unmap(); }

SharedView::SharedView(SharedView&& other) noexcept { *this = std::move(other); }

SharedView& SharedView::operator=(SharedView&& other) noexcept {
  if (this != &other) {
    Unmap();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void SharedView::Unmap() {
  if (data_) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

SharedMemory::~SharedMemory() { Close(); }

SharedMemory::SharedMemory(SharedMemory&& other) noexcept { *this = std::move(other); }

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    shm_fd_ = std::exchange(other.shm_fd_, -1);
    path_ = std::move(other.path_);
    other.path_.clear();
    shm_name_ = std::move(other.shm_name_);
    other.shm_name_.clear();
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

OpenStatus SharedMemory::Create(std::string_view name, std::size_t size, Access access) {
  Close();
  if (size == 0 || size > static_cast<std::size_t>(std::numeric_limits<off_t>::max()))
    return OpenStatus::InvalidArgument;
  return OpenMemory(name, true, size, access, fd_, shm_fd_, path_, shm_name_, size_);
}

OpenStatus SharedMemory::Open(std::string_view name) {
  Close();
  return OpenMemory(name, false, 0, Access::Owner, fd_, shm_fd_, path_, shm_name_, size_);
}

void SharedMemory::Close() {
  if (fd_ < 0) return;
  if (shm_fd_ >= 0) ::close(shm_fd_);
  internal::ObjFile file;
  file.fd = fd_;
  file.path = std::move(path_);
  const std::string shm_name = shm_name_;
  internal::CloseObjFile(file, [&shm_name] { ::shm_unlink(shm_name.c_str()); });
  fd_ = -1;
  shm_fd_ = -1;
  path_.clear();
  shm_name_.clear();
  size_ = 0;
}

bool SharedMemory::Map(SharedView& out) const {
  out.Unmap();
  if (shm_fd_ < 0) return false;
  void* map = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, shm_fd_, 0);
  if (map == MAP_FAILED) return false;
  out.data_ = map;
  out.size_ = size_;
  return true;
}

}  // namespace qv::kobj
