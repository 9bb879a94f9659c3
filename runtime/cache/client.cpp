// A client's calls to the cache host.
#include <cstdlib>
#include <cstring>

#include "platform/rpc/rpc.h"
#include "runtime/cache/cache_internal.h"

namespace wire = qv::rpc::cache;

namespace qv::cache::internal {

const char* ProcedureName(uint32_t procedure) {
  switch (procedure) {
    case wire::kGetDesktopCred:
      return "RDMDesktopGetDesktopCred";
    case wire::kStoreSessionCert:
      return "RDMDesktopStoreSessionCert";
    case wire::kGetSessionCert:
      return "RDMDesktopGetSessionCert";
    case wire::kClearSessionCerts:
      return "RDMDesktopClearSessionCerts";
    default:
      return "RDM";
  }
}

QVSTATUS CallException(uint32_t procedure, uint32_t code) {
  DM_TRACE(8, "Exception detected during %s(). Exception code: %d", ProcedureName(procedure),
           static_cast<int>(code));
  return QVS_DM_RPC_FAILED;
}

QVSTATUS RemoteCall(DMHANDLE handle, const wire::Request& request, wire::Reply* reply) {
  const auto* binding = static_cast<const Binding*>(handle);
  if (!binding || handle == reinterpret_cast<DMHANDLE>(DM_LOCAL_HANDLE) ||
      binding->magic != kBindingMagic) {
    return CallException(request.procedure, qv::rpc::kRpcInvalidBinding);
  }
  std::vector<uint8_t> sent, answer;
  if (!wire::EncodeRequest(request, &sent)) return CallException(request.procedure, qv::rpc::kRpcBadStubData);
  uint32_t rpc = qv::rpc::Call(binding->endpoint, sent, &answer, CallTimeoutMs());
  wire::Wipe(&sent);
  if (rpc == qv::rpc::kRpcOk && !wire::DecodeReply(request.procedure, answer.data(), answer.size(), reply))
    rpc = qv::rpc::kRpcBadStubData;
  wire::Wipe(&answer);
  if (rpc != qv::rpc::kRpcOk) return CallException(request.procedure, rpc);
  return reply->status;
}

QVSTATUS TakeReplyBuffer(wire::Reply* reply, CM_CRED_BUFFER* out) {
  *out = CM_CRED_BUFFER{0, nullptr};
  if (!reply->cred.present) return QV_OK;
  const size_t n = reply->cred.bytes.size();
  auto* bytes = static_cast<uint8_t*>(std::malloc(n ? n : 1));
  QVSTATUS status = QV_OK;
  if (!bytes) {
    status = QVS_CM_ENTRY_NO_MEMORY;
  } else {
    if (n) std::memcpy(bytes, reply->cred.bytes.data(), n);
    *out = CM_CRED_BUFFER{static_cast<uint32_t>(n), bytes};
  }
  wire::Wipe(&reply->cred.bytes);
  return status;
}

}  // namespace qv::cache::internal
