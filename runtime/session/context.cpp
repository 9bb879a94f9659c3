// Process-wide TLS contexts: start-up, rundown and context set-up.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/eventtext/eventtext.h"
#include "platform/resolver/netsock.h"
#include "runtime/session/session_internal.h"

using namespace qv::session::internal;

namespace {

// TLS 1.2 suites: forward-secret key exchange with AEAD ciphers only. TLS 1.3
// suites are all AEAD.
constexpr const char* kCipherList = "ECDHE+AESGCM:ECDHE+CHACHA20";

std::mutex g_mutex;
SSL_CTX* g_client = nullptr;
SSL_CTX* g_server = nullptr;
std::atomic<const qv::session::CredentialSource*> g_source{nullptr};
// Role of the client context SMStartup asked for: -1 none, else bDesktopSide.
std::atomic<int> g_clientRole{-1};

void WipeAndFree(uint8_t* bytes, int length) {
  if (!bytes) return;
  memset(bytes, '*', static_cast<size_t>(length));
  OPENSSL_free(bytes);
}

}  // namespace

namespace qv::session {

void SetCredentialSource(const CredentialSource* source) { g_source.store(source); }

namespace internal {

const CredentialSource& Credentials() {
  const CredentialSource* s = g_source.load();
  return s ? *s : DefaultCredentialSource();
}

SSL_CTX* AcquireContext(bool client) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    SSL_CTX* ctx = client ? g_client : g_server;
    if (ctx) SSL_CTX_up_ref(ctx);
    if (ctx || !client) return ctx;
  }
  // A client context that could not be built at start-up (credentials not
  // installed yet, cache host not running) is tried again at each open.
  int role = g_clientRole.load();
  if (role < 0) return nullptr;
  QVSTATUS status = SMSetupSSLCTX(role, 1);
  QVTraceMessage(8, kCategory, kModule, __LINE__,
                 "Building the missing client context again: status 0x%08X", status);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_client) SSL_CTX_up_ref(g_client);
  return g_client;
}

}  // namespace internal
}  // namespace qv::session

QVSTATUS SetSSLKeys(SSL_CTX* ctx, int bDesktopSide) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering SetSSLKeys");
  const qv::session::CredentialSource& src = Credentials();
  EVP_PKEY* key = nullptr;
  uint8_t* cert = nullptr;
  uint32_t certLen = 0;
  uint8_t* keyDer = nullptr;
  int keyLen = 0;
  X509* x = nullptr;
  QVSTATUS status = bDesktopSide ? src.getDesktopPrivateKey(&key) : src.getDCPrivateKey(&key);
  if (status == QV_OK && !key) status = QVS_SM_KEY_CONVERT;
  if (status == QV_OK) {
    keyLen = i2d_PrivateKey(key, &keyDer);
    if (keyLen <= 0) status = QVS_SM_KEY_CONVERT;
  }
  if (status == QV_OK &&
      SSL_CTX_use_PrivateKey_ASN1(EVP_PKEY_get_base_id(key), ctx, keyDer, keyLen) != 1) {
    status = QVS_SM_KEY_REFUSED;
  }
  if (status == QV_OK) {
    status = bDesktopSide ? src.getDesktopCert(&cert, &certLen) : src.getDCCert(&cert, &certLen);
    if (status == QV_OK && !cert) status = QVS_SM_CERT_UNREADABLE;
  }
  if (status == QV_OK) {
    const unsigned char* p = cert;
    x = d2i_X509(nullptr, &p, certLen);
    if (!x) status = QVS_SM_CERT_UNREADABLE;
  }
  if (status == QV_OK && SSL_CTX_use_certificate(ctx, x) != 1) status = QVS_SM_KEY_REFUSED;
  if (status == QV_OK && SSL_CTX_check_private_key(ctx) != 1) status = QVS_SM_KEY_MISMATCH;

  X509_free(x);
  if (cert) src.freeBytes(cert, certLen);
  WipeAndFree(keyDer, keyLen);
  EVP_PKEY_free(key);
  ERR_clear_error();
  QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving SetSSLKeys, return code 0x%08X",
                 status);
  return status;
}

QVSTATUS SetTrustedRootCert(SSL_CTX* ctx) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering SetTrustedRootCert");
  const qv::session::CredentialSource& src = Credentials();
  uint8_t* der = nullptr;
  uint32_t len = 0;
  X509* root = nullptr;
  QVSTATUS status = src.getRootCert(&der, &len);
  if (status == QV_OK && !der) status = QVS_SM_CERT_UNREADABLE;
  if (status == QV_OK) {
    const unsigned char* p = der;
    root = d2i_X509(nullptr, &p, len);
    if (!root) status = QVS_SM_CERT_UNREADABLE;
  }
  if (status == QV_OK) {
    ERR_clear_error();
    if (X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx), root) != 1) {
      // A root already in the store is accepted.
      if (ERR_GET_REASON(ERR_peek_last_error()) != X509_R_CERT_ALREADY_IN_HASH_TABLE) {
        status = QVS_SM_ROOT_REFUSED;
      }
    }
  }
  if (status == QV_OK && SSL_CTX_add_client_CA(ctx, root) != 1) status = QVS_SM_ROOT_REFUSED;
  X509_free(root);
  if (der) src.freeBytes(der, len);
  ERR_clear_error();
  QVTraceMessage(4, kCategory, kModule, __LINE__,
                 "Leaving SetTrustedRootCert, return code 0x%08X", status);
  return status;
}

QVSTATUS SMSetupSSLCTX(int bDesktopSide, int bClientSessions) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering SMSetupSSLCTX");
  // Sessions exist only through a context: a peer that went away must not
  // end the process with a signal on the next write.
  qv::net::Startup();
  QVSTATUS status = QV_OK;
  SSL_CTX* ctx = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (bClientSessions ? g_client : g_server) status = QVS_SM_FAILED;
  }
  if (status == QV_OK) {
    ctx = SSL_CTX_new(bClientSessions ? TLS_client_method() : TLS_server_method());
    if (!ctx) status = QVS_SM_CONTEXT_FAILED;
  }
  if (status == QV_OK) {
    SSL_CTX_set_options(ctx, SSL_OP_ALL | SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                 SSL_OP_CIPHER_SERVER_PREFERENCE);
    if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION) != 1 ||
        SSL_CTX_set_cipher_list(ctx, kCipherList) != 1) {
      status = QVS_SM_CONTEXT_FAILED;
    }
  }
  if (status == QV_OK) {
    // No resumption: every session proves both certificates afresh.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(ctx, SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(ctx, 0);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    SSL_CTX_set_cert_verify_callback(ctx, bDesktopSide ? CMCheckDCCert : CMCheckSSDesktopCert,
                                     nullptr);
    status = SetSSLKeys(ctx, bDesktopSide);
  }
  if (status == QV_OK) status = SetTrustedRootCert(ctx);
  if (status == QV_OK) {
    std::lock_guard<std::mutex> lock(g_mutex);
    SSL_CTX*& slot = bClientSessions ? g_client : g_server;
    if (slot) {
      status = QVS_SM_FAILED;
    } else {
      slot = ctx;
      ctx = nullptr;
    }
  }
  SSL_CTX_free(ctx);
  ERR_clear_error();
  QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving SMSetupSSLCTX, return code 0x%08X",
                 status);
  return status;
}

QVSTATUS SMStartup(int bDesktopSide, int bClientSessions) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering SMStartup");
  if (qv::net::Startup() != 0) {
    QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving SMStartup, return code 0x%08X",
                   QVS_SM_SOCKETS_START_FAILED);
    return QVS_SM_SOCKETS_START_FAILED;
  }
  QVSTATUS status = QV_OK;
  if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                       nullptr) != 1) {
    status = QVS_SM_TLS_INIT_FAILED;
  } else {
    status = SMSetupSSLCTX(bDesktopSide, bClientSessions);
  }
  if (bClientSessions) g_clientRole.store(bDesktopSide ? 1 : 0);
  if (status != QV_OK) {
    // The process runs without this context; opens and listens report it.
    QVTraceMessage(8, kCategory, kModule, __LINE__,
                   "SMStartup: no %s context for the %s role, status 0x%08X",
                   bClientSessions ? "client" : "server", bDesktopSide ? "desktop" : "agent",
                   status);
  }
  QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving SMStartup, return code 0");
  return QV_OK;
}

QVSTATUS SMRundown(void) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering SMRundown");
  SMStopListening();
  g_clientRole.store(-1);
  SSL_CTX* client;
  SSL_CTX* server;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    client = g_client;
    server = g_server;
    g_client = g_server = nullptr;
  }
  // Sessions still open keep their own reference to the context.
  SSL_CTX_free(client);
  SSL_CTX_free(server);
  QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving SMRundown, return code 0");
  return QV_OK;
}
