// Subject and information texts of arbitrary DER.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "qvcert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  const uint32_t n = static_cast<uint32_t>(size);
  char* subject = nullptr;
  if (CMGetCertSubjectName(data, n, &subject) == QV_OK) {
    (void)std::strlen(subject);
    CMDestroySubjectName(subject);
  }
  CMCertInfo* info = nullptr;
  if (CMGetCertInfo(data, n, &info) == QV_OK) {
    for (const char* t : {info->subject, info->issuer, info->notBefore, info->notAfter, info->version})
      (void)std::strlen(t);
    if (info->serial[info->serialLength] != '\0') __builtin_trap();
    CMDestroyCertInfo(info);
  }
  (void)CMCheckPrivateKey(data, n);
  return 0;
}
