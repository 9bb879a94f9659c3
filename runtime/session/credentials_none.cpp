// Default credentials while the certificate store is not part of the build:
// nothing is installed, so no context can be built.
#include <cstdlib>

#include "runtime/session/session_manager.h"

namespace qv::session {
namespace {

QVSTATUS NoBytes(uint8_t** der, uint32_t* length) {
  *der = nullptr;
  *length = 0;
  return QVS_SM_CERT_UNREADABLE;
}
QVSTATUS NoKey(EVP_PKEY** key) {
  *key = nullptr;
  return QVS_SM_KEY_CONVERT;
}
void FreeBytes(uint8_t* bytes, uint32_t) { free(bytes); }

const CredentialSource kNone = {NoBytes, NoBytes, NoKey, NoBytes, NoKey, FreeBytes};

}  // namespace

const CredentialSource& DefaultCredentialSource() { return kNone; }

}  // namespace qv::session
