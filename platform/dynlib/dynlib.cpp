#include "platform/dynlib/dynlib.h"

#include <dlfcn.h>

namespace qv::dynlib {

void* Open(const std::string& name) { return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* Entry(void* library, const char* name) {
  return library != nullptr ? ::dlsym(library, name) : nullptr;
}

void Close(void* library) {
  if (library != nullptr) ::dlclose(library);
}

}  // namespace qv::dynlib
