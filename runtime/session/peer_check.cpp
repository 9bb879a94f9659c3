// Peer certificate checks run by the TLS library during each handshake.
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "platform/eventtext/eventtext.h"
#include "runtime/session/session_internal.h"

using namespace qv::session::internal;

namespace {

void TraceRefusal(X509_STORE_CTX* store, const char* check) {
  int err = X509_STORE_CTX_get_error(store);
  QVTraceMessage(8, kCategory, kModule, __LINE__, "%s refused the peer: %s (depth %d)", check,
                 X509_verify_cert_error_string(err), X509_STORE_CTX_get_error_depth(store));
}

// Admits a leaf whose only fault is being self-signed.
int AcceptSelfSignedLeaf(int ok, X509_STORE_CTX* store) {
  if (!ok && X509_STORE_CTX_get_error(store) == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT &&
      X509_STORE_CTX_get_error_depth(store) == 0) {
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
  }
  return ok;
}

}  // namespace

int CMCheckDCCert(X509_STORE_CTX* store, void* arg) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering CMCheckDCCert");
  X509_STORE_CTX_set_depth(store, 2);
  int ok = X509_verify_cert(store) == 1;
  if (!ok) TraceRefusal(store, "CMCheckDCCert");
  QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving CMCheckDCCert, return code %d", ok);
  return ok;
}

int CMCheckSSDesktopCert(X509_STORE_CTX* store, void* arg) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering CMCheckSSDesktopCert");
  X509_STORE_CTX_set_verify_cb(store, AcceptSelfSignedLeaf);
  int ok = X509_verify_cert(store) == 1;
  if (!ok) TraceRefusal(store, "CMCheckSSDesktopCert");
  QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving CMCheckSSDesktopCert, return code %d",
                 ok);
  return ok;
}
