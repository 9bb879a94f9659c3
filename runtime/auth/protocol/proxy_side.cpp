// The proxy's handler: identify the workstation, run the passcode loop with
// the workstation as the place of the prompt, then issue a session
// certificate or deny access; two test modes for trying the road.
#include <cstring>

#include "authcore.h"
#include "platform/eventtext/eventtext.h"
#include "platform/resolver/resolver.h"
#include "qvprotocol.h"
#include "runtime/auth/protocol/roles.h"
#include "runtime/auth/settings.h"
#include "runtime/session/session_manager.h"

namespace {

constexpr char kModule[] = "AMproxy";
constexpr uint32_t kInteractiveTest = 2;
constexpr size_t kHostNameSize = 256;

void Final(QVSTATUS sent) {
  if (sent != QV_OK) QV_TRACE(8, 6, kModule, "Final message failed, err=%d", static_cast<int>(sent));
}

}  // namespace

void ServeProxySession(QVNetSession* session, int socket, uint32_t peerAddress,
                       const uint8_t* peerCert, uint32_t peerCertLength) {
  const uint32_t testMode = qv::auth::TestMode();

  char workstation[kHostNameSize] = {};
  int error = 0;
  qv::resolver::Result found =
      qv::resolver::Current().Reverse(peerAddress, workstation, sizeof workstation, &error);
  if (found != qv::resolver::Result::kOk) {
    QV_TRACE(8, 6, kModule, "AMDesktopKelProxy: gethostbyaddr failed, err=%d", error);
    char dotted[16];
    qv::resolver::FormatIPv4(peerAddress, dotted, sizeof dotted);
    QVLogEvent(9, QVS_AM_NO_HOST_NAME, QV_SID_NONE, dotted, static_cast<uint32_t>(error));
    Final(testMode == 0 ? SendAccessDenied(session, socket, error)
                        : SendAuthenticationSuccessful(session, socket));
    return;
  }
  if (char* dot = std::strchr(workstation, '.')) *dot = '\0';

  char user[AM_NAME_BUFFER] = {};
  char domain[AM_NAME_BUFFER] = {};
  const char* inserts[5] = {user, domain, workstation, "Proxy Auth", "Interactive"};

  if (testMode != 0 && testMode != kInteractiveTest) {
    Final(SendAuthenticationSuccessful(session, socket));
    inserts[0] = inserts[1] = "N/A (Silent Test)";
    QVLogEventControlEx(1, 9, QVE_AM_AUTH_SUCCEEDED, QV_SID_NONE, 5, inserts);
    return;
  }

  bool authenticated = false;
  QVSTATUS status = PerformAuthentication(session, socket, user, domain, &authenticated);
  if (user[0] == '\0') inserts[0] = "N/A";
  if (domain[0] == '\0') inserts[1] = "N/A";
  if (status == QV_OK && authenticated) {
    Final(SendSessionCertificate(session, socket, peerCert, peerCertLength, user, domain,
                                 workstation));
    QVLogEventControlEx(1, 9, QVE_AM_AUTH_SUCCEEDED, QV_SID_NONE, 5, inserts);
  } else {
    Final(testMode == 0 ? SendAccessDenied(session, socket, static_cast<int32_t>(status))
                        : SendAuthenticationSuccessful(session, socket));
    QVILogEventEx(1, 9, QVS_AM_AUTH_FAILED, QV_SID_NONE, 5, inserts);
  }
}

extern "C" void AMDesktopKelProxy(SMSessionInfo* info) {
  QV_TRACE(2, 6, kModule, "Entering AMDesktopKelProxy");
  if (info == nullptr) return;
  ServeProxySession(info->pSession, info->iSocket, info->dwPeerAddr, info->pbPeerCert,
                    info->dwPeerCertLen);
  SMDeleteContext(info->iSocket, info->pSession);
  SMFreeSessionInfo(info);
  QV_TRACE(4, 6, kModule, "Leaving AMDesktopKelProxy, ret=<void>");
}
