// The host's side: admission and the server routines.
#include <cstdlib>
#include <cstring>

#include "platform/rpc/rpc.h"
#include "runtime/auth/settings.h"
#include "runtime/cache/cache_internal.h"

using namespace qv::cache::internal;
namespace wire = qv::rpc::cache;

namespace {

// Moves a local operation's buffer into the reply, wiping the original.
void PutBuffer(CM_CRED_BUFFER* buf, wire::OptBuffer* out) {
  out->present = buf->bytes != nullptr;
  if (buf->bytes) {
    out->bytes.assign(buf->bytes, buf->bytes + buf->length);
    CMDestroyCert(buf->bytes, buf->length);
  }
  *buf = CM_CRED_BUFFER{0, nullptr};
}

const char* OrNull(const wire::OptString& s) { return s.present ? s.text.c_str() : nullptr; }

}  // namespace

namespace qv::cache::internal {

bool ServeRequest(qv::rpc::CallContext* call, const std::vector<uint8_t>& bytes,
                  std::vector<uint8_t>* out, void*) {
  wire::Request req;
  if (!wire::DecodeRequest(bytes.data(), bytes.size(), &req)) {
    DM_TRACE(8, "Malformed cache request of %u bytes refused", static_cast<unsigned>(bytes.size()));
    return false;
  }
  wire::Reply reply;
  CM_CRED_BUFFER buf{0, nullptr};
  switch (req.procedure) {
    case wire::kGetDesktopCred:
      reply.status = _RDMDesktopGetDesktopCred(call, req.item, &buf);
      PutBuffer(&buf, &reply.cred);
      break;
    case wire::kStoreSessionCert: {
      CM_CRED_BUFFER text{static_cast<uint32_t>(req.text.bytes.size()),
                          req.text.present ? req.text.bytes.data() : nullptr};
      reply.status = _RDMDesktopStoreSessionCert(call, OrNull(req.user), OrNull(req.domain),
                                                 req.text.present ? &text : nullptr);
      wire::Wipe(&req.text.bytes);
      break;
    }
    case wire::kGetSessionCert:
      reply.status = _RDMDesktopGetSessionCert(call, OrNull(req.user), OrNull(req.domain), &buf);
      PutBuffer(&buf, &reply.cred);
      break;
    case wire::kClearSessionCerts:
      reply.status = _RDMDesktopClearSessionCerts(call);
      break;
  }
  const bool ok = wire::EncodeReply(req.procedure, reply, out);
  wire::Wipe(&reply.cred.bytes);
  return ok;
}

}  // namespace qv::cache::internal

extern "C" {

int RDMVerifyCaller(DMBINDING binding) {
  DM_ENTER("RDMVerifyCaller");
  int admitted = 0;
  const std::string sequence = qv::rpc::ProtocolSequence(binding);
  qv::rpc::PeerIdentity peer;
  if (sequence != "ncalrpc") {
    DM_TRACE(8, "Invalid RPC protocol sequence: %s", sequence.c_str());
  } else if (!qv::rpc::PeerCredentials(binding, &peer)) {
    DM_TRACE(8, "RDMVerifyCaller() detected failure.");
  } else if (peer.uid == 0) {
    admitted = 1;
  } else {
    // The administrator's group, read at each call.
    char group[256] = {};
    if (QVAgentGetSetting(DM_CLIENT_GROUP_SETTING, group, sizeof group - 1) && group[0] &&
        qv::rpc::PeerInGroup(binding, group)) {
      admitted = 1;
    } else {
      DM_TRACE(8, "RDMVerifyCaller() detected the required privilege is not set");
    }
  }
  DM_TRACE(8, "Cache caller pid %u uid %u %s", peer.pid, peer.uid, admitted ? "admitted" : "refused");
  DM_LEAVE("RDMVerifyCaller", admitted);
  return admitted;
}

QVSTATUS _RDMDesktopGetDesktopCred(DMBINDING binding, uint32_t item, CM_CRED_BUFFER* out) {
  DM_ENTER("_RDMDesktopGetDesktopCred");
  if (out) *out = CM_CRED_BUFFER{0, nullptr};
  QVSTATUS status = RDMVerifyCaller(binding) ? LDMDesktopGetDesktopCred(item, out) : QVS_DM_NOT_ADMITTED;
  DM_LEAVE("_RDMDesktopGetDesktopCred", status);
  return status;
}

QVSTATUS _RDMDesktopStoreSessionCert(DMBINDING binding, const char* user, const char* domain,
                                     const CM_CRED_BUFFER* text) {
  DM_ENTER("_RDMDesktopStoreSessionCert");
  QVSTATUS status =
      RDMVerifyCaller(binding) ? LDMDesktopStoreSessionCert(user, domain, text) : QVS_DM_NOT_ADMITTED;
  DM_LEAVE("_RDMDesktopStoreSessionCert", status);
  return status;
}

QVSTATUS _RDMDesktopGetSessionCert(DMBINDING binding, const char* user, const char* domain,
                                   CM_CRED_BUFFER* out) {
  DM_ENTER("_RDMDesktopGetSessionCert");
  if (out) *out = CM_CRED_BUFFER{0, nullptr};
  QVSTATUS status =
      RDMVerifyCaller(binding) ? LDMDesktopGetSessionCert(user, domain, out) : QVS_DM_NOT_ADMITTED;
  DM_LEAVE("_RDMDesktopGetSessionCert", status);
  return status;
}

QVSTATUS _RDMDesktopClearSessionCerts(DMBINDING binding) {
  DM_ENTER("_RDMDesktopClearSessionCerts");
  QVSTATUS status = RDMVerifyCaller(binding) ? LDMDesktopClearSessionCerts() : QVS_DM_NOT_ADMITTED;
  DM_LEAVE("_RDMDesktopClearSessionCerts", status);
  return status;
}

}  // extern "C"
