/* Exported functions of the agent runtime library libauthcore.so.
 *
 * A plain C header: every function has C linkage and fixed names. Results are
 * 32-bit statuses (QVSTATUS, 0 on success, the codes of qvstatus.h) unless
 * stated otherwise; no exception leaves the library.
 *
 * Ownership: whatever a call hands out (sessions, sockets, byte buffers,
 * texts, records) belongs to the caller, who releases it with the matching
 * call named below. Buffers holding certificates or keys are overwritten
 * with '*' before they are freed.
 *
 * Texts are zero-terminated 8-bit texts (UTF-8 on this system). Flags named
 * b... are 32-bit integers used as booleans.
 *
 * Layouts of SMSessionInfo, SMPeerCert and CMCertInfo are in the runtime's
 * own headers (runtime/session/session_manager.h, qvcert.h); here they are
 * only named.
 */
#ifndef QV_AUTHCORE_H
#define QV_AUTHCORE_H

#include <stdint.h>

#ifdef __cplusplus
#include "qvstatus.h"
#else
typedef uint32_t QVSTATUS;
#endif

typedef struct SMSession SMSession;
typedef struct SMSessionInfo SMSessionInfo;
typedef struct SMPeerCert SMPeerCert;
typedef struct CMCertInfo CMCertInfo;

/* Handler of a listening session; it owns `info` (see SMServerListen). */
typedef void (*SMHandler)(SMSessionInfo* info);

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Start-up, rundown and settings ---- */

/* Starts the runtime once per process in its role: credentials, the cache
 * service (desktop role), the session manager, then the runtime's own
 * resources (and, in the agent role, the authentication client library).
 * 0, or the first failing status (QVS_AM_AUTHCLIENT_FAILED when the agent
 * role cannot bind or start the client library). */
QVSTATUS QVAgentStartup(int bDesktopSide, int bHostCache, int bClientSessions);

/* Releases what QVAgentStartup set up, in reverse order. */
void QVAgentRundown(void);

/* Reads the value `name` of "SOFTWARE\\Tavrik\\QVNetwork" into `buffer`
 * (`size` bytes). 1 when it was read, 0 when missing or larger than the
 * buffer; the value's type is not tested. */
int QVAgentGetSetting(const char* name, void* buffer, uint32_t size);

/* Shows a modal message box that closes itself after 60 seconds; returns
 * the button chosen. `owner` may be null. */
int AMTimedMessageBox(void* owner, const char* text, const char* caption, uint32_t style);

/* ---- Secure sessions ---- */

/* Starts the socket layer and TLS and builds the context that
 * `bClientSessions` asks for. A context that cannot be built still gives 0;
 * later opens or listens then fail with QVS_SM_NO_CONTEXT. */
QVSTATUS SMStartup(int bDesktopSide, int bClientSessions);

/* Frees the contexts and cleans up; always 0. */
QVSTATUS SMRundown(void);

/* Ends the listening loop of SMServerListen in this process (a service
 * stopping); the loop returns QV_OK. */
void SMStopListening(void);

/* Connects to `host` (dotted IPv4 or name) on `port` and completes the
 * handshake. The reserved values are not used. On success the caller owns
 * *session and *socket (SMDeleteContext) and the bytes of *peerCert
 * (SMFreePeerCert); on failure *socket is -1, *session null, *peerCert
 * empty. */
QVSTATUS SMClientOpenSession(const char* host, uint32_t port, int reserved1, int reserved2,
                             SMPeerCert* peerCert, int* socket, SMSession** session);

/* Listens on `port` and runs `handler` on a thread per verified session
 * until a failure ends the loop; returns that status. `bNotifyUser` 1 shows
 * the user a timed message when an incoming session fails. */
QVSTATUS SMServerListen(SMHandler handler, uint32_t port, int reserved, int bNotifyUser);

/* Shuts the session down, closes the socket (unless -1) and frees the
 * session; either may be absent. Always 0. */
QVSTATUS SMDeleteContext(int socket, SMSession* session);

/* Free the peer certificate bytes and the handler's session record. */
void SMFreePeerCert(SMPeerCert* peerCert);
void SMFreeSessionInfo(SMSessionInfo* info);

/* ---- Desktop side ---- */

/* Authenticates `user` through the proxy service on `proxyHost`, prompting
 * on this desktop. `domain` is a writable buffer of at least 32 bytes that
 * receives the proxy's domain when it is empty. 0 when the user is let in,
 * QVS_AM_ACCESS_DENIED when access was denied, or another status. */
QVSTATUS AMDesktopAuthenticateUser(const char* user, char* domain, const char* proxyHost,
                                   uint32_t useSoftTokens);

/* SMServerListen handler of the network authentication service; it deletes
 * the session and frees `info`. */
void AMSubAuthUIProxy(SMSessionInfo* info);

/* The desktop role's console control handler: logoff (5) closes the prompt
 * that is open in this process. Always 0, so later handlers run too. Logoff
 * must come from an ordinary thread. */
int ConsoleCtrlHandler(uint32_t controlType);

/* ---- Agent side (domain controller) ---- */

/* Challenges `user` at `workstation`. `user` and `domain` are writable
 * 32-byte buffers (terminating zero included) that the workstation's answer
 * may overwrite. 0 when the user is let in, QVS_AM_ACCESS_DENIED when access
 * is denied, or the status of opening the session or of the certificate
 * step. */
QVSTATUS AMSubauthAuthenticateUser(char* user, char* domain, const char* workstation);

/* Opens a session to `workstation`, reports success to it and closes the
 * session. 0, or the status of the open or of the send. */
QVSTATUS AMSubauthTest(const char* workstation);

/* ---- Proxy side ---- */

/* SMServerListen handler of the proxy service; it deletes the session and
 * frees `info`. */
void AMDesktopKelProxy(SMSessionInfo* info);

/* ---- Credential cache service ---- */

/* Starts the cache service: `startArgument` 2 switches it off
 * (QVS_DM_SWITCHED_OFF); `mode` 1 serves the cache in this process, any
 * other mode is a client. */
QVSTATUS DMStartup(uint32_t startArgument, uint32_t mode);

/* Stops the cache service. 0, QVS_DM_SWITCHED_OFF or QVS_DM_NOT_STARTED. */
QVSTATUS DMRundown(void);

/* ---- Domain-controller certificate and key ---- */

/* Loads the stored certificate and key, the random generator and the
 * trusted root. A missing certificate is only a warning. */
QVSTATUS CMInitDCSide(void);

/* Releases the loaded credentials; always 0. */
QVSTATUS CMShutdownDCSide(void);

/* Stores a certificate (DER) and its private key (PKCS #8 DER), the key
 * protected for this machine. QVS_CM_NAME_MISMATCH when the certificate's
 * common name is not this machine's name. The inputs stay the caller's. */
QVSTATUS CMAgentStoreDCCert(const uint8_t* cert, uint32_t certLength, const uint8_t* key,
                            uint32_t keyLength);

/* A copy of the loaded certificate (DER) in a new buffer the caller frees
 * with CMDestroyCert. QVE_CM_NO_DC_CERT when none is loaded. */
QVSTATUS CMAgentGetDCCert(uint8_t** cert, uint32_t* length);

/* Deletes the stored certificate and key. */
QVSTATUS CMAgentDeleteDCCert(void);

/* ---- Desktop credentials ---- */

/* Empties the session-certificate cache. */
QVSTATUS CMClearSessionCerts(void);

/* ---- Certificate, key and random utilities ---- */

/* Reads a whole certificate file into a new buffer, freed with
 * vQVCertFreeCert. 0; 19004 cannot open; 19011 empty or unreadable; 19001
 * no memory. */
uint32_t errQVCertReadFromFile(const char* path, uint32_t* length, uint8_t** bytes);
void vQVCertFreeCert(uint8_t* bytes);

/* Reads and decrypts the private key of a key file into `key` (at least
 * 4096 bytes); *keyLength gets its length. 0, a key-file status or the
 * cryptographic facility's status. */
uint32_t errQVKeyFileGetPrivateKeyEx(const char* path, uint8_t* key, uint32_t* keyLength,
                                     const char* passPhrase);

/* The subject name as a new text, freed with CMDestroySubjectName. */
QVSTATUS CMGetCertSubjectName(const uint8_t* cert, uint32_t length, char** subject);
QVSTATUS CMDestroySubjectName(char* subject);

/* The certificate's texts as a new record, freed with CMDestroyCertInfo. */
QVSTATUS CMGetCertInfo(const uint8_t* cert, uint32_t length, CMCertInfo** info);
QVSTATUS CMDestroyCertInfo(CMCertInfo* info);

/* 0 when issued by the trusted root; QVS_CM_NOT_TRUSTED when not;
 * QVS_CM_BAD_CERT when the bytes are no certificate. */
QVSTATUS CMCheckCertWithRoot(const uint8_t* cert, uint32_t length);

/* 0 when the bytes are an RSA private key; QVS_CM_CRYPTO otherwise. */
QVSTATUS CMCheckPrivateKey(const uint8_t* key, uint32_t length);

/* Overwrites `length` bytes with '*' and frees them; QVS_CM_NULL_POINTER
 * for a null pointer. */
QVSTATUS CMDestroyCert(uint8_t* bytes, uint32_t length);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* QV_AUTHCORE_H */
