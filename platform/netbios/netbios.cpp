#include "platform/netbios/netbios.h"

#include <atomic>
#include <cstring>

namespace qv::netbios {
namespace {

class SystemNameService final : public NameService {
 public:
  bool FindName(const unsigned char (&)[kNameLength], uint32_t*) override { return false; }
};

SystemNameService g_system;
std::atomic<NameService*> g_current{nullptr};

}  // namespace

NameService& Current() {
  NameService* s = g_current.load(std::memory_order_acquire);
  return s ? *s : g_system;
}

void SetForProcess(NameService* service) { g_current.store(service, std::memory_order_release); }

void MakeName(const char* host, unsigned char (&name)[kNameLength]) {
  memset(name, ' ', kNameLength);
  for (size_t i = 0; i < kNameLength && host && host[i]; ++i) {
    unsigned char c = static_cast<unsigned char>(host[i]);
    name[i] = (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
  }
}

}  // namespace qv::netbios
