// Session-certificate internals: reading certificates out of the object and
// the trust checks.
#pragma once

#include <openssl/types.h>

#include <cstdint>

#include "qvextobj.h"
#include "qvstatus.h"

extern "C" {

// Certificate "cert<n>" of a session-certificate object. `cert` and `key` may
// be null when not wanted; what is handed out belongs to the caller.
QVSTATUS GetCredsfromExtObj(HQVEXTOBJ obj, uint32_t n, X509** cert, EVP_PKEY** key);

// 1 when `cert` is issued by the trusted root and its signature verifies.
int CertisTrusted(X509* cert);

// 1 when the DER encodings of the names are the same.
int NamesAreEqual(const X509_NAME* a, const X509_NAME* b);

}  // extern "C"
