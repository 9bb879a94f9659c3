// Binds the authentication client library by name at run time.
//
// All 41 entries are looked up; when any is missing the library is released
// and the binding fails.
#pragma once

#include <cstddef>

#include "kelclient.h"
#include "qvstatus.h"

namespace kel {

struct ClientApi {
#define KEL_ENTRY(name) decltype(&::name) name = nullptr;
#include "authclient/entries.def"
#undef KEL_ENTRY
};

struct ClientBinding {
  void* library = nullptr;  // owned; released by UnbindClient
  ClientApi api;
};

inline constexpr size_t kClientEntryCount = 41;

// The entry names in table order.
const char* const* ClientEntryNames();

// Loads `name` and fills the table. A name without '/' is a library name
// ("authclient", "AUTHCLIENT", "AUTHCLIENT.DLL" and "libauthclient.so" all
// mean libauthclient.so) searched the usual way; with '/' it is a path.
// QV_OK, or QVS_AM_AUTHCLIENT_FAILED with nothing held.
QVSTATUS BindClient(const char* name, ClientBinding* out);

// Fills the table through `lookup` (which answers nullptr for a missing
// entry); false when any entry is missing, the table then cleared.
bool FillClientApi(void* (*lookup)(void* context, const char* name), void* context, ClientApi* api);

// Releases the library and clears the table.
void UnbindClient(ClientBinding* binding);

}  // namespace kel
