// Credential cache service: the desktop credentials and the session-
// certificate cache of the cache-host process, served to the other
// desktop-role processes over local RPC (endpoint "KELAgent DT").
//
// In the host (mode 1) the DMDesktop... calls run the local operations
// (LDM..., qvcert.h) directly; in a client (mode 2) they call the host. Once
// started, the certificate store's desktop calls (CMGetSSDesktopCert,
// CMStoreSessionCert, ...) go through this dispatch, each opening a handle,
// making one call and closing it.
//
// Admission in the host: a caller over a local Unix socket is admitted when
// it runs as root or is a member of the group named by the string setting
// CacheClientGroup (none by default: root alone).
//
// Buffers handed out (CM_CRED_BUFFER bytes) are malloc'd and belong to the
// caller, who wipes and frees them (CMDestroyCert). Statuses: QV_OK, the
// QVS_DM_... codes, the local operations' statuses, or a transport status
// (qv::rpc::kRpc...) of the server's set-up. CMake target: qvcache.
#pragma once

#include <cstdint>

#include "qvcert.h"
#include "qvstatus.h"

namespace qv::rpc {
struct CallContext;
}

// A cache handle: the fixed local token in the host, a binding in a client.
typedef void* DMHANDLE;
// The call a server routine serves.
typedef qv::rpc::CallContext* DMBINDING;

inline constexpr uintptr_t DM_LOCAL_HANDLE = 0xDEADBEEF;
inline constexpr const char* DM_ENDPOINT = "KELAgent DT";
inline constexpr const char* DM_CLIENT_GROUP_SETTING = "CacheClientGroup";

extern "C" {

// `startArgument` 2 switches the service off (QVS_DM_SWITCHED_OFF); mode 1
// serves the cache from this process, 2 uses the host's.
QVSTATUS DMStartup(uint32_t startArgument, uint32_t mode);
// QV_OK, QVS_DM_SWITCHED_OFF, or QVS_DM_NOT_STARTED.
QVSTATUS DMRundown(void);

QVSTATUS DMOpenCache(DMHANDLE* handle);
// Sets *handle to null.
QVSTATUS DMCloseCache(DMHANDLE* handle);

// QVS_DM_BAD_CRED_ITEM for an item other than 1 and 2, QVS_DM_RPC_FAILED when
// the call to the host failed (host not running, broken call, null out).
QVSTATUS DMDesktopGetDesktopCreds(DMHANDLE handle, uint32_t item, CM_CRED_BUFFER* out);
QVSTATUS DMDesktopStoreSessionCert(DMHANDLE handle, const char* user, const char* domain,
                                   const CM_CRED_BUFFER* text);
QVSTATUS DMDesktopGetSessionCert(DMHANDLE handle, const char* user, const char* domain,
                                 CM_CRED_BUFFER* out);
QVSTATUS DMClearSessionCerts(DMHANDLE handle);

// Server routines: QVS_DM_NOT_ADMITTED for a caller RDMVerifyCaller refuses,
// otherwise the local operation's result.
QVSTATUS _RDMDesktopGetDesktopCred(DMBINDING binding, uint32_t item, CM_CRED_BUFFER* out);
QVSTATUS _RDMDesktopStoreSessionCert(DMBINDING binding, const char* user, const char* domain,
                                     const CM_CRED_BUFFER* text);
QVSTATUS _RDMDesktopGetSessionCert(DMBINDING binding, const char* user, const char* domain,
                                   CM_CRED_BUFFER* out);
QVSTATUS _RDMDesktopClearSessionCerts(DMBINDING binding);

// Non-zero admits the caller.
int RDMVerifyCaller(DMBINDING binding);

}  // extern "C"

namespace qv::cache {

// Endpoint registration: attempts and the pause between them (29, 2000 ms).
void SetRegistrationRetryForTest(unsigned attempts, unsigned intervalMs);
// How long a client waits for the host's answer (default 30 s).
void SetCallTimeoutForTest(int milliseconds);

}  // namespace qv::cache
