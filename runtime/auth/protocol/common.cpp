#include <atomic>
#include <cstring>

#include "runtime/auth/protocol/roles.h"
#include "runtime/auth/settings.h"
#include "runtime/startup/startup.h"

namespace qv::protocol {
namespace {
std::atomic<const kel::ClientApi*> g_client{nullptr};
}  // namespace

const kel::ClientApi* AuthClient() {
  const kel::ClientApi* api = g_client.load();
  return api != nullptr ? api : qv::startup::ClientApi();
}
void SetAuthClient(const kel::ClientApi* api) { g_client.store(api); }

uint32_t ResponseTimeoutSeconds() {
  uint32_t seconds = qv::auth::ReadDwordSetting("ResponseTimeout", kDefaultResponseTimeoutSeconds);
  return seconds != 0 ? seconds : kDefaultResponseTimeoutSeconds;
}

void CopyText(char* out, size_t size, const char* in) {
  if (size == 0) return;
  size_t n = in != nullptr ? strnlen(in, size - 1) : 0;
  if (n != 0) std::memcpy(out, in, n);
  out[n] = '\0';
}

}  // namespace qv::protocol
