#include "platform/resolver/resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace qv::resolver {
namespace {

class SystemResolver final : public Resolver {
 public:
  Result Forward(const char* name, uint32_t* address, int* error) override {
    *error = 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    int rc = getaddrinfo(name, nullptr, &hints, &list);
    if (rc != 0) {
      *error = rc;
      return (rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_FAIL) ? Result::kNotFound
                                                                       : Result::kFailed;
    }
    Result result = Result::kNotFound;
    for (addrinfo* a = list; a; a = a->ai_next) {
      if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
        *address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
        result = Result::kOk;
        break;
      }
    }
    freeaddrinfo(list);
    return result;
  }

  Result Reverse(uint32_t address, char* name, size_t size, int* error) override {
    *error = 0;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    int rc = getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host,
                         nullptr, 0, NI_NAMEREQD);
    if (rc != 0) {
      *error = rc;
      return (rc == EAI_NONAME || rc == EAI_FAIL) ? Result::kNotFound : Result::kFailed;
    }
    size_t len = strlen(host);
    if (len + 1 > size) return Result::kNotFound;
    memcpy(name, host, len + 1);
    return Result::kOk;
  }
};

SystemResolver g_system;
std::atomic<Resolver*> g_current{nullptr};

}  // namespace

Resolver& Current() {
  Resolver* r = g_current.load(std::memory_order_acquire);
  return r ? *r : g_system;
}

void SetForProcess(Resolver* resolver) { g_current.store(resolver, std::memory_order_release); }

bool ParseDottedIPv4(const char* text, uint32_t* address) {
  if (!text) return false;
  in_addr a{};
  // inet_pton accepts only the four-part dotted decimal form.
  if (inet_pton(AF_INET, text, &a) != 1) return false;
  *address = a.s_addr;
  return true;
}

void FormatIPv4(uint32_t address, char* text, size_t size) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
  snprintf(text, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

}  // namespace qv::resolver
