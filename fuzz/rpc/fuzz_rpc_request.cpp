// The cache host's request decoder, and the reply decoder of every
// procedure, on arbitrary bytes; what decodes must encode back to the same
// bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/rpc/cache_wire.h"

using namespace qv::rpc::cache;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Request request;
  if (DecodeRequest(data, size, &request)) {
    std::vector<uint8_t> again;
    if (!EncodeRequest(request, &again) || again != std::vector<uint8_t>(data, data + size)) abort();
  }
  for (uint32_t procedure = kGetDesktopCred; procedure <= kClearSessionCerts; ++procedure) {
    Reply reply;
    if (DecodeReply(procedure, data, size, &reply)) {
      std::vector<uint8_t> again;
      if (!EncodeReply(procedure, reply, &again) || again != std::vector<uint8_t>(data, data + size))
        abort();
    }
  }
  return 0;
}
