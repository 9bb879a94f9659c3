#include "runtime/session/session_fixture.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace qv::session::fixture {
namespace {

EVP_PKEY* MakeKey() { return EVP_RSA_gen(2048); }

void AddExt(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX v3;
  X509V3_set_ctx_nodb(&v3);
  X509V3_set_ctx(&v3, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

Credential Make(const char* cn, const Credential* issuer, bool ca, long notBefore, long notAfter) {
  static long serial = 1;
  Credential c;
  c.key = MakeKey();
  c.cert = X509_new();
  X509_set_version(c.cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c.cert), serial++);
  X509_gmtime_adj(X509_getm_notBefore(c.cert), notBefore);
  X509_gmtime_adj(X509_getm_notAfter(c.cert), notAfter);
  X509_NAME* name = X509_get_subject_name(c.cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn),
                             -1, -1, 0);
  X509_set_issuer_name(c.cert, issuer ? X509_get_subject_name(issuer->cert) : name);
  X509_set_pubkey(c.cert, c.key);
  if (ca) {
    AddExt(c.cert, issuer ? issuer->cert : c.cert, NID_basic_constraints, "critical,CA:TRUE");
    AddExt(c.cert, issuer ? issuer->cert : c.cert, NID_key_usage, "critical,keyCertSign,cRLSign");
  }
  X509_sign(c.cert, issuer ? issuer->key : c.key, EVP_sha256());
  return c;
}

std::mutex g_mutex;
X509* g_root = nullptr;
Credential g_dc, g_desktop;

QVSTATUS CopyDer(X509* cert, uint8_t** der, uint32_t* length) {
  *der = nullptr;
  *length = 0;
  if (!cert) return QVS_SM_CERT_UNREADABLE;
  int n = i2d_X509(cert, nullptr);
  *der = static_cast<uint8_t*>(malloc(static_cast<size_t>(n)));
  uint8_t* p = *der;
  i2d_X509(cert, &p);
  *length = static_cast<uint32_t>(n);
  return QV_OK;
}

QVSTATUS Key(EVP_PKEY* key, EVP_PKEY** out) {
  *out = nullptr;
  if (!key) return QVS_SM_KEY_CONVERT;
  EVP_PKEY_up_ref(key);
  *out = key;
  return QV_OK;
}

QVSTATUS Root(uint8_t** d, uint32_t* l) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return CopyDer(g_root, d, l);
}
QVSTATUS DcCert(uint8_t** d, uint32_t* l) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return CopyDer(g_dc.cert, d, l);
}
QVSTATUS DcKey(EVP_PKEY** k) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return Key(g_dc.key, k);
}
QVSTATUS DeskCert(uint8_t** d, uint32_t* l) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return CopyDer(g_desktop.cert, d, l);
}
QVSTATUS DeskKey(EVP_PKEY** k) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return Key(g_desktop.key, k);
}
void FreeBytes(uint8_t* b, uint32_t) { free(b); }

const CredentialSource kSource = {Root, DcCert, DcKey, DeskCert, DeskKey, FreeBytes};

}  // namespace

const Credentials& Get() {
  static Credentials* c = [] {
    auto* x = new Credentials;
    const long year = 365L * 24 * 3600;
    x->root = Make("Test Root", nullptr, true, 0, year);
    x->dc = Make("dc.example.test", &x->root, false, 0, year);
    x->desktop = Make("WORKSTATION1", nullptr, false, 0, year);
    x->otherRoot = Make("Other Root", nullptr, true, 0, year);
    x->dcOtherRoot = Make("dc.other.test", &x->otherRoot, false, 0, year);
    x->selfSignedDc = Make("dc.example.test", nullptr, false, 0, year);
    x->expiredDesktop = Make("WORKSTATION2", nullptr, false, -2 * year, -year);
    return x;
  }();
  return *c;
}

void Install(X509* root, Credential dc, Credential desktop) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_root = root;
  g_dc = dc;
  g_desktop = desktop;
}

const CredentialSource& Source() { return kSource; }

std::vector<uint8_t> Der(X509* cert) {
  int n = i2d_X509(cert, nullptr);
  std::vector<uint8_t> v(static_cast<size_t>(n));
  uint8_t* p = v.data();
  i2d_X509(cert, &p);
  return v;
}

}  // namespace qv::session::fixture
