// Pieces shared by the cache service's units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/eventtext/eventtext.h"
#include "platform/rpc/cache_wire.h"
#include "qvcert.h"
#include "qvstatus.h"
#include "runtime/cache/cache_service.h"

namespace qv::cache::internal {

inline constexpr uint32_t kCategory = 6;
inline constexpr char kModule[] = "DMmain";
inline constexpr uint32_t kMaxCalls = 10;

// A client's binding: where the host listens.
struct Binding {
  uint32_t magic;
  std::string endpoint;
};
inline constexpr uint32_t kBindingMagic = 0x444D4231;  // "DMB1"

// The procedure's name as traced.
const char* ProcedureName(uint32_t procedure);

// One remote call; QVS_DM_RPC_FAILED (traced) when the transport fails or
// the answer does not decode, otherwise the host's status with `reply`.
QVSTATUS RemoteCall(DMHANDLE handle, const qv::rpc::cache::Request& request,
                    qv::rpc::cache::Reply* reply);
// Traces a failed call as the host's exception and gives QVS_DM_RPC_FAILED.
QVSTATUS CallException(uint32_t procedure, uint32_t code);

// Copies a reply's buffer into a new malloc'd CM_CRED_BUFFER.
QVSTATUS TakeReplyBuffer(qv::rpc::cache::Reply* reply, CM_CRED_BUFFER* out);

// The host's request handler for the transport.
bool ServeRequest(qv::rpc::CallContext* call, const std::vector<uint8_t>& request,
                  std::vector<uint8_t>* reply, void* arg);

int CallTimeoutMs();

}  // namespace qv::cache::internal

#define DM_ENTER(name) \
  QVTraceMessage(2, qv::cache::internal::kCategory, qv::cache::internal::kModule, __LINE__, "Entering " name)
#define DM_LEAVE(name, status)                                                                  \
  QVTraceMessage(4, qv::cache::internal::kCategory, qv::cache::internal::kModule, __LINE__,     \
                 "Leaving " name ", return code 0x%08X", static_cast<unsigned>(status))
#define DM_TRACE(level, ...) \
  QVTraceMessage((level), qv::cache::internal::kCategory, qv::cache::internal::kModule, __LINE__, __VA_ARGS__)
