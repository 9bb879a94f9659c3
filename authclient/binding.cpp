#include "authclient/binding.h"

#include "platform/dynlib/dynlib.h"

#include <cctype>
#include <string>

namespace kel {
namespace {

const char* const kNames[] = {
#define KEL_ENTRY(name) #name,
#include "authclient/entries.def"
#undef KEL_ENTRY
};
static_assert(sizeof kNames / sizeof kNames[0] == kClientEntryCount);

std::string LibraryFile(const char* name) {
  std::string n(name);
  if (n.find('/') != std::string::npos) return n;
  for (auto& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (n.size() > 4 && n.compare(n.size() - 4, 4, ".dll") == 0) n.resize(n.size() - 4);
  if (n.find(".so") == std::string::npos) n += ".so";
  if (n.compare(0, 3, "lib") != 0) n = "lib" + n;
  return n;
}

void* DlLookup(void* library, const char* name) { return qv::dynlib::Entry(library, name); }

}  // namespace

const char* const* ClientEntryNames() { return kNames; }

bool FillClientApi(void* (*lookup)(void* context, const char* name), void* context, ClientApi* api) {
  ClientApi table;
  bool complete = true;
#define KEL_ENTRY(name)                                                          \
  table.name = reinterpret_cast<decltype(table.name)>(lookup(context, #name)); \
  if (!table.name) complete = false;
#include "authclient/entries.def"
#undef KEL_ENTRY
  *api = complete ? table : ClientApi{};
  return complete;
}

QVSTATUS BindClient(const char* name, ClientBinding* out) {
  *out = ClientBinding{};
  if (!name || !*name) return QVS_AM_AUTHCLIENT_FAILED;
  void* library = qv::dynlib::Open(LibraryFile(name));
  if (!library) return QVS_AM_AUTHCLIENT_FAILED;
  ClientApi api;
  if (!FillClientApi(DlLookup, library, &api)) {
    qv::dynlib::Close(library);
    return QVS_AM_AUTHCLIENT_FAILED;
  }
  out->library = library;
  out->api = api;
  return QV_OK;
}

void UnbindClient(ClientBinding* binding) {
  qv::dynlib::Close(binding->library);
  *binding = ClientBinding{};
}

}  // namespace kel
