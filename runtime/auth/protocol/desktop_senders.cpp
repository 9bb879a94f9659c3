// The desktop's answers to the agent's requests.
#include "platform/eventtext/eventtext.h"
#include "qvcert.h"
#include "qvprotocol.h"
#include "runtime/auth/protocol/roles.h"

namespace {
constexpr char kModule[] = "AMdtsend";

// `built` is the builder's status; *msg is read only after it ran.
QVSTATUS Send(QVNetSession* session, int socket, QVSTATUS built, HQVEXTOBJ* msg) {
  if (built != QV_OK) return built;  // the builder destroyed its object
  return errAMSendProtocolMessage(session, socket, *msg);
}
}  // namespace

QVSTATUS WaitForServerRequest(QVNetSession* session, int socket, HQVEXTOBJ* msg, uint16_t* type) {
  uint32_t limit = qv::protocol::ResponseTimeoutSeconds();
  return errAMReceiveProtocolMessage(session, socket, msg, type,
                                     limit > 0x7fffffffu ? 0x7fffffff : static_cast<int>(limit));
}

QVSTATUS SendSessionCertificateReply(QVNetSession* session, int socket, const char* user,
                                     const char* domain) {
  QV_TRACE(2, 6, kModule, "Entering SendSessionCertificateReply");
  HQVEXTOBJ cached = nullptr;
  QVSTATUS got = CMGetSessionCert(user, domain, &cached);
  if (got != QV_OK) {
    QV_TRACE(8, 6, kModule, "No cached session certificate for %s, err=%u", user, got);
    cached = nullptr;
  }
  HQVEXTOBJ msg = nullptr;
  QVSTATUS status = errAMBuildSessionCert(&msg, cached);
  errQVNetMsgDestroy(cached);
  status = Send(session, socket, status, &msg);
  QV_TRACE(4, 6, kModule, "Leaving SendSessionCertificateReply, ret=0x%08X", status);
  return status;
}

QVSTATUS SendPasscodeReply(QVNetSession* session, int socket, const PROMPT_DATA* block,
                           const char* domain) {
  HQVEXTOBJ msg = nullptr;
  QVSTATUS status = errAMBuildPasscode(&msg, block->szUsername, domain, block->szPasscode);
  return Send(session, socket, status, &msg);
}

QVSTATUS SendNewPinReply(QVNetSession* session, int socket, const PROMPT_DATA* block) {
  HQVEXTOBJ msg = nullptr;
  QVSTATUS status = errAMBuildNewPin(&msg, block->szNewPin);
  return Send(session, socket, status, &msg);
}

QVSTATUS SendNextTokenCodeReply(QVNetSession* session, int socket, const PROMPT_DATA* block) {
  HQVEXTOBJ msg = nullptr;
  QVSTATUS status = errAMBuildNextCode(&msg, block->szNextCode);
  return Send(session, socket, status, &msg);
}

QVSTATUS SendCancel(QVNetSession* session, int socket) {
  HQVEXTOBJ msg = nullptr;
  QVSTATUS status = errAMBuildCancel(&msg);
  return Send(session, socket, status, &msg);
}
