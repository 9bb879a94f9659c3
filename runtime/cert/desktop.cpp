// Desktop credentials and the desktop calls bound to the cache dispatch.
#include "runtime/cert/desktop.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "qvcert.h"
#include "runtime/cert/issue.h"
#include "runtime/cert/sessioncache.h"

namespace qv::cert {
namespace {

constexpr char kModule[] = "CMdesk";
constexpr char kDesktopName[] = "KEL/Dazar 4.3 Desktop";
constexpr int64_t kNotBefore = 1;
constexpr int64_t kNotAfter = 2147483647;

std::mutex g_credsMutex;
std::unique_ptr<DesktopCreds> g_creds;

const CMCacheDispatch kLocal = {LDMDesktopGetDesktopCred, LDMDesktopStoreSessionCert,
                                LDMDesktopGetSessionCert, LDMDesktopClearSessionCerts};
std::atomic<const CMCacheDispatch*> g_dispatch{&kLocal};

}  // namespace

void ResetDesktopForTest() {
  {
    std::lock_guard<std::mutex> lock(g_credsMutex);
    g_creds.reset();
  }
  DestroySessionCache();
}

}  // namespace qv::cert

using namespace qv::cert;

extern "C" {

const CMCacheDispatch* CMGetCacheDispatch(void) { return g_dispatch.load(); }
void CMSetCacheDispatch(const CMCacheDispatch* dispatch) { g_dispatch.store(dispatch ? dispatch : &kLocal); }

QVSTATUS GenerateSSDesktopCreds(DesktopCreds* creds) {
  CM_ENTER(kModule, "GenerateSSDesktopCreds");
  QVSTATUS status = QV_OK;
  creds->cert.clear();
  creds->key.clear();
  EVP_PKEY* key = GenerateRsaKey(kRsaBits);
  X509_NAME* name = X509_NAME_new();
  X509* cert = X509_new();
  if (!key) {
    QVLogEvent(kEventCategory, QVS_CM_KEYGEN_FAILED, QV_SID_NONE, nullptr, FacilityError());
    status = QVS_CM_CRYPTO;
  } else if (!name || !cert ||
             X509_NAME_add_entry_by_NID(name, NID_commonName, V_ASN1_PRINTABLESTRING,
                                        reinterpret_cast<const unsigned char*>(kDesktopName),
                                        sizeof kDesktopName - 1, -1, 0) != 1 ||
             X509_set_version(cert, 2) != 1 || !SetRandomSerial(cert) ||
             X509_set_subject_name(cert, name) != 1 || X509_set_issuer_name(cert, name) != 1 ||
             !ASN1_TIME_set(X509_getm_notBefore(cert), kNotBefore) ||
             !ASN1_TIME_set(X509_getm_notAfter(cert), kNotAfter) || X509_set_pubkey(cert, key) != 1 ||
             X509_sign(cert, key, EVP_sha256()) <= 0) {
    QVLogEvent(kEventCategory, QVS_CM_DESKTOP_CERT_BUILD, QV_SID_NONE, nullptr, FacilityError());
    status = QVS_CM_BAD_CERT;
  } else if ((creds->key = PrivateKeyToPkcs8(key)).empty()) {
    QVLogEvent(kEventCategory, QVS_CM_PRIVATE_KEY_ENCODE, QV_SID_NONE, nullptr, FacilityError());
    status = QVS_CM_CRYPTO;
  } else if ((creds->cert = CertDer(cert)).empty()) {
    QVLogEvent(kEventCategory, QVS_CM_DESKTOP_CERT_ENCODE, QV_SID_NONE, nullptr, FacilityError());
    creds->key.clear();
    status = QVS_CM_BAD_CERT;
  }
  X509_free(cert);
  X509_NAME_free(name);
  EVP_PKEY_free(key);
  CM_LEAVE(kModule, "GenerateSSDesktopCreds", status);
  return status;
}

QVSTATUS InitializeDesktopData(DesktopCreds* creds) {
  CM_ENTER(kModule, "InitializeDesktopData");
  QVSTATUS status = CreateSessionCache();
  if (status == QV_OK) {
    auto kept = std::make_unique<DesktopCreds>();
    kept->cert = std::move(creds->cert);
    kept->key = std::move(creds->key);
    std::lock_guard<std::mutex> lock(g_credsMutex);
    g_creds = std::move(kept);
  }
  CM_LEAVE(kModule, "InitializeDesktopData", status);
  return status;
}

QVSTATUS CMInitDesktopSide(int bHostCache) {
  CM_ENTER(kModule, "CMInitDesktopSide");
  QVSTATUS status = InitializeUtils();
  if (status == QV_OK) status = CMInitRand();
  if (status == QV_OK && bHostCache) {
    DesktopCreds creds;
    status = GenerateSSDesktopCreds(&creds);
    if (status == QV_OK) status = InitializeDesktopData(&creds);
  }
  CM_LEAVE(kModule, "CMInitDesktopSide", status);
  return status;
}

QVSTATUS LDMDesktopGetDesktopCred(uint32_t item, CM_CRED_BUFFER* out) {
  CM_ENTER(kModule, "LDMDesktopGetDesktopCred");
  QVSTATUS status = QV_OK;
  if (out) *out = CM_CRED_BUFFER{0, nullptr};
  if (item != CM_ITEM_PRIVATE_KEY && item != CM_ITEM_CERTIFICATE) {
    status = QVS_CM_BAD_CRED_ITEM;
  } else if (!out) {
    status = QVS_CM_NULL_POINTER;
  } else {
    std::lock_guard<std::mutex> lock(g_credsMutex);
    if (!g_creds) {
      status = QVS_CM_NO_CREDENTIALS;
    } else {
      const uint8_t* src = item == CM_ITEM_CERTIFICATE ? g_creds->cert.data() : g_creds->key.data();
      const size_t n = item == CM_ITEM_CERTIFICATE ? g_creds->cert.size() : g_creds->key.size();
      if (!(out->bytes = CopyBytes(src, n)))
        status = QVS_CM_ENTRY_NO_MEMORY;
      else
        out->length = static_cast<uint32_t>(n);
    }
  }
  CM_LEAVE(kModule, "LDMDesktopGetDesktopCred", status);
  return status;
}

QVSTATUS CMGetSSDesktopCert(uint8_t** cert, uint32_t* length) {
  CM_ENTER(kModule, "CMGetSSDesktopCert");
  CM_CRED_BUFFER buf{0, nullptr};
  if (cert) *cert = nullptr;
  if (length) *length = 0;
  QVSTATUS status = (cert && length) ? CMGetCacheDispatch()->getDesktopCred(CM_ITEM_CERTIFICATE, &buf)
                                     : QVS_CM_NULL_POINTER;
  if (status == QV_OK) {
    *cert = buf.bytes;
    *length = buf.length;
  }
  CM_LEAVE(kModule, "CMGetSSDesktopCert", status);
  return status;
}

QVSTATUS CMGetDesktopPrivateKey(EVP_PKEY** key) {
  CM_ENTER(kModule, "CMGetDesktopPrivateKey");
  CM_CRED_BUFFER buf{0, nullptr};
  if (key) *key = nullptr;
  QVSTATUS status = key ? CMGetCacheDispatch()->getDesktopCred(CM_ITEM_PRIVATE_KEY, &buf) : QVS_CM_NULL_POINTER;
  if (status == QV_OK) {
    *key = PrivateKeyFromPkcs8(buf.bytes, buf.length);
    if (!*key) {
      QVLogEvent(kEventCategory, QVS_CM_PRIVATE_KEY_SET, QV_SID_NONE, nullptr, FacilityError());
      status = QVS_CM_CRYPTO;
    }
  }
  if (buf.bytes) WipeFree(buf.bytes, buf.length);
  CM_LEAVE(kModule, "CMGetDesktopPrivateKey", status);
  return status;
}

}  // extern "C"
