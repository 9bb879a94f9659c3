// Peer certificate checks on arbitrary certificate chains: the input is one
// or more DER certificates back to back, the first being the peer's.
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstddef>
#include <cstdint>

#include "runtime/session/session_manager.h"

namespace {

X509* MakeRoot() {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 365);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Test Root"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509_set_pubkey(cert, key);
  X509_sign(cert, key, EVP_sha256());
  EVP_PKEY_free(key);
  return cert;
}

X509_STORE* Store() {
  static X509_STORE* store = [] {
    X509_STORE* s = X509_STORE_new();
    X509* root = MakeRoot();
    X509_STORE_add_cert(s, root);
    X509_free(root);
    return s;
  }();
  return store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const unsigned char* p = data;
  const unsigned char* end = data + size;
  X509* leaf = d2i_X509(nullptr, &p, static_cast<long>(size));
  if (!leaf) return 0;
  STACK_OF(X509)* chain = sk_X509_new_null();
  for (int i = 0; i < 4 && p < end; ++i) {
    X509* c = d2i_X509(nullptr, &p, static_cast<long>(end - p));
    if (!c) break;
    sk_X509_push(chain, c);
  }
  for (int check = 0; check < 2; ++check) {
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    if (X509_STORE_CTX_init(ctx, Store(), leaf, chain) == 1) {
      if (check == 0) {
        CMCheckDCCert(ctx, nullptr);
      } else {
        CMCheckSSDesktopCert(ctx, nullptr);
      }
    }
    X509_STORE_CTX_free(ctx);
  }
  sk_X509_pop_free(chain, X509_free);
  X509_free(leaf);
  return 0;
}
