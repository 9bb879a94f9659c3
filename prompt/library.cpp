#include "prompt/library.h"

#include <dlfcn.h>

namespace qv::prompt {

void* OpenLibrary(const std::string& name) { return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* LibraryEntry(void* library, const char* name) {
  return library != nullptr ? ::dlsym(library, name) : nullptr;
}

void CloseLibrary(void* library) {
  if (library != nullptr) ::dlclose(library);
}

}  // namespace qv::prompt
