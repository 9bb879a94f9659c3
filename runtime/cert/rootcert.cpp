// The trusted root certificate named by CACertPath, and trust checks.
#include <openssl/x509.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "qvcert.h"
#include "runtime/cert/certtext.h"
#include "runtime/cert/cm_internal.h"
#include "runtime/cert/sessioncert.h"

namespace qv::cert {
namespace {

constexpr char kModule[] = "CMutils";

std::mutex g_rootMutex;
std::vector<uint8_t> g_root;  // DER; empty while none is loaded

std::vector<uint8_t> RootCopy() {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  return g_root;
}

}  // namespace

void ResetRootForTest() {
  std::lock_guard<std::mutex> lock(g_rootMutex);
  g_root.clear();
}

QVSTATUS SetRootCert(const uint8_t* der, size_t length) {
  X509* x = ParseCert(der, length);
  if (!x) return QVS_CM_ROOT_NOT_CERT;
  X509_free(x);
  std::lock_guard<std::mutex> lock(g_rootMutex);
  g_root.assign(der, der + length);
  return QV_OK;
}

}  // namespace qv::cert

using namespace qv::cert;

extern "C" {

int NamesAreEqual(const X509_NAME* a, const X509_NAME* b) {
  if (!a || !b) return 0;
  unsigned char* da = nullptr;
  unsigned char* db = nullptr;
  const int na = i2d_X509_NAME(a, &da);
  const int nb = i2d_X509_NAME(b, &db);
  const int equal = na > 0 && na == nb && std::memcmp(da, db, static_cast<size_t>(na)) == 0;
  OPENSSL_free(da);
  OPENSSL_free(db);
  return equal;
}

int CertisTrusted(X509* cert) {
  CM_ENTER(kModule, "CertisTrusted");
  int trusted = 0;
  std::vector<uint8_t> der = RootCopy();
  X509* root = der.empty() ? nullptr : ParseCert(der.data(), der.size());
  EVP_PKEY* rootKey = root ? X509_get0_pubkey(root) : nullptr;
  if (!cert || !rootKey) {
    trusted = 0;
  } else if (!NamesAreEqual(X509_get_issuer_name(cert), X509_get_subject_name(root))) {
    CM_TRACE(kTraceFlow, kModule, "SessionCert issuer %s not installed Root.",
             NameText(X509_get_issuer_name(cert), ";").c_str());
  } else {
    const int rc = X509_verify(cert, rootKey);
    if (rc == 1) {
      trusted = 1;
    } else {
      CM_TRACE(kTraceFlow, kModule,
               "Trusted Root could not complete SessionCert chain. Root Cert DN:%s, return from "
               "C_VerifyCertSignature=%d",
               NameText(X509_get_subject_name(root), ";").c_str(), rc);
      FacilityError();
    }
  }
  X509_free(root);
  CM_LEAVE(kModule, "CertisTrusted", trusted);
  return trusted;
}

QVSTATUS CMGetRootCert(uint8_t** cert, uint32_t* length) {
  CM_ENTER(kModule, "CMGetRootCert");
  QVSTATUS status = QV_OK;
  std::vector<uint8_t> der = RootCopy();
  if (cert) *cert = nullptr;
  if (length) *length = 0;
  if (!cert || !length || der.empty()) {
    status = QVS_CM_ROOT_NOT_LOADED;
  } else if (!(*cert = CopyBytes(der.data(), der.size()))) {
    status = QVS_CM_ROOT_NOT_LOADED;
  } else {
    *length = static_cast<uint32_t>(der.size());
  }
  CM_LEAVE(kModule, "CMGetRootCert", status);
  return status;
}

QVSTATUS CMCheckCertWithRoot(const uint8_t* cert, uint32_t length) {
  CM_ENTER(kModule, "CMCheckCertWithRoot");
  QVSTATUS status = QV_OK;
  X509* x = ParseCert(cert, length);
  if (!x)
    status = QVS_CM_BAD_CERT;
  else if (!CertisTrusted(x))
    status = QVS_CM_NOT_TRUSTED;
  X509_free(x);
  CM_LEAVE(kModule, "CMCheckCertWithRoot", status);
  return status;
}

QVSTATUS InitializeUtils(void) {
  CM_ENTER(kModule, "InitializeUtils");
  QVSTATUS status = QV_OK;
  if (!RootCopy().empty()) {
    CM_LEAVE(kModule, "InitializeUtils", status);
    return status;
  }
  std::string path;
  qv::reg::Key key;
  if (key.Open(qv::reg::HKEY_LOCAL_MACHINE, kProductKey, qv::reg::KEY_QUERY_VALUE) !=
          qv::reg::ERROR_SUCCESS ||
      qv::reg::QueryString(key.get(), "CACertPath", &path) != qv::reg::ERROR_SUCCESS) {
    status = QVS_CM_REGISTRY;
  } else {
    uint8_t* bytes = nullptr;
    uint32_t length = 0;
    if (errQVCertReadFromFile(path.c_str(), &length, &bytes) != 0) {
      status = QVS_CM_ROOT_NOT_LOADED;
    } else {
      CMCertInfo* info = nullptr;
      if (CMGetCertInfo(bytes, length, &info) != QV_OK) {
        status = QVS_CM_ROOT_NOT_CERT;
      } else {
        CM_TRACE(kTraceFlow, kModule, "Loaded RootCert with DN: %s", info->subject);
        CMDestroyCertInfo(info);
        status = SetRootCert(bytes, length);
      }
      vQVCertFreeCert(bytes);
    }
  }
  CM_LEAVE(kModule, "InitializeUtils", status);
  return status;
}

}  // extern "C"
