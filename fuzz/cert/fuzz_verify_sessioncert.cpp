// Session-certificate verification of arbitrary message objects: the input
// is either an object's text form, or (first byte 0) certificates split at
// the byte sequence "@@" into cert1, cert2, ...
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qvcert.h"
#include "runtime/cert/cm_internal.h"
#include "runtime/cert/issue.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EVP_PKEY* key = qv::cert::GenerateRsaKey(1024);
  X509_NAME* name = qv::cert::ParseNameText("CN=Fuzz Root,O=Example");
  std::vector<uint8_t> der;
  qv::cert::IssueOptions o{0, 4102444800, true};
  if (key && name && qv::cert::IssueCert(name, key, nullptr, key, o, &der) == QV_OK)
    qv::cert::SetRootCert(der.data(), der.size());
  X509_NAME_free(name);
  EVP_PKEY_free(key);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  HQVEXTOBJ obj = nullptr;
  if (data[0] != 0) {
    if (errQVExtObjCreateObjFromBuffer(&obj, reinterpret_cast<const char*>(data), size) != QV_OK) return 0;
  } else {
    if (errQVExtObjCreateObj(&obj, "SessionCertificate") != QV_OK) return 0;
    const std::string all(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t start = 0;
    for (int i = 1; i <= 4 && start <= all.size(); ++i) {
      size_t end = all.find("@@", start);
      if (end == std::string::npos) end = all.size();
      const std::string part = all.substr(start, end - start);
      errQVExtObjAddBinary(obj, ("cert" + std::to_string(i)).c_str(), part.data(), part.size());
      start = end + 2;
    }
  }
  (void)CMVerifySessionCert("alice", "CORP", "WKS7", obj);
  errQVExtObjDestroyObj(obj);
  return 0;
}
