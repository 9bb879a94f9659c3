// Key generation, requests and certificate issue for the administrator's
// tool, the desktop credentials and the tests.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "qvstatus.h"
#include "runtime/cert/cm_internal.h"

namespace qv::cert {

inline constexpr int kRsaBits = 2048;

// A new RSA key pair (exponent 65537); null on failure.
EVP_PKEY* GenerateRsaKey(int bits = kRsaBits);

// A name from (short name, value) items in order, such as {"CN", "dc1"},
// {"O", "Example"}; null when a short name is unknown or a value is refused.
X509_NAME* MakeName(const std::vector<std::pair<std::string, std::string>>& items);
// Parses "CN=dc1,O=Example" (items split at ',' or '/'); null on error.
X509_NAME* ParseNameText(const std::string& text);

struct IssueOptions {
  int64_t notBefore = 0;  // seconds since 1970
  int64_t notAfter = 0;
  bool isCa = false;      // adds basicConstraints CA:TRUE and keyCertSign
};

// A certificate for `subject` and `publicKey`, signed with SHA-256 by
// `issuerKey`; `issuer` null makes it self-signed. Random serial number.
// QVS_CM_BAD_CERT on failure.
QVSTATUS IssueCert(const X509_NAME* subject, EVP_PKEY* publicKey, const X509* issuer,
                   EVP_PKEY* issuerKey, const IssueOptions& options, std::vector<uint8_t>* der);

// PKCS #10 request for `name`, signed by `key` (SHA-256).
QVSTATUS MakeRequest(EVP_PKEY* key, const X509_NAME* name, std::vector<uint8_t>* der);

// Issues a certificate from a request whose signature verifies.
QVSTATUS IssueFromRequest(const uint8_t* request, size_t length, const X509* issuer,
                          EVP_PKEY* issuerKey, const IssueOptions& options,
                          std::vector<uint8_t>* der);

// 0 when `cert` is signed by `caCert`'s key; QVS_CM_ISSUER_MISMATCH otherwise.
QVSTATUS VerifyWithCaCert(const X509* cert, const X509* caCert);

// A random positive serial number (16 bytes) set into `cert`.
bool SetRandomSerial(X509* cert);

}  // namespace qv::cert
