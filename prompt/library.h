// Loading a shared library by name and finding its entries.
#pragma once

#include <string>

namespace qv::prompt {

// nullptr when the library cannot be loaded.
void* OpenLibrary(const std::string& name);
// nullptr when the library has no such entry.
void* LibraryEntry(void* library, const char* name);
void CloseLibrary(void* library);

}  // namespace qv::prompt
