// Loading a shared library by name and finding its entries.
#pragma once

#include <string>

namespace qv::dynlib {

// nullptr when the library cannot be loaded. Names without a slash are
// searched the system's way (the caller's run path, LD_LIBRARY_PATH, the
// system directories).
void* Open(const std::string& name);
// nullptr when the library has no such entry (or is null).
void* Entry(void* library, const char* name);
// Unloads a library from Open; null is ignored.
void Close(void* library);

// Entry converted to a function pointer type.
template <typename Fn>
Fn EntryAs(void* library, const char* name) {
  return reinterpret_cast<Fn>(Entry(library, name));
}

}  // namespace qv::dynlib
