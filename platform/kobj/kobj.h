// Named kernel objects: mutexes, events, semaphores and shared memory.
//
// Every named object lives in one namespace derived from the system root:
// its control file is <RunDir()>/kobj/<kind>.<encoded name>, and a shared
// memory segment is the POSIX name NamePrefix() + "shm." + <encoded name>.
// Two roots therefore never share an object. Names are case-sensitive byte
// strings; bytes outside [A-Za-z0-9._-] are encoded, so any name is safe.
//
// An object exists while at least one handle to it is open in any process
// (or, for a mutex, while a thread owns it). When the last handle closes, or
// the last process holding one dies, the object is gone: a later Create
// makes a fresh object and answers Created.
//
// Handles are RAII, movable, not copyable; no function throws. One handle may
// be used by several threads at once; Close must not race with other calls.
// Do not fork while a thread of the process owns a mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::kobj {

// Wait time-outs in milliseconds; 0 polls once.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

enum class OpenStatus {
  Created,          // a new object was made (Create only)
  AlreadyExists,    // Create found an existing object; the handle is open on it
  Opened,           // Open found the object
  NotFound,         // Open: no such object
  InvalidName,      // empty name where one is required
  InvalidArgument,  // bad size or counts
  AccessDenied,     // the object's files may not be opened read-write
  Failed,           // any other system failure, or a damaged control file
};

// True when the handle is open after Create or Open.
constexpr bool IsOpen(OpenStatus s) {
  return s == OpenStatus::Created || s == OpenStatus::AlreadyExists || s == OpenStatus::Opened;
}

enum class WaitResult {
  Signaled,   // the object was taken (mutex owned, event or count consumed)
  Abandoned,  // mutex: its owner died holding it; the caller now owns it
  Timeout,
  Failed,     // closed handle or system failure
};

// Who may open an object made by Create (the file mode of its files).
enum class Access {
  Owner,     // 0600
  Group,     // 0660
  Everyone,  // 0666
};

namespace internal {
struct Block;
}

// Recursive mutex owned by a thread. It excludes other threads of this
// process as well as other processes. When the owning thread exits or its
// process dies without releasing, the next waiter gets Abandoned and owns it.
class Mutex {
 public:
  Mutex() = default;
  ~Mutex();
  Mutex(Mutex&& other) noexcept;
  Mutex& operator=(Mutex&& other) noexcept;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Creates the mutex or opens the existing one (AlreadyExists). With
  // initial_owner the calling thread owns a newly created mutex; an existing
  // one is never taken by Create.
  OpenStatus Create(std::string_view name, bool initial_owner, Access access = Access::Owner);
  OpenStatus Open(std::string_view name);
  void Close();
  bool is_open() const { return fd_ >= 0; }

  // Takes ownership; a thread that owns it already gets Signaled again
  // (each success needs one Release).
  WaitResult Wait(std::uint32_t timeout_ms);
  // False when the calling thread does not own the mutex.
  bool Release();

 private:
  int fd_ = -1;
  std::uint64_t dev_ = 0;
  std::uint64_t ino_ = 0;
  std::string path_;
  internal::Block* block_ = nullptr;
};

// Event, auto-reset (a successful wait resets it; one waiter is released per
// set) or manual-reset (stays set until Reset). Setting an event that is
// already set changes nothing. An empty name makes an unnamed event, usable
// by the threads of this process.
class Event {
 public:
  Event() = default;
  ~Event();
  Event(Event&& other) noexcept;
  Event& operator=(Event&& other) noexcept;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // manual_reset and initial_state apply only when the event is created.
  OpenStatus Create(std::string_view name, bool manual_reset, bool initial_state,
                    Access access = Access::Owner);
  OpenStatus Open(std::string_view name);
  void Close();
  bool is_open() const { return block_ != nullptr; }

  bool Set();
  bool Reset();
  WaitResult Wait(std::uint32_t timeout_ms);

 private:
  int fd_ = -1;
  std::string path_;
  internal::Block* block_ = nullptr;
};

// Counting semaphore with a maximum count. An empty name makes an unnamed one.
class Semaphore {
 public:
  Semaphore() = default;
  ~Semaphore();
  Semaphore(Semaphore&& other) noexcept;
  Semaphore& operator=(Semaphore&& other) noexcept;
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // Needs 0 <= initial_count <= max_count and max_count > 0 (InvalidArgument);
  // the counts apply only when the semaphore is created.
  OpenStatus Create(std::string_view name, std::int32_t initial_count, std::int32_t max_count,
                    Access access = Access::Owner);
  OpenStatus Open(std::string_view name);
  void Close();
  bool is_open() const { return block_ != nullptr; }

  // Takes one count.
  WaitResult Wait(std::uint32_t timeout_ms);
  // Adds count (> 0); false, with nothing added, when the result would pass
  // the maximum. previous_count, when given, receives the count before.
  bool Release(std::int32_t count = 1, std::int32_t* previous_count = nullptr);

 private:
  int fd_ = -1;
  std::string path_;
  internal::Block* block_ = nullptr;
};

// A mapped view of shared memory; stays valid after its SharedMemory closes.
class SharedView {
 public:
  SharedView() = default;
  ~SharedView();
  SharedView(SharedView&& other) noexcept;
  SharedView& operator=(SharedView&& other) noexcept;
  SharedView(const SharedView&) = delete;
  SharedView& operator=(const SharedView&) = delete;

  void Unmap();
  void* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  friend class SharedMemory;
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

// Named shared memory of a fixed size, zero-filled when created.
class SharedMemory {
 public:
  SharedMemory() = default;
  ~SharedMemory();
  SharedMemory(SharedMemory&& other) noexcept;
  SharedMemory& operator=(SharedMemory&& other) noexcept;
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // size > 0 (InvalidArgument). An existing object keeps its own size:
  // check size() before use.
  OpenStatus Create(std::string_view name, std::size_t size, Access access = Access::Owner);
  OpenStatus Open(std::string_view name);
  void Close();
  bool is_open() const { return fd_ >= 0; }
  std::size_t size() const { return size_; }

  // Maps the whole object read-write into out (unmapping what out held).
  bool Map(SharedView& out) const;

 private:
  int fd_ = -1;      // control file
  int shm_fd_ = -1;  // segment
  std::string path_;
  std::string shm_name_;
  std::size_t size_ = 0;
};

}  // namespace qv::kobj
