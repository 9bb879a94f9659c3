#include "platform/registry/registry.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "platform/paths/paths.h"
#include "platform/registry/keypath.h"
#include "platform/registry/keystore.h"

namespace qv::reg {
namespace {

KeyObject g_local_machine{std::string(), kRootName, KEY_ALL_ACCESS, true};

constexpr uint32_t kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x00010000 /* delete */ |
                                  0x00040000 /* write DAC */ | 0x00080000 /* write owner */;

struct Target {
  std::string dir;
  std::string parent_dir;
  std::string path;
  std::vector<std::string> parts;  // components below the base
  std::string base_dir;
  std::string base_path;
};

std::string DirOf(const KeyObject* key) { return key->predefined ? store::RootDir() : key->dir; }

// The root key always exists, even before its directory does.
LSTATUS LoadValues(const KeyObject* key, RegSection* section) {
  LSTATUS st = store::Load(DirOf(key), section);
  return st == ERROR_KEY_DELETED && key->predefined ? ERROR_SUCCESS : st;
}

LSTATUS Resolve(HKEY root, const char* subkey, Target* t) {
  if (!root) return ERROR_INVALID_HANDLE;
  if (!SplitKeyPath(subkey ? subkey : "", &t->parts)) return ERROR_INVALID_PARAMETER;
  t->base_dir = DirOf(root);
  t->base_path = root->path;
  t->dir = t->base_dir;
  t->parent_dir.clear();
  t->path = t->base_path;
  for (const std::string& part : t->parts) {
    std::string enc = EncodeComponent(part);
    if (enc.empty()) return ERROR_INVALID_PARAMETER;
    t->parent_dir = t->dir;
    t->dir += "/" + enc;
    t->path += "\\" + part;
  }
  return ERROR_SUCCESS;
}

bool ValidValueName(const char* name) {
  size_t n = std::strlen(name);
  if (n > kMaxValueNameLength) return false;
  for (size_t i = 0; i < n; ++i) {
    if (static_cast<unsigned char>(name[i]) < 0x20) return false;
  }
  return true;
}

LSTATUS CheckDir(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) return store::FromErrno(errno);
  if (!S_ISDIR(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  return ERROR_SUCCESS;
}

LSTATUS OpenResolved(const Target& t, uint32_t access, HKEY* key) {
  LSTATUS st = CheckDir(t.dir);
  if (st != ERROR_SUCCESS) return st;
  if (!store::CanRead(t.dir)) return ERROR_ACCESS_DENIED;
  if ((access & kWriteRights) && !store::CanWrite(t.dir)) return ERROR_ACCESS_DENIED;
  *key = new KeyObject{t.dir, t.path, access, false};
  return ERROR_SUCCESS;
}

template <typename F>
LSTATUS Guarded(F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  } catch (...) {
    return ERROR_WRITE_FAULT;
  }
}

LSTATUS CreateChild(const std::string& parent, const std::string& dir, const std::string& path,
                    bool* created) {
  *created = false;
  LSTATUS st = CheckDir(dir);
  if (st == ERROR_SUCCESS) return st;
  if (st != ERROR_FILE_NOT_FOUND) return st;
  if (!store::CanWrite(parent)) return ERROR_ACCESS_DENIED;
  // The parent's lock keeps a concurrent DeleteKey of the parent out.
  store::KeyLock lock;
  st = lock.Acquire(parent);
  if (st != ERROR_SUCCESS) return st;
  if (::mkdir(dir.c_str(), 0755) != 0) {
    if (errno == EEXIST) return CheckDir(dir);
    return store::FromErrno(errno);
  }
  *created = true;
  // The value file records the key's name as first written.
  return store::Modify(dir, path, [](RegSection&) { return ERROR_SUCCESS; });
}

}  // namespace

HKEY const HKEY_LOCAL_MACHINE = &g_local_machine;

LSTATUS OpenKey(HKEY root, const char* subkey, uint32_t access, HKEY* key) {
  if (!key) return ERROR_INVALID_PARAMETER;
  *key = nullptr;
  return Guarded([&] {
    Target t;
    LSTATUS st = Resolve(root, subkey, &t);
    if (st != ERROR_SUCCESS) return st;
    return OpenResolved(t, access, key);
  });
}

LSTATUS CreateKey(HKEY root, const char* subkey, uint32_t access, HKEY* key, bool* created) {
  if (!key) return ERROR_INVALID_PARAMETER;
  *key = nullptr;
  if (created) *created = false;
  return Guarded([&] {
    Target t;
    LSTATUS st = Resolve(root, subkey, &t);
    if (st != ERROR_SUCCESS) return st;
    if (root->predefined && !qv::paths::MakeDirs(t.base_dir, 0755)) {
      return CheckDir(t.base_dir) == ERROR_SUCCESS ? ERROR_ACCESS_DENIED : store::FromErrno(errno);
    }
    std::string dir = t.base_dir;
    std::string path = t.base_path;
    bool made = false;
    for (const std::string& part : t.parts) {
      std::string child = dir + "/" + EncodeComponent(part);
      path += "\\" + part;
      st = CreateChild(dir, child, path, &made);
      if (st != ERROR_SUCCESS) return st;
      dir = child;
    }
    st = OpenResolved(t, access, key);
    if (st == ERROR_SUCCESS && created) *created = made;
    return st;
  });
}

LSTATUS CloseKey(HKEY key) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!key->predefined) delete key;
  return ERROR_SUCCESS;
}

LSTATUS QueryValue(HKEY key, const char* name, uint32_t* type, void* data, uint32_t* size) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (data && !size) return ERROR_INVALID_PARAMETER;
  return Guarded([&] {
    RegSection section;
    LSTATUS st = LoadValues(key, &section);
    if (st != ERROR_SUCCESS) return st;
    long at = FindValue(section.values, name ? name : "");
    if (at < 0) return ERROR_FILE_NOT_FOUND;
    const RegValue& v = section.values[static_cast<size_t>(at)];
    uint32_t needed = static_cast<uint32_t>(v.data.size());
    if (type) *type = v.type;
    if (!data) {
      if (size) *size = needed;
      return ERROR_SUCCESS;
    }
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (needed) std::memcpy(data, v.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
  });
}

LSTATUS SetValue(HKEY key, const char* name, uint32_t type, const void* data, uint32_t size) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!name) name = "";
  if (!ValidValueName(name) || size > kMaxValueSize || (size && !data)) {
    return ERROR_INVALID_PARAMETER;
  }
  return Guarded([&] {
    RegValue v;
    v.name = name;
    v.type = type;
    if (size) v.data.assign(static_cast<const char*>(data), size);
    return store::Modify(DirOf(key), key->path, [&](RegSection& s) {
      long at = FindValue(s.values, v.name);
      if (at >= 0) {
        RegValue& old = s.values[static_cast<size_t>(at)];
        old.type = v.type;
        old.data = std::move(v.data);
      } else {
        s.values.push_back(std::move(v));
      }
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS DeleteValue(HKEY key, const char* name) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  std::string n = name ? name : "";
  return Guarded([&] {
    return store::Modify(DirOf(key), key->path, [&](RegSection& s) {
      long at = FindValue(s.values, n);
      if (at < 0) return ERROR_FILE_NOT_FOUND;
      s.values.erase(s.values.begin() + at);
      return ERROR_SUCCESS;
    });
  });
}

LSTATUS DeleteKey(HKEY root, const char* subkey) {
  return Guarded([&] {
    Target t;
    LSTATUS st = Resolve(root, subkey, &t);
    if (st != ERROR_SUCCESS) return st;
    if (t.parts.empty()) return ERROR_ACCESS_DENIED;  // a key cannot delete itself
    st = CheckDir(t.dir);
    if (st != ERROR_SUCCESS) return st;
    if (!store::CanWrite(t.parent_dir) || !store::CanWrite(t.dir)) return ERROR_ACCESS_DENIED;
    store::KeyLock lock;
    st = lock.Acquire(t.dir);
    if (st == ERROR_KEY_DELETED) return ERROR_FILE_NOT_FOUND;
    if (st != ERROR_SUCCESS) return st;
    if (store::HasSubkeys(t.dir)) return ERROR_ACCESS_DENIED;
    return store::RemoveKeyDir(t.dir);
  });
}

LSTATUS EnumValue(HKEY key, uint32_t index, char* name, uint32_t* name_size, uint32_t* type,
                  void* data, uint32_t* data_size) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if ((name && !name_size) || (data && !data_size)) return ERROR_INVALID_PARAMETER;
  return Guarded([&] {
    RegSection section;
    LSTATUS st = LoadValues(key, &section);
    if (st != ERROR_SUCCESS) return st;
    if (index >= section.values.size()) return ERROR_NO_MORE_ITEMS;
    const RegValue& v = section.values[index];
    uint32_t name_len = static_cast<uint32_t>(v.name.size());
    uint32_t needed = static_cast<uint32_t>(v.data.size());
    bool short_name = name && *name_size < name_len + 1;
    bool short_data = data && *data_size < needed;
    if (type) *type = v.type;
    if (name_size) *name_size = name_len;
    if (data_size) *data_size = needed;
    if (short_name || short_data) return ERROR_MORE_DATA;
    if (name) {
      std::memcpy(name, v.name.data(), name_len);
      name[name_len] = '\0';
    }
    if (data && needed) std::memcpy(data, v.data.data(), needed);
    return ERROR_SUCCESS;
  });
}

LSTATUS EnumKey(HKEY key, uint32_t index, char* name, uint32_t* name_size) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  if (!name || !name_size) return ERROR_INVALID_PARAMETER;
  return Guarded([&] {
    std::string dir = DirOf(key);
    std::vector<std::string> dirs;
    LSTATUS st = store::ListSubkeys(dir, &dirs);
    if (st != ERROR_SUCCESS) return st;
    if (index >= dirs.size()) return ERROR_NO_MORE_ITEMS;
    std::string child = DecodeComponent(dirs[index]);
    // The child's own file keeps the name's case.
    RegSection section;
    if (store::Load(dir + "/" + dirs[index], &section) == ERROR_SUCCESS) {
      size_t cut = section.path.rfind('\\');
      std::string last = cut == std::string::npos ? section.path : section.path.substr(cut + 1);
      if (NamesEqual(last, child)) child = last;
    }
    uint32_t len = static_cast<uint32_t>(child.size());
    bool short_name = *name_size < len + 1;
    *name_size = len;
    if (short_name) return ERROR_MORE_DATA;
    std::memcpy(name, child.data(), len);
    name[len] = '\0';
    return ERROR_SUCCESS;
  });
}

LSTATUS QueryDword(HKEY key, const char* name, uint32_t* value) {
  if (!value) return ERROR_INVALID_PARAMETER;
  uint32_t type = 0;
  unsigned char buf[4];
  uint32_t size = sizeof buf;
  LSTATUS st = QueryValue(key, name, &type, buf, &size);
  if (st == ERROR_MORE_DATA) return ERROR_INVALID_PARAMETER;
  if (st != ERROR_SUCCESS) return st;
  if (type != REG_DWORD || size != 4) return ERROR_INVALID_PARAMETER;
  *value = static_cast<uint32_t>(buf[0]) | static_cast<uint32_t>(buf[1]) << 8 |
           static_cast<uint32_t>(buf[2]) << 16 | static_cast<uint32_t>(buf[3]) << 24;
  return ERROR_SUCCESS;
}

LSTATUS QueryString(HKEY key, const char* name, std::string* value) {
  if (!value) return ERROR_INVALID_PARAMETER;
  return Guarded([&] {
    uint32_t type = 0;
    uint32_t size = 0;
    LSTATUS st = QueryValue(key, name, &type, nullptr, &size);
    if (st != ERROR_SUCCESS) return st;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_PARAMETER;
    std::string text(size, '\0');
    st = QueryValue(key, name, &type, text.data(), &size);
    if (st != ERROR_SUCCESS) return st;  // changed in between: report as is
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_PARAMETER;
    text.resize(size);
    size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    *value = std::move(text);
    return ERROR_SUCCESS;
  });
}

}  // namespace qv::reg
