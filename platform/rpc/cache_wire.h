// Encoding of the credential cache's four procedures on the local RPC
// transport.
//
// Every integer is 32 bits, little-endian. A request is the procedure number
// followed by its parameters; a reply is the status followed, for the two
// fetches, by the credentials buffer.
//   string  : length (0xFFFFFFFF for a null pointer) then that many bytes,
//             the last of them the terminating zero and no zero before it
//   buffer  : present flag (0 null, 1 present), length, then the bytes when
//             present (a null buffer has length 0)
//   0 GetDesktopCred    : item
//   1 StoreSessionCert  : user, domain (strings), text (buffer)
//   2 GetSessionCert    : user, domain
//   3 ClearSessionCerts : nothing
// Decoders check every length against the bounds below and against the
// bytes left, and refuse trailing bytes. Platform-neutral.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::rpc::cache {

enum Procedure : uint32_t {
  kGetDesktopCred = 0,
  kStoreSessionCert = 1,
  kGetSessionCert = 2,
  kClearSessionCerts = 3,
};

inline constexpr uint32_t kMaxStringBytes = 1024;       // terminating zero included
inline constexpr uint32_t kMaxBufferBytes = 256 * 1024;  // certificate texts and keys
inline constexpr uint32_t kNullLength = 0xFFFFFFFFu;

struct OptString {
  bool present = false;
  std::string text;
};

struct OptBuffer {
  bool present = false;
  std::vector<uint8_t> bytes;
};

struct Request {
  uint32_t procedure = 0;
  uint32_t item = 0;    // kGetDesktopCred
  OptString user;       // kStoreSessionCert, kGetSessionCert
  OptString domain;
  OptBuffer text;       // kStoreSessionCert
};

struct Reply {
  uint32_t status = 0;
  OptBuffer cred;  // kGetDesktopCred, kGetSessionCert
};

// Encoders fail (false) only when a field exceeds its bound.
bool EncodeRequest(const Request& request, std::vector<uint8_t>* out);
bool DecodeRequest(const uint8_t* data, size_t length, Request* out);
bool EncodeReply(uint32_t procedure, const Reply& reply, std::vector<uint8_t>* out);
bool DecodeReply(uint32_t procedure, const uint8_t* data, size_t length, Reply* out);

// Overwrites the bytes with '*' and empties the vector (key material).
void Wipe(std::vector<uint8_t>* bytes);

}  // namespace qv::rpc::cache
