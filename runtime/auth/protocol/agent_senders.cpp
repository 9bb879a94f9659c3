// The agent's requests and final messages.
#include <atomic>
#include <ctime>

#include "platform/eventtext/eventtext.h"
#include "qvcert.h"
#include "qvprotocol.h"
#include "runtime/auth/protocol/roles.h"

namespace {
constexpr char kModule[] = "AMagsend";

std::atomic<int32_t> g_serverTimeOffset{0};

// `built` is the builder's status; *msg is read only after it ran.
QVSTATUS Send(QVNetSession* session, int socket, QVSTATUS built, HQVEXTOBJ* msg) {
  if (built != QV_OK) return built;  // the builder destroyed its object
  return errAMSendProtocolMessage(session, socket, *msg);
}
}  // namespace

namespace qv::protocol {
int32_t ServerTimeOffset() { return g_serverTimeOffset.load(std::memory_order_relaxed); }
void ResetServerTimeOffsetForTest() { g_serverTimeOffset.store(0); }
// Set once, by the first passcode loop that finds it 0.
void SetServerTimeOffset(int32_t offset) { g_serverTimeOffset.store(offset, std::memory_order_relaxed); }
}  // namespace qv::protocol

QVSTATUS SendSessionCertificateRequest(QVNetSession* session, int socket, const char* user,
                                       const char* domain) {
  HQVEXTOBJ msg = nullptr;
  return Send(session, socket, errAMBuildSessionCertReq(&msg, user, domain), &msg);
}

QVSTATUS SendPasscodeRequest(QVNetSession* session, int socket, const char* user,
                             const char* domain, int32_t status) {
  const int32_t kelTime =
      static_cast<int32_t>(static_cast<int64_t>(time(nullptr)) + qv::protocol::ServerTimeOffset());
  HQVEXTOBJ msg = nullptr;
  return Send(session, socket, errAMBuildPasscodeReq(&msg, user, domain, kelTime, status), &msg);
}

QVSTATUS SendNewPinRequest(QVNetSession* session, int socket, const KEL_PIN_PARAMS* rules) {
  HQVEXTOBJ msg = nullptr;
  QVSTATUS built = errAMBuildNewPinReq(&msg, rules->szSystemPin,
                                       static_cast<int8_t>(rules->bAlphanumeric),
                                       static_cast<int8_t>(rules->bSelectable),
                                       rules->cMinPinLen, rules->cMaxPinLen);
  return Send(session, socket, built, &msg);
}

QVSTATUS SendNextTokenCodeRequest(QVNetSession* session, int socket) {
  HQVEXTOBJ msg = nullptr;
  return Send(session, socket, errAMBuildNextCodeReq(&msg), &msg);
}

QVSTATUS SendAccessDenied(QVNetSession* session, int socket, int32_t reason) {
  HQVEXTOBJ msg = nullptr;
  return Send(session, socket, errAMBuildAccessDenied(&msg, reason), &msg);
}

QVSTATUS SendAuthenticationSuccessful(QVNetSession* session, int socket) {
  HQVEXTOBJ msg = nullptr;
  return Send(session, socket, errAMBuildAuthSuccess(&msg), &msg);
}

QVSTATUS SendSessionCertificate(QVNetSession* session, int socket, const uint8_t* peerCert,
                                uint32_t peerCertLength, const char* user, const char* domain,
                                const char* workstation) {
  QV_TRACE(2, 6, kModule, "Entering SendSessionCertificate");
  HQVEXTOBJ cert = nullptr;
  QVSTATUS status =
      CMCreateSessionCert(user, domain, workstation, peerCert, peerCertLength, &cert);
  if (status == QVS_CM_SESSION_CERTS_OFF) {
    cert = nullptr;
    status = errAMCreateDummySessionCert(&cert);
  }
  if (status == QV_OK) {
    HQVEXTOBJ msg = nullptr;
    status = Send(session, socket, errAMBuildStoreSessionCert(&msg, user, domain, cert), &msg);
  }
  errQVNetMsgDestroy(cert);
  QV_TRACE(4, 6, kModule, "Leaving SendSessionCertificate, ret=0x%08X", status);
  return status;
}

QVSTATUS WaitForDesktopResponse(QVNetSession* session, int socket, HQVEXTOBJ* msg) {
  uint32_t limit = qv::protocol::ResponseTimeoutSeconds();
  uint16_t type = 0;
  return errAMReceiveProtocolMessage(session, socket, msg, &type,
                                     limit > 0x7fffffffu ? 0x7fffffff : static_cast<int>(limit));
}
