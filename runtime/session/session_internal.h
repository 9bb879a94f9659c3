// Internals shared by the session manager's units.
#pragma once

#include <openssl/ssl.h>

#include "qvnetmsg.h"
#include "qvstatus.h"
#include "runtime/session/session_manager.h"

namespace qv::session::internal {

inline constexpr const char* kModule = "SMmain";
inline constexpr uint32_t kCategory = 6;

// The context of a kind with a reference for the caller (SSL_CTX_free it), or
// null when the process has none.
SSL_CTX* AcquireContext(bool client);

const CredentialSource& Credentials();

// Runs the handshake on `session` attached to `fd` within the configured
// bound. QV_OK or QVS_SM_HANDSHAKE_FAILED.
QVSTATUS Handshake(SMSession* session, int fd, bool client);

// The peer's certificate as a new malloc'd DER buffer.
QVSTATUS PeerCertificate(SMSession* session, uint8_t** der, uint32_t* length);

// First IPv4 address of `host`: dotted text, NetBIOS (unless disabled), then
// the host-name resolver. QVS_SM_HOST_NOT_RESOLVED when none answers.
QVSTATUS ResolveHost(const char* host, uint32_t* address);

}  // namespace qv::session::internal
