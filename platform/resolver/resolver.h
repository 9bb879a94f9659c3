// Host-name resolution.
//
// Forward lookups give the first IPv4 address of a name; reverse lookups the
// host name registered for an address. Addresses are IPv4 in network byte
// order. The process uses the system resolver unless a test installs its own.
// CMake target: qvresolver.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::resolver {

enum class Result {
  kOk,
  kNotFound,  // the name (or the address) has no entry
  kFailed,    // the resolver itself failed
};

class Resolver {
 public:
  virtual ~Resolver() = default;
  // First IPv4 address of `name`. `error` receives the resolver's own code.
  virtual Result Forward(const char* name, uint32_t* address, int* error) = 0;
  // Host name of `address` into `name` (at most `size` bytes, terminated);
  // kNotFound when the address has no name or the name does not fit.
  virtual Result Reverse(uint32_t address, char* name, size_t size, int* error) = 0;
};

// The resolver in use: the system's, or the one installed for the process.
Resolver& Current();

// Installs `resolver` (not owned; it must outlive its use); null restores the
// system resolver.
void SetForProcess(Resolver* resolver);

// True when `text` is a dotted IPv4 address; stores it in network byte order.
bool ParseDottedIPv4(const char* text, uint32_t* address);

// Dotted text of an address ("a.b.c.d"); `size` of 16 is always enough.
void FormatIPv4(uint32_t address, char* text, size_t size);

}  // namespace qv::resolver
