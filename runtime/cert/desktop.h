// Desktop credentials: the cache host's self-signed certificate and key.
#pragma once

#include <cstdint>

#include "qvstatus.h"
#include "runtime/cert/cm_internal.h"

namespace qv::cert {

struct DesktopCreds {
  std::vector<uint8_t> cert;  // DER
  SecureBytes key;            // PKCS #8 DER
};

// Drops the credentials and the cache (tests).
void ResetDesktopForTest();

}  // namespace qv::cert

extern "C" {

// New RSA key pair and self-signed certificate. On failure *creds is empty.
QVSTATUS GenerateSSDesktopCreds(qv::cert::DesktopCreds* creds);
// Takes over `creds` as this process's credentials and starts an empty cache.
QVSTATUS InitializeDesktopData(qv::cert::DesktopCreds* creds);

}  // extern "C"
