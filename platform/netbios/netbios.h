// NetBIOS name queries.
//
// Linux has no NetBIOS LAN adapters: the system service enumerates none and
// never finds a name, so resolution falls through to the host-name resolver.
// Tests install a service of their own to see which queries are made.
// CMake target: qvnetbios.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::netbios {

inline constexpr size_t kNameLength = 16;

class NameService {
 public:
  virtual ~NameService() = default;
  // Asks each adapter in turn for `name`; true with the IPv4 address (network
  // byte order) of the first answer.
  virtual bool FindName(const unsigned char (&name)[kNameLength], uint32_t* address) = 0;
};

NameService& Current();
// Installs `service` (not owned); null restores the system service.
void SetForProcess(NameService* service);

// The 16-byte query name of a host: its first 16 characters, upper-cased,
// padded with spaces.
void MakeName(const char* host, unsigned char (&name)[kNameLength]);

}  // namespace qv::netbios
