/* Authentication client library (libauthclient.so): C ABI.
 *
 * The library judges passcodes, PIN changes and next tokencodes against the
 * embedded token server (a token store file under the system root, see
 * keladmin --help). All entries have C linkage; bind them by name (see
 * authclient/binding.h for a binder that checks every entry).
 *
 * The server clock is the system clock; tests pin it with the environment
 * variable TAVRIK_FAKE_TIME (seconds since 1970), which privileged
 * (set-user-ID, set-group-ID) processes ignore.
 *
 * Conventions:
 * - A handle is a non-zero 32-bit number, unguessable (random), valid from
 *   QV_Init / KelInit until QV_Close / KelClose completes, KelShutdown, or its
 *   time-out fires. 0 is never a handle.
 * - Getters answer 1 when the handle is live and the value was written, 0
 *   otherwise. Other synchronous entries answer an ACM_* status.
 * - Asynchronous entries (KelInit, KelCheck, KelSendNextPasscode, KelSendPin,
 *   KelCancelPin, KelClose) answer ACM_REQUEST_PENDING (150) when the request
 *   is under way and later call the completion callback with the handle, from
 *   the library's own thread; the status of the request is then read with
 *   KelGetAuthenticationStatus. Any other answer means no callback follows;
 *   nor does one when the handle is closed before its request runs.
 * - Callbacks may call back into the library (getters, setters, new requests).
 * - Texts are NUL-terminated. Passcodes, next tokencodes and PINs are at most
 *   KEL_MAX_CODE_LEN characters; user names at most KEL_MAX_USER_LEN.
 */
#ifndef KELCLIENT_H
#define KELCLIENT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t KEL_HANDLE;

/* Completion and expiry routine: called with the handle concerned. */
typedef void (*KEL_CALLBACK)(KEL_HANDLE handle);

/* Statuses. */
#define ACM_OK 0
#define ACM_ACCESS_DENIED 1
#define ACM_NEXT_CODE_REQUIRED 2
#define ACM_NEXT_CODE_ACCEPTED 3 /* never answered by QV_Next (it answers ACM_OK) */
#define ACM_NEXT_CODE_REJECTED 4
#define ACM_NEW_PIN_REQUIRED 5
#define ACM_NEW_PIN_ACCEPTED 6
#define ACM_NEW_PIN_REJECTED 7
#define ACM_SYNTAX_ERR_3 22    /* malformed input: empty, too long, bad characters */
#define ACM_INVALID_SERVER 24  /* token store missing, unreadable or corrupt */
#define ACM_INVALID_HANDLE 25  /* handle not live */
#define ACM_WRONG_STATE 26     /* QV_Pin / QV_Next outside new-PIN / next-tokencode mode */
#define ACM_NO_RESOURCES 27    /* out of memory or no thread */
#define ACM_REQUEST_PENDING 150

#define KEL_MAX_CODE_LEN 16
#define KEL_MAX_USER_LEN 64
#define KEL_SHELL_SIZE 65      /* shell text: at most 64 characters and a NUL */
#define KEL_SYSTEM_PIN_SIZE 24 /* system PIN: at most 15 characters and a NUL */

/* PIN rules of a handle in new-PIN mode: 28 bytes. */
typedef struct KEL_PIN_PARAMS {
  signed char cMinPinLen;   /* offset 0 */
  signed char cMaxPinLen;   /* offset 1 */
  unsigned char bSelectable;   /* offset 2: 0 server-generated, 1 either, 2 user-chosen */
  unsigned char bAlphanumeric; /* offset 3: 0 digits only, 1 letters and digits */
  char szSystemPin[KEL_SYSTEM_PIN_SIZE]; /* offset 4: generated PIN, "" in mode 2 */
} KEL_PIN_PARAMS;

/* --- Library life cycle --------------------------------------------------- */

/* Readies the library; 1 ready, 0 not. May be called more than once. */
int KelInitialize(void);
/* As KelInitialize, with the token store directory given (NULL or "" = the
 * default <state dir>/tokens). */
int KelInitializeEx(const char* store_dir);
/* Stops the library thread, then for every live handle that has a time-out
 * calls `expire` (or, when NULL, the handle's own expiry routine) with the
 * handle still live, and closes every handle. ACM_OK. */
int KelShutdown(KEL_CALLBACK expire);
/* Closes every handle without callbacks and stops the library thread. ACM_OK. */
int KelCleanup(void);

/* --- Synchronous authentication ------------------------------------------ */

/* Opens a handle. ACM_OK, ACM_SYNTAX_ERR_3 (NULL), ACM_NO_RESOURCES. */
int QV_Init(KEL_HANDLE* handle);
/* Judges a passcode for a user: ACM_OK, ACM_ACCESS_DENIED,
 * ACM_NEXT_CODE_REQUIRED, ACM_NEW_PIN_REQUIRED, ACM_SYNTAX_ERR_3,
 * ACM_INVALID_SERVER, ACM_INVALID_HANDLE. */
int QV_Check(KEL_HANDLE handle, const char* passcode, const char* username);
/* In new-PIN mode: ACM_NEW_PIN_ACCEPTED or ACM_NEW_PIN_REJECTED (which ends
 * the mode; the user logs in again). An empty text ends the mode without a
 * change and answers ACM_NEW_PIN_REJECTED. Outside the mode ACM_WRONG_STATE. */
int QV_Pin(KEL_HANDLE handle, const char* pin);
/* In next-tokencode mode: ACM_OK when the following tokencode is right,
 * ACM_NEXT_CODE_REJECTED otherwise (which ends the mode);
 * ACM_ACCESS_DENIED when the token was disabled meanwhile; outside the mode
 * ACM_WRONG_STATE. */
int QV_Next(KEL_HANDLE handle, const char* next_code);
/* Closes a handle: ACM_OK or ACM_INVALID_HANDLE. */
int QV_Close(KEL_HANDLE handle);

/* The same five under lower-case names. */
int qv_init(KEL_HANDLE* handle);
int qv_check(KEL_HANDLE handle, const char* passcode, const char* username);
int qv_pin(KEL_HANDLE handle, const char* pin);
int qv_next(KEL_HANDLE handle, const char* next_code);
int qv_close(KEL_HANDLE handle);

/* Server clock, seconds since 1970 (any handle value). ACM_OK, or
 * ACM_SYNTAX_ERR_3 for NULL. */
int KelGetTime(KEL_HANDLE handle, uint32_t* seconds);

/* --- PIN rules (handle in new-PIN mode) ----------------------------------- */

/* 1 when the record was filled, 0 when the handle is not in new-PIN mode. */
int KelGetPinParams(KEL_HANDLE handle, KEL_PIN_PARAMS* params);
/* Single rules; -1 when the handle is not in new-PIN mode. */
int KelGetMinPinLen(KEL_HANDLE handle);
int KelGetMaxPinLen(KEL_HANDLE handle);
int KelGetUserSelectable(KEL_HANDLE handle);
int KelGetAlphanumeric(KEL_HANDLE handle);
/* Writes the system PIN into a buffer of KEL_SYSTEM_PIN_SIZE bytes; 1 or 0. */
int KelGetSystemPin(KEL_HANDLE handle, char* pin);

/* --- Handle data ----------------------------------------------------------- */

/* Attaches caller data to a handle: ACM_OK or ACM_INVALID_HANDLE. */
int KelSetUserData(KEL_HANDLE handle, void* data);
/* 1 when the handle is live (also while its expiry routine runs), with its
 * data written to *data; 0 otherwise. */
int KelGetUserData(KEL_HANDLE handle, void** data);
/* After `seconds` the library calls `expire(handle)` on its own thread and
 * then closes the handle. 0 seconds or a NULL routine removes the time-out.
 * ACM_OK or ACM_INVALID_HANDLE. */
int KelSetTimeout(KEL_HANDLE handle, uint32_t seconds, KEL_CALLBACK expire);
/* Writes the shell text of the user authenticated on this handle into a
 * buffer of KEL_SHELL_SIZE bytes; 1 after a successful check, 0 otherwise. */
int KelGetShell(KEL_HANDLE handle, char* shell);
/* Records the client's IPv4 address (host order). ACM_OK or ACM_INVALID_HANDLE. */
int KelSetUserClientAddress(KEL_HANDLE handle, uint32_t address);

/* --- Asynchronous authentication ------------------------------------------ */

/* Opens a handle with user data; the handle is written before any callback.
 * Completes with status ACM_OK. */
int KelInit(KEL_HANDLE* handle, void* data, KEL_CALLBACK done);
/* Inputs of the next request: ACM_OK, ACM_SYNTAX_ERR_3 or ACM_INVALID_HANDLE. */
int KelSetUsername(KEL_HANDLE handle, const char* username);
int KelSetPasscode(KEL_HANDLE handle, const char* passcode);
int KelSetNextPasscode(KEL_HANDLE handle, const char* next_code);
int KelSetPin(KEL_HANDLE handle, const char* pin);
/* Requests; each completes with the status of QV_Check, QV_Next or QV_Pin on
 * the inputs set. KelCancelPin ends new-PIN mode and completes with
 * ACM_ACCESS_DENIED. KelClose completes with ACM_OK; the handle is live
 * during that callback and closed after it. */
int KelCheck(KEL_HANDLE handle, KEL_CALLBACK done);
int KelSendNextPasscode(KEL_HANDLE handle, KEL_CALLBACK done);
int KelSendPin(KEL_HANDLE handle, KEL_CALLBACK done);
int KelCancelPin(KEL_HANDLE handle, KEL_CALLBACK done);
int KelClose(KEL_HANDLE handle, KEL_CALLBACK done);
/* 1 with the status of the last completed request (or synchronous call)
 * written, 0 when the handle is not live. */
int KelGetAuthenticationStatus(KEL_HANDLE handle, int* status);

/* --- One-call conveniences --------------------------------------------------- */

/* Opens a handle, checks, closes; fills `shell` (KEL_SHELL_SIZE, may be
 * NULL) on ACM_OK. Answers the status of the check. */
int KelClientCheck(const char* username, const char* passcode, char* shell);
/* Opens a handle for a user: ACM_OK or as QV_Init. */
int KelStartAuth(KEL_HANDLE* handle, const char* username);
/* Next step of the handle's conversation: a passcode check, or the next
 * tokencode / new PIN when the handle waits for one. Status as those calls. */
int KelContinueAuth(KEL_HANDLE handle, const char* text);
/* As QV_Close. */
int KelCloseAuth(KEL_HANDLE handle);

#ifdef __cplusplus
}
#endif

#endif /* KELCLIENT_H */
