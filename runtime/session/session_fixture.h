// Certificates and keys made with OpenSSL for session tests and benchmarks,
// and a credential source that hands them to the contexts.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <vector>

#include "runtime/session/session_manager.h"

namespace qv::session::fixture {

struct Credential {
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
};

// RSA 2048, SHA-256; made once per process.
struct Credentials {
  Credential root;           // CA, self-signed
  Credential dc;             // issued by root
  Credential desktop;        // self-signed workstation certificate
  Credential otherRoot;      // a CA nobody trusts
  Credential dcOtherRoot;    // issued by otherRoot
  Credential selfSignedDc;   // an agent certificate nobody issued
  Credential expiredDesktop; // self-signed, validity ended
};
const Credentials& Get();

// What the source hands out; a null member reads as "not installed".
void Install(X509* root, Credential dc, Credential desktop);
const CredentialSource& Source();

std::vector<uint8_t> Der(X509* cert);

}  // namespace qv::session::fixture
