// Session manager: mutually authenticated TLS sessions between the runtime's
// roles.
//
// One context per kind and process: the client context (SMClientOpenSession)
// and the server context (SMServerListen), built from the role's
// credentials. The desktop role presents the workstation's self-signed
// certificate and admits agents whose certificate chains to the trusted root
// (CMCheckDCCert); the agent role presents the domain controller's
// certificate and admits workstations with a self-signed certificate
// (CMCheckSSDesktopCert). Sessions run TLS 1.2 or 1.3 with AEAD ciphers,
// certificates on both sides and no resumption; a handshake that does not
// finish within SessionHandshakeTimeout seconds fails.
//
// Ownership: a session, its socket and the peer certificate bytes returned
// by SMClientOpenSession belong to the caller; an SMSessionInfo belongs to
// the handler it is given to. Sessions are released with SMDeleteContext,
// certificate bytes and records with SMFreePeerCert / SMFreeSessionInfo (or
// free(): they are malloc'd).
//
// Statuses: QV_OK or the QVS_SM_... codes of qvcodes/session.def.
// CMake target: qvsession.
#pragma once

#include <openssl/types.h>

#include <cstdint>

#include "qvnetmsg.h"
#include "qvstatus.h"

// A TLS session; it is the byte stream of the network message layer, so the
// errQVNetMsgSSL... operations run over it. Data already decrypted inside the
// session counts as pending (readable without touching the socket).
struct SMSession final : public QVNetSession {
  explicit SMSession(SSL* s) : ssl(s) {}
  ~SMSession() override;
  SMSession(const SMSession&) = delete;
  SMSession& operator=(const SMSession&) = delete;

  long Read(void* buffer, size_t size) override;
  long Write(const void* buffer, size_t size) override;
  size_t Pending() override;

  SSL* ssl;
};

struct SMPeerCert {
  uint32_t dwCertLen;
  uint8_t* pbCert;  // DER
};

// Handed to a listening handler, which owns it.
struct SMSessionInfo {
  SMSession* pSession;
  int iSocket;
  uint32_t dwPeerAddr;  // IPv4, network byte order
  uint32_t dwPeerCertLen;
  uint8_t* pbPeerCert;  // DER
};

// Runs on the connection's own thread; must call SMDeleteContext and
// SMFreeSessionInfo before it returns.
typedef void (*SMHandler)(SMSessionInfo* info);

extern "C" {

// Starts the socket layer and TLS, and builds the context `bClientSessions`
// asks for in the role `bDesktopSide` gives. A context that cannot be built
// is traced and left out: SMStartup still returns 0 and every listen needing
// it fails with QVS_SM_NO_CONTEXT. A missing client context is built again at
// each SMClientOpenSession, which fails with QVS_SM_NO_CONTEXT while the
// credentials are still missing.
QVSTATUS SMStartup(int bDesktopSide, int bClientSessions);

// Stops the listeners, frees both contexts; always 0.
QVSTATUS SMRundown(void);

// Builds one context. QVS_SM_FAILED when one of that kind exists already
// (it is kept).
QVSTATUS SMSetupSSLCTX(int bDesktopSide, int bClientSessions);

// Installs the role's key and certificate into `ctx`.
QVSTATUS SetSSLKeys(SSL_CTX* ctx, int bDesktopSide);

// Adds the trusted root to the verification store and the acceptable issuers.
QVSTATUS SetTrustedRootCert(SSL_CTX* ctx);

// Peer checks, installed as the contexts' certificate verification: 1 admits
// the peer, 0 refuses it.
int CMCheckDCCert(X509_STORE_CTX* store, void* arg);
int CMCheckSSDesktopCert(X509_STORE_CTX* store, void* arg);

// Connects to `host` (dotted IPv4 or a name) and completes the handshake.
// The reserved values are not used. On failure *socket is -1, *session null
// and *peerCert empty.
QVSTATUS SMClientOpenSession(const char* host, uint32_t port, int reserved1, int reserved2,
                             SMPeerCert* peerCert, int* socket, SMSession** session);

// Listens on `port` (0: any free port, see qv::session::ServerListen) and hands each
// verified session to `handler` on a thread of its own, until a failure or
// SMStopListening ends the loop. Returns the status that ended it (QV_OK for
// SMStopListening). `bNotifyUser` 1 shows the user a timed message when an
// incoming session fails.
QVSTATUS SMServerListen(SMHandler handler, uint32_t port, int reserved, int bNotifyUser);

// Shuts the session down, closes the socket (unless -1) and frees the
// session; either may be absent. Always 0.
QVSTATUS SMDeleteContext(int socket, SMSession* session);

void SMFreePeerCert(SMPeerCert* peerCert);
void SMFreeSessionInfo(SMSessionInfo* info);

// Ends every SMServerListen loop of the process.
void SMStopListening(void);

}  // extern "C"

namespace qv::session {

// SMServerListen that calls `onListening` with the bound port once the socket
// listens (for callers that listen on port 0).
QVSTATUS ServerListen(SMHandler handler, uint32_t port, int bNotifyUser,
                      void (*onListening)(uint16_t port, void* arg), void* arg);

// Where the contexts take their credentials. Every function returns 0 or a
// status; buffers are released with freeBytes, keys with EVP_PKEY_free.
struct CredentialSource {
  QVSTATUS (*getRootCert)(uint8_t** der, uint32_t* length);
  QVSTATUS (*getDCCert)(uint8_t** der, uint32_t* length);
  QVSTATUS (*getDCPrivateKey)(EVP_PKEY** key);
  QVSTATUS (*getDesktopCert)(uint8_t** der, uint32_t* length);
  QVSTATUS (*getDesktopPrivateKey)(EVP_PKEY** key);
  void (*freeBytes)(uint8_t* bytes, uint32_t length);
};

// The certificate store's functions (CMGetRootCert, CMAgentGetDCCert, ...).
const CredentialSource& DefaultCredentialSource();

// Replaces the source for later contexts (tests); null restores the default.
// The source must outlive its use.
void SetCredentialSource(const CredentialSource* source);

}  // namespace qv::session
