// The TLS session object: byte stream for the network message layer,
// bounded handshake, peer certificate and release.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/eventtext/eventtext.h"
#include "platform/resolver/netsock.h"
#include "runtime/auth/settings.h"
#include "runtime/session/session_internal.h"

using namespace qv::session::internal;

SMSession::~SMSession() { SSL_free(ssl); }

long SMSession::Read(void* buffer, size_t size) {
  if (size == 0) return 0;
  for (;;) {
    ERR_clear_error();
    size_t got = 0;
    if (SSL_read_ex(ssl, buffer, size, &got) == 1) return static_cast<long>(got);
    switch (SSL_get_error(ssl, 0)) {
      case SSL_ERROR_ZERO_RETURN:
        return 0;
      case SSL_ERROR_WANT_READ:
      case SSL_ERROR_WANT_WRITE:
        continue;
      default:
        return -1;
    }
  }
}

long SMSession::Write(const void* buffer, size_t size) {
  if (size == 0) return 0;
  for (;;) {
    ERR_clear_error();
    size_t put = 0;
    if (SSL_write_ex(ssl, buffer, size, &put) == 1) return static_cast<long>(put);
    int e = SSL_get_error(ssl, 0);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) continue;
    return -1;
  }
}

size_t SMSession::Pending() {
  int n = SSL_pending(ssl);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

namespace qv::session::internal {

namespace {

void TraceTlsErrors(const char* what) {
  char text[256];
  unsigned long e;
  while ((e = ERR_get_error()) != 0) {
    ERR_error_string_n(e, text, sizeof text);
    QVTraceMessage(8, kCategory, kModule, __LINE__, "%s: %s", what, text);
  }
}

}  // namespace

QVSTATUS Handshake(SMSession* session, int fd, bool client) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(qv::auth::HandshakeTimeoutSeconds());
  if (qv::net::SetNonBlocking(fd, true) != 0) return QVS_SM_HANDSHAKE_FAILED;
  QVSTATUS status = QVS_SM_HANDSHAKE_FAILED;
  for (;;) {
    ERR_clear_error();
    int r = client ? SSL_connect(session->ssl) : SSL_accept(session->ssl);
    if (r == 1) {
      status = QV_OK;
      break;
    }
    int e = SSL_get_error(session->ssl, r);
    if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
      QVTraceMessage(8, kCategory, kModule, __LINE__, "SSL handshake failed, error %d", e);
      TraceTlsErrors("SSL handshake");
      break;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      QVTraceMessage(8, kCategory, kModule, __LINE__, "SSL handshake timed out");
      break;
    }
    int ms = static_cast<int>(left.count());
    int w = e == SSL_ERROR_WANT_READ ? qv::net::WaitReadable(fd, ms)
                                     : qv::net::WaitWritable(fd, ms);
    if (w != 0 && w != ETIMEDOUT) break;
  }
  if (qv::net::SetNonBlocking(fd, false) != 0) status = QVS_SM_HANDSHAKE_FAILED;
  return status;
}

QVSTATUS PeerCertificate(SMSession* session, uint8_t** der, uint32_t* length) {
  *der = nullptr;
  *length = 0;
  X509* cert = SSL_get1_peer_certificate(session->ssl);
  if (!cert) return QVS_SM_PEER_CERT_ENCODE;
  QVSTATUS status = QV_OK;
  int n = i2d_X509(cert, nullptr);
  if (n <= 0) {
    status = QVS_SM_PEER_CERT_ENCODE;
  } else {
    auto* buf = static_cast<uint8_t*>(malloc(static_cast<size_t>(n)));
    if (!buf) {
      status = QVS_SM_PEER_CERT_NO_MEMORY;
    } else {
      uint8_t* p = buf;
      if (i2d_X509(cert, &p) != n) {
        free(buf);
        status = QVS_SM_PEER_CERT_ENCODE;
      } else {
        *der = buf;
        *length = static_cast<uint32_t>(n);
      }
    }
  }
  X509_free(cert);
  return status;
}

}  // namespace qv::session::internal

QVSTATUS SMDeleteContext(int socket, SMSession* session) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering SMDeleteContext");
  if (session) {
    // Only a session that completed its handshake says goodbye; the peer's
    // answer is not awaited.
    if (SSL_is_init_finished(session->ssl)) {
      ERR_clear_error();
      SSL_shutdown(session->ssl);
    }
    ERR_clear_error();
  }
  qv::net::Close(socket);
  delete session;
  QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving SMDeleteContext, return code 0");
  return QV_OK;
}

void SMFreePeerCert(SMPeerCert* peerCert) {
  if (!peerCert) return;
  free(peerCert->pbCert);
  peerCert->pbCert = nullptr;
  peerCert->dwCertLen = 0;
}

void SMFreeSessionInfo(SMSessionInfo* info) {
  if (!info) return;
  free(info->pbPeerCert);
  free(info);
}
