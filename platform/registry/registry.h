// Registry of keys and values.
//
// Keys live under HKEY_LOCAL_MACHINE at paths such as
// "SOFTWARE\\Tavrik\\QVNetwork"; each key holds named, typed values. The
// calls follow the usual registry semantics so that callers written against
// them map one to one:
//   - every call returns an LSTATUS (ERROR_SUCCESS or one of the codes below);
//     no exception leaves this interface;
//   - key and value names compare without regard to ASCII case and keep the
//     case they were first written with;
//   - QueryValue/EnumValue never read a value into a buffer too small for it:
//     they return ERROR_MORE_DATA and store the needed size; a null data
//     pointer only asks the type and size;
//   - the value's type is reported, never checked: a caller reading into a
//     4-byte buffer gets the bytes of any value of at most 4 bytes.
// Strings are bytes (UTF-8). A REG_SZ/REG_EXPAND_SZ value holds its text and a
// terminating NUL, counted in its size; REG_MULTI_SZ holds NUL-terminated
// texts followed by one more NUL; REG_DWORD is 4 bytes, little-endian.
//
// Storage: one human-readable text file per key under
// qv::paths::EtcDir() + "/registry", resolved when a key is opened. Writes
// replace the file atomically under a lock shared by every process, so
// concurrent writers of different values lose nothing. File permissions give
// the access rights: a caller who cannot write a key cannot open it with
// KEY_SET_VALUE or KEY_ALL_ACCESS (ERROR_ACCESS_DENIED), one who cannot read
// it cannot open it at all.
//
// Handles may be used from several threads at once; each must be closed once.
// CMake target: qvregistry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qv::reg {

using LSTATUS = long;

inline constexpr LSTATUS ERROR_SUCCESS = 0;
inline constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
inline constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
inline constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
inline constexpr LSTATUS ERROR_OUTOFMEMORY = 14;
inline constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
inline constexpr LSTATUS ERROR_MORE_DATA = 234;
inline constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
inline constexpr LSTATUS ERROR_BADDB = 1009;        // key file unreadable or malformed
inline constexpr LSTATUS ERROR_KEY_DELETED = 1018;  // key removed while open
inline constexpr LSTATUS ERROR_WRITE_FAULT = 29;    // storage failure while writing

// Value types.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;

// Access rights.
inline constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
inline constexpr uint32_t KEY_SET_VALUE = 0x0002;
inline constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr uint32_t KEY_NOTIFY = 0x0010;
inline constexpr uint32_t KEY_READ = 0x20019;   // query, enumerate, notify
inline constexpr uint32_t KEY_WRITE = 0x20006;  // set value, create subkey
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

// Limits (bytes).
inline constexpr size_t kMaxKeyNameLength = 255;  // one path component
inline constexpr size_t kMaxValueNameLength = 16383;
inline constexpr size_t kMaxValueSize = 1u << 20;

struct KeyObject;
using HKEY = KeyObject*;

// The predefined root; never closed (CloseKey on it is a no-op).
extern HKEY const HKEY_LOCAL_MACHINE;

// Opens an existing key. `subkey` is a backslash-separated path relative to
// `root` (an empty path opens `root` again). ERROR_FILE_NOT_FOUND when it does
// not exist, ERROR_ACCESS_DENIED when `access` exceeds what the caller may do.
LSTATUS OpenKey(HKEY root, const char* subkey, uint32_t access, HKEY* key);

// Opens a key, creating it and its missing parents first. `created` (may be
// null) tells whether the key was new.
LSTATUS CreateKey(HKEY root, const char* subkey, uint32_t access, HKEY* key, bool* created);

LSTATUS CloseKey(HKEY key);

// Reads a value. `type` may be null. With `data` null, stores the value's
// size in `*size` and succeeds. With `*size` smaller than the value, returns
// ERROR_MORE_DATA, stores the needed size and leaves `data` untouched.
// ERROR_FILE_NOT_FOUND when the value does not exist. A null or empty name
// means the key's default value.
LSTATUS QueryValue(HKEY key, const char* name, uint32_t* type, void* data, uint32_t* size);

// Writes a value (creating or replacing it). Needs KEY_SET_VALUE.
LSTATUS SetValue(HKEY key, const char* name, uint32_t type, const void* data, uint32_t size);

// Removes a value. ERROR_FILE_NOT_FOUND when it does not exist. Needs
// KEY_SET_VALUE.
LSTATUS DeleteValue(HKEY key, const char* name);

// Removes a key with its values. Fails with ERROR_ACCESS_DENIED while it has
// subkeys, ERROR_FILE_NOT_FOUND when it does not exist.
LSTATUS DeleteKey(HKEY root, const char* subkey);

// Enumerates values in their stored order. `name_size` is in bytes: on input
// the buffer's capacity including the NUL, on output the name's length
// without it. ERROR_MORE_DATA when the name or the data does not fit (the
// needed sizes are stored, nothing is copied); ERROR_NO_MORE_ITEMS past the
// last value. `type`, `data` and `data_size` may be null.
LSTATUS EnumValue(HKEY key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                  void* data, uint32_t* data_size);

// Enumerates subkeys (sorted by lower-cased name); sizes as for EnumValue.
LSTATUS EnumKey(HKEY key, uint32_t index, char* name, uint32_t* name_size);

// Convenience readers: the value must have the given type and fit.
// ERROR_FILE_NOT_FOUND when missing, ERROR_INVALID_PARAMETER when of another
// type (REG_SZ and REG_EXPAND_SZ both read as strings; the text is returned
// without its terminating NUL and unexpanded).
LSTATUS QueryDword(HKEY key, const char* name, uint32_t* value);
LSTATUS QueryString(HKEY key, const char* name, std::string* value);

// Owns a key handle; closes it when destroyed.
class Key {
 public:
  Key() = default;
  explicit Key(HKEY key) : key_(key) {}
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  Key(Key&& other) noexcept : key_(other.release()) {}
  Key& operator=(Key&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~Key() { reset(); }

  LSTATUS Open(HKEY root, const char* subkey, uint32_t access) {
    reset();
    return OpenKey(root, subkey, access, &key_);
  }
  LSTATUS Create(HKEY root, const char* subkey, uint32_t access, bool* created = nullptr) {
    reset();
    return CreateKey(root, subkey, access, &key_, created);
  }

  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }
  HKEY release() {
    HKEY k = key_;
    key_ = nullptr;
    return k;
  }
  void reset(HKEY key = nullptr) {
    if (key_) CloseKey(key_);
    key_ = key;
  }

 private:
  HKEY key_ = nullptr;
};

// Change notification on one key's values (not on its subkeys). Changes made
// after Open are kept until a Wait reports them, so none is missed between
// two waits; several changes may be reported as one.
class KeyWatch {
 public:
  enum class Result { kChanged, kStopped, kTimeout, kError };

  KeyWatch() = default;
  KeyWatch(const KeyWatch&) = delete;
  KeyWatch& operator=(const KeyWatch&) = delete;
  ~KeyWatch();

  // Starts watching an open key; needs KEY_NOTIFY.
  LSTATUS Open(HKEY key);
  void Close();

  // Waits up to `timeout_ms` (negative: forever) for a change of the key's
  // values, or until `stop_fd` (if >= 0) becomes readable, which is not read.
  // kError when the watch is not open or the key was deleted.
  Result Wait(int timeout_ms, int stop_fd = -1);

  // Readable when a change is pending, for callers that poll several
  // descriptors; call Wait(0) afterwards to consume it.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  int wd_ = -1;
  bool gone_ = false;
};

}  // namespace qv::reg
