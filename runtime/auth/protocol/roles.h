// The three roles of the challenge protocol: the desktop that prompts, the
// agent that asks, and the proxy that relays.
//
// Internal operations take the session pair (the byte stream and its socket)
// so that they run over a TLS session or a socket pair alike. Every operation
// returns 0 or a status; received objects are destroyed by the operation that
// received them unless it hands them out. Passcodes, PINs and next
// tokencodes never reach a trace or an event.
// CMake target: qvprotocol_roles.
#pragma once

#include <cstdint>

#include "authclient/binding.h"
#include "kelclient.h"
#include "promptdata.h"
#include "qvextobj.h"
#include "qvnetmsg.h"
#include "qvstatus.h"

// --- Desktop side ---------------------------------------------------------------

// Waits for the agent's next request (bounded, see ResponseTimeoutSeconds) and
// checks it; the caller owns *msg on success.
QVSTATUS WaitForServerRequest(QVNetSession* session, int socket, HQVEXTOBJ* msg, uint16_t* type);

QVSTATUS SendSessionCertificateReply(QVNetSession* session, int socket, const char* user,
                                     const char* domain);
QVSTATUS SendPasscodeReply(QVNetSession* session, int socket, const PROMPT_DATA* block,
                           const char* domain);
QVSTATUS SendNewPinReply(QVNetSession* session, int socket, const PROMPT_DATA* block);
QVSTATUS SendNextTokenCodeReply(QVNetSession* session, int socket, const PROMPT_DATA* block);
QVSTATUS SendCancel(QVNetSession* session, int socket);

// The desktop's loop. `user` may be empty (the request's name is used);
// `domain` is a writable buffer of at least 32 bytes that receives the
// request's domain when empty; `outcome` starts at 1 and keeps the last
// prompt result other than 1. *granted (when given) tells whether the agent
// ended the conversation with type 5 or 7: a refusal by the desktop itself
// also returns 0 and must not be taken as a logon.
QVSTATUS ProcessUITransactions(QVNetSession* session, int socket, const char* user, char* domain,
                               uint32_t useSoftTokens, int32_t* outcome, bool* granted = nullptr);

// The agent-session handler's work on an open session (AMSubAuthUIProxy less
// the release of the session record).
void ServeAgentSession(QVNetSession* session, int socket);

// --- Agent side -------------------------------------------------------------------

QVSTATUS SendSessionCertificateRequest(QVNetSession* session, int socket, const char* user,
                                       const char* domain);
QVSTATUS SendPasscodeRequest(QVNetSession* session, int socket, const char* user,
                             const char* domain, int32_t status);
QVSTATUS SendNewPinRequest(QVNetSession* session, int socket, const KEL_PIN_PARAMS* rules);
QVSTATUS SendNextTokenCodeRequest(QVNetSession* session, int socket);
QVSTATUS SendSessionCertificate(QVNetSession* session, int socket, const uint8_t* peerCert,
                                uint32_t peerCertLength, const char* user, const char* domain,
                                const char* workstation);
QVSTATUS SendAccessDenied(QVNetSession* session, int socket, int32_t reason);
QVSTATUS SendAuthenticationSuccessful(QVNetSession* session, int socket);

// Receives the desktop's answer (bounded, see ResponseTimeoutSeconds).
QVSTATUS WaitForDesktopResponse(QVNetSession* session, int socket, HQVEXTOBJ* msg);

// Types 1 and 8. *valid: the desktop holds a valid session certificate for
// the three names. `user` and `domain` are 32-byte buffers.
QVSTATUS PerformCertificateTransaction(QVNetSession* session, int socket, const char* user,
                                       const char* domain, const char* workstation, bool* valid);

// The passcode loop with up to three failed attempts. `user` and `domain`
// are in-out 32-byte buffers overwritten by the desktop's passcode replies.
// Fails only when the client library cannot open a handle
// (QVS_AM_AUTHCLIENT_FAILED).
QVSTATUS PerformAuthentication(QVNetSession* session, int socket, char* user, char* domain,
                               bool* authenticated);

QVSTATUS PerformPasscodeTransaction(QVNetSession* session, int socket, char* user, char* domain,
                                    KEL_HANDLE handle, int32_t* status);
QVSTATUS PerformNewPinTransaction(QVNetSession* session, int socket, KEL_HANDLE handle,
                                  int32_t* status);
QVSTATUS PerformNextTokenCodeTransaction(QVNetSession* session, int socket, KEL_HANDLE handle,
                                         int32_t* status);

// The whole challenge on an open session to the workstation
// (AMSubauthAuthenticateUser less opening and closing the session).
QVSTATUS RunChallenge(QVNetSession* session, int socket, const uint8_t* peerCert,
                      uint32_t peerCertLength, char* user, char* domain, const char* workstation);

// --- Proxy side -------------------------------------------------------------------

// AMDesktopKelProxy's work on an open session from the workstation at
// `peerAddress` (IPv4, network order), less releasing the session.
void ServeProxySession(QVNetSession* session, int socket, uint32_t peerAddress,
                       const uint8_t* peerCert, uint32_t peerCertLength);

namespace qv::protocol {

// The authentication client entries the agent roles call: the table set
// here (tests), else the one the agent role's start-up bound; without
// either every handle open fails. The table must outlive its use.
const kel::ClientApi* AuthClient();
void SetAuthClient(const kel::ClientApi* api);

// The process-wide server time offset (0 until first computed).
int32_t ServerTimeOffset();
void ResetServerTimeOffsetForTest();

// How long one side waits for the other's next message: the setting
// ResponseTimeout in seconds (default 300; 0 reads as the default). It
// bounds a desktop that never answers and an agent that never asks.
inline constexpr uint32_t kDefaultResponseTimeoutSeconds = 300;
uint32_t ResponseTimeoutSeconds();

// The prompt library loaded for each desktop conversation: "libpromptui.so"
// by default; a path or another name for tests.
void SetPromptLibraryForProcess(const char* nameOrPath);
const char* PromptLibrary();

// Caption and style of the runtime's messages to the user.
inline constexpr char kMessageCaption[] = "Quillon Authentication";
inline constexpr uint32_t kMessageStyle = 0x240010;

// Copies at most size-1 characters and always terminates.
void CopyText(char* out, size_t size, const char* in);

}  // namespace qv::protocol
