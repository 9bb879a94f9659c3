// Host-name resolution for client sessions.
#include "platform/eventtext/eventtext.h"
#include "platform/netbios/netbios.h"
#include "platform/resolver/resolver.h"
#include "runtime/auth/settings.h"
#include "runtime/session/session_internal.h"

namespace qv::session::internal {

namespace {

bool Resolve(const char* host, uint32_t* address) {
  if (!host || !*host) return false;
  if (qv::resolver::ParseDottedIPv4(host, address)) return true;
  if (!qv::auth::DisableNetBIOSLookup()) {
    unsigned char name[qv::netbios::kNameLength];
    qv::netbios::MakeName(host, name);
    if (qv::netbios::Current().FindName(name, address)) return true;
  }
  int error = 0;
  if (qv::resolver::Current().Forward(host, address, &error) == qv::resolver::Result::kOk) {
    return true;
  }
  QVTraceMessage(8, kCategory, kModule, __LINE__, "gethostbyname() failed. Error code: %d",
                 error);
  return false;
}

}  // namespace

QVSTATUS ResolveHost(const char* host, uint32_t* address) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering ResolveHost");
  QVSTATUS status = Resolve(host, address) ? QV_OK : QVS_SM_HOST_NOT_RESOLVED;
  QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving ResolveHost, return code 0x%08X",
                 status);
  return status;
}

}  // namespace qv::session::internal
