#include "platform/registry/keybatch.h"

#include <cstring>
#include <new>

#include "platform/registry/keystore.h"

namespace qv::reg {

LSTATUS ReadKey(HKEY key, RegSection* section) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!section) return ERROR_INVALID_PARAMETER;
  if (!(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  try {
    LSTATUS st = store::Load(key->predefined ? store::RootDir() : key->dir, section);
    if (st == ERROR_SUCCESS && section->path.empty()) section->path = key->path;
    return st;
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

LSTATUS ApplyValues(HKEY key, const std::vector<RegValue>& values) {
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  for (const RegValue& v : values) {
    if (v.name.size() > kMaxValueNameLength || v.data.size() > kMaxValueSize) {
      return ERROR_INVALID_PARAMETER;
    }
    for (unsigned char c : v.name) {
      if (c < 0x20) return ERROR_INVALID_PARAMETER;
    }
  }
  try {
    return store::Modify(key->predefined ? store::RootDir() : key->dir, key->path,
                         [&](RegSection& s) {
                           for (const RegValue& v : values) {
                             long at = FindValue(s.values, v.name);
                             if (v.remove) {
                               if (at >= 0) s.values.erase(s.values.begin() + at);
                             } else if (at >= 0) {
                               s.values[static_cast<size_t>(at)].type = v.type;
                               s.values[static_cast<size_t>(at)].data = v.data;
                             } else {
                               s.values.push_back(v);
                             }
                           }
                           return ERROR_SUCCESS;
                         });
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

}  // namespace qv::reg
