// Certificate files, key checks and the release calls.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "qvcert.h"
#include "runtime/cert/cm_internal.h"

namespace qv::cert {
namespace {

constexpr char kModule[] = "CMutils";
constexpr long kMaxCertFile = 1L << 20;
std::atomic<int64_t> g_clockOffset{0};

}  // namespace

uint32_t FacilityError() {
  unsigned long e = ERR_peek_last_error();
  ERR_clear_error();
  return static_cast<uint32_t>(ERR_GET_REASON(e));
}

X509* ParseCert(const uint8_t* der, size_t length) {
  if (!der || length == 0 || length > static_cast<size_t>(kMaxCertFile)) return nullptr;
  const unsigned char* p = der;
  X509* cert = d2i_X509(nullptr, &p, static_cast<long>(length));
  if (cert && p != der + length) {
    X509_free(cert);
    cert = nullptr;
  }
  return cert;
}

std::vector<uint8_t> CertDer(const X509* cert) {
  std::vector<uint8_t> out;
  int n = i2d_X509(cert, nullptr);
  if (n <= 0) return out;
  out.resize(static_cast<size_t>(n));
  unsigned char* p = out.data();
  if (i2d_X509(cert, &p) != n) out.clear();
  return out;
}

EVP_PKEY* PrivateKeyFromPkcs8(const uint8_t* der, size_t length) {
  if (!der || length == 0 || length > (1u << 20)) return nullptr;
  const unsigned char* p = der;
  PKCS8_PRIV_KEY_INFO* info = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(length));
  if (!info) return nullptr;
  EVP_PKEY* key = nullptr;
  const ASN1_OBJECT* alg = nullptr;
  if (p == der + length && PKCS8_pkey_get0(&alg, nullptr, nullptr, nullptr, info) == 1 &&
      OBJ_obj2nid(alg) == NID_rsaEncryption) {
    key = EVP_PKCS82PKEY(info);
    if (key && EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
      EVP_PKEY_free(key);
      key = nullptr;
    }
  }
  PKCS8_PRIV_KEY_INFO_free(info);
  return key;
}

SecureBytes PrivateKeyToPkcs8(EVP_PKEY* key) {
  SecureBytes out;
  PKCS8_PRIV_KEY_INFO* info = key ? EVP_PKEY2PKCS8(key) : nullptr;
  if (!info) return out;
  int n = i2d_PKCS8_PRIV_KEY_INFO(info, nullptr);
  if (n > 0) {
    out.resize(static_cast<size_t>(n));
    unsigned char* p = out.data();
    if (i2d_PKCS8_PRIV_KEY_INFO(info, &p) != n) out.clear();
  }
  PKCS8_PRIV_KEY_INFO_free(info);
  return out;
}

bool EnsureProviders() {
  static std::once_flag once;
  static bool ok = false;
  static OSSL_PROVIDER* providers[2] = {nullptr, nullptr};
  std::call_once(once, [] {
    // Loading one provider explicitly turns off the implicit default, so load both.
    providers[0] = OSSL_PROVIDER_load(nullptr, "default");
    providers[1] = OSSL_PROVIDER_load(nullptr, "legacy");
    ok = providers[0] && providers[1];
    if (!ok) CM_TRACE(kTraceFlow, kModule, "Cannot load the legacy cipher provider");
    // Released before the library's own clean-up, which runs later.
    std::atexit([] {
      for (OSSL_PROVIDER*& p : providers) {
        if (p) OSSL_PROVIDER_unload(p);
        p = nullptr;
      }
    });
  });
  return ok;
}

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)) + g_clockOffset.load(); }
void SetClockOffsetForTest(int64_t seconds) { g_clockOffset.store(seconds); }

}  // namespace qv::cert

using namespace qv::cert;

extern "C" {

uint32_t errQVCertReadFromFile(const char* path, uint32_t* length, uint8_t** bytes) {
  CM_ENTER(kModule, "errQVCertReadFromFile");
  uint32_t status = 0;
  if (length) *length = 0;
  if (bytes) *bytes = nullptr;
  std::FILE* f = (path && length && bytes) ? std::fopen(path, "rb") : nullptr;
  long size = -1;
  uint8_t* buf = nullptr;
  if (!f) {
    status = QVCRYPTO_FILE_NOT_FOUND;
  } else if (std::fseek(f, 0, SEEK_END) != 0 || (size = std::ftell(f)) <= 0 ||
             size > kMaxCertFile || std::fseek(f, 0, SEEK_SET) != 0) {
    status = QVCRYPTO_CERT_FIELDS;
  } else if (!(buf = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size))))) {
    status = QVCRYPTO_CERT_NO_MEMORY;
  } else if (std::fread(buf, 1, static_cast<size_t>(size), f) != static_cast<size_t>(size)) {
    std::free(buf);
    status = QVCRYPTO_CERT_FIELDS;
  } else {
    *bytes = buf;
    *length = static_cast<uint32_t>(size);
  }
  if (f) std::fclose(f);
  CM_LEAVE(kModule, "errQVCertReadFromFile", status);
  return status;
}

void vQVCertFreeCert(uint8_t* bytes) { std::free(bytes); }

QVSTATUS CMCheckPrivateKey(const uint8_t* key, uint32_t length) {
  CM_ENTER(kModule, "CMCheckPrivateKey");
  QVSTATUS status = QV_OK;
  EVP_PKEY* pkey = PrivateKeyFromPkcs8(key, length);
  if (!pkey) {
    QVLogEvent(kEventCategory, QVS_CM_PRIVATE_KEY_CHECK, QV_SID_NONE, nullptr, FacilityError());
    status = QVS_CM_CRYPTO;
  }
  EVP_PKEY_free(pkey);
  CM_LEAVE(kModule, "CMCheckPrivateKey", status);
  return status;
}

QVSTATUS CMDestroyCert(uint8_t* bytes, uint32_t length) {
  if (!bytes) return QVS_CM_NULL_POINTER;
  WipeFree(bytes, length);
  return QV_OK;
}

QVSTATUS CMDestroyKey(EVP_PKEY** key) {
  if (!key || !*key) return QVS_CM_NULL_POINTER;
  EVP_PKEY_free(*key);
  *key = nullptr;
  return QV_OK;
}

}  // extern "C"
