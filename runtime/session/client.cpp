// Client sessions.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdlib>
#include <new>

#include "platform/eventtext/eventtext.h"
#include "platform/resolver/netsock.h"
#include "runtime/auth/settings.h"
#include "runtime/session/session_internal.h"

using namespace qv::session::internal;

QVSTATUS SMClientOpenSession(const char* host, uint32_t port, int reserved1, int reserved2,
                             SMPeerCert* peerCert, int* socket, SMSession** session) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering SMClientOpenSession");
  if (peerCert) *peerCert = SMPeerCert{0, nullptr};
  if (socket) *socket = -1;
  if (session) *session = nullptr;
  if (!peerCert || !socket || !session || port == 0 || port > 0xFFFF) {
    QVTraceMessage(4, kCategory, kModule, __LINE__,
                   "Leaving SMClientOpenSession, return code 0x%08X", QVS_SM_FAILED);
    return QVS_SM_FAILED;
  }

  SSL_CTX* ctx = AcquireContext(true);
  if (!ctx) {
    QVTraceMessage(8, kCategory, kModule, __LINE__, "SMClientOpenSession: no client context");
    QVTraceMessage(4, kCategory, kModule, __LINE__,
                   "Leaving SMClientOpenSession, return code 0x%08X", QVS_SM_NO_CONTEXT);
    return QVS_SM_NO_CONTEXT;
  }
  QVSTATUS status = QV_OK;
  SMSession* s = nullptr;
  int fd = -1;
  uint32_t address = 0;
  SSL* ssl = SSL_new(ctx);
  SSL_CTX_free(ctx);  // the session holds its own reference
  if (ssl) {
    s = new (std::nothrow) SMSession(ssl);
    if (!s) SSL_free(ssl);
  }
  if (!s) status = QVS_SM_SESSION_FAILED;
  if (status == QV_OK) {
    SSL_set_connect_state(s->ssl);
    status = ResolveHost(host, &address);
  }
  if (status == QV_OK && qv::net::TcpSocket(&fd) != 0) status = QVS_SM_SOCKET_FAILED;
  if (status == QV_OK) {
    int ms = static_cast<int>(qv::auth::HandshakeTimeoutSeconds() * 1000);
    int rc = qv::net::Connect(fd, address, static_cast<uint16_t>(port), ms);
    if (rc != 0) {
      QVTraceMessage(8, kCategory, kModule, __LINE__, "connect() failed, error %d", rc);
      status = QVS_SM_CONNECT_FAILED;
    }
  }
  if (status == QV_OK && SSL_set_fd(s->ssl, fd) != 1) status = QVS_SM_FAILED;
  if (status == QV_OK) status = Handshake(s, fd, true);
  if (status == QV_OK) status = PeerCertificate(s, &peerCert->pbCert, &peerCert->dwCertLen);

  if (status == QV_OK) {
    *socket = fd;
    *session = s;
  } else {
    SMFreePeerCert(peerCert);
    SMDeleteContext(fd, s);
  }
  ERR_clear_error();
  QVTraceMessage(4, kCategory, kModule, __LINE__,
                 "Leaving SMClientOpenSession, return code 0x%08X", status);
  return status;
}
