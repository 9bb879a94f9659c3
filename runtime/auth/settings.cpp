#include "runtime/auth/settings.h"

#include <cstdlib>

#include "platform/registry/registry.h"

uint32_t KelClientPort = QV_DEFAULT_CLIENT_PORT;
uint32_t KelProxyPort = QV_DEFAULT_PROXY_PORT;

int QVAgentGetSetting(const char* name, void* buffer, uint32_t size) {
  using namespace qv::reg;
  if (!name || !buffer) return 0;
  HKEY key = nullptr;
  // All access: a caller who may not change the settings sees the defaults.
  if (OpenKey(HKEY_LOCAL_MACHINE, QV_SETTINGS_KEY, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return 0;
  }
  uint32_t got = size;
  LSTATUS rc = QueryValue(key, name, nullptr, buffer, &got);
  CloseKey(key);
  return rc == ERROR_SUCCESS ? 1 : 0;
}

void AMReadPortSettings(void) {
  KelClientPort = qv::auth::ReadDwordSetting("KelClientPort", QV_DEFAULT_CLIENT_PORT);
  KelProxyPort = qv::auth::ReadDwordSetting("KelProxyPort", QV_DEFAULT_PROXY_PORT);
}

namespace qv::auth {

uint32_t ReadDwordSetting(const char* name, uint32_t fallback) {
  uint32_t value = 0;
  return QVAgentGetSetting(name, &value, sizeof value) ? value : fallback;
}

uint32_t TestMode() { return ReadDwordSetting("TestMode", 0); }
bool SendDomainName() { return ReadDwordSetting("SendDomainName", 0) != 0; }
bool DisableNetBIOSLookup() { return ReadDwordSetting("DisableNetBIOSLookup", 0) != 0; }

uint32_t HandshakeTimeoutSeconds() {
  uint32_t v = ReadDwordSetting("SessionHandshakeTimeout", kDefaultHandshakeTimeoutSeconds);
  return v ? v : kDefaultHandshakeTimeoutSeconds;
}

std::string ListenAddress() {
  char text[64] = {};
  if (QVAgentGetSetting("ListenAddress", text, sizeof text - 1) == 1 && text[0] != '\0') return text;
  const char* env = std::getenv("TAVRIK_LISTEN_ADDRESS");
  return env ? env : "";
}

uint32_t MaxSessionThreads() {
  uint32_t v = ReadDwordSetting("MaxSessionThreads", kDefaultMaxSessionThreads);
  return v ? v : kDefaultMaxSessionThreads;
}

}  // namespace qv::auth
