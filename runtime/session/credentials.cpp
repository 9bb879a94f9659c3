// The contexts' default credentials: the certificate store.
#include "qvcert.h"
#include "runtime/session/session_manager.h"

namespace qv::session {
namespace {

void FreeBytes(uint8_t* bytes, uint32_t length) { CMDestroyCert(bytes, length); }

const CredentialSource kStore = {
    CMGetRootCert, CMAgentGetDCCert,       CMGetDCPrivateKey,
    CMGetSSDesktopCert, CMGetDesktopPrivateKey, FreeBytes,
};

}  // namespace

const CredentialSource& DefaultCredentialSource() { return kStore; }

}  // namespace qv::session
