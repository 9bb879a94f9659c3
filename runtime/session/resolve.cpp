// Host-name resolution for client sessions.
#include "platform/eventtext/eventtext.h"
#include "platform/netbios/netbios.h"
#include "platform/resolver/resolver.h"
#include "runtime/auth/settings.h"
#include "runtime/session/session_internal.h"

namespace qv::session::internal {

QVSTATUS ResolveHost(const char* host, uint32_t* address) {
  if (!host || !*host) return QVS_SM_HOST_NOT_RESOLVED;
  if (qv::resolver::ParseDottedIPv4(host, address)) return QV_OK;
  if (!qv::auth::DisableNetBIOSLookup()) {
    unsigned char name[qv::netbios::kNameLength];
    qv::netbios::MakeName(host, name);
    if (qv::netbios::Current().FindName(name, address)) return QV_OK;
  }
  int error = 0;
  if (qv::resolver::Current().Forward(host, address, &error) == qv::resolver::Result::kOk) {
    return QV_OK;
  }
  QVTraceMessage(8, kCategory, kModule, __LINE__, "gethostbyname() failed. Error code: %d",
                 error);
  return QVS_SM_HOST_NOT_RESOLVED;
}

}  // namespace qv::session::internal
