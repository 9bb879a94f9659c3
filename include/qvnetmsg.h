// Network messages: external objects carried as frames over a secure session.
//
// A frame is the object's text form, <L>(...): 1 to 8 decimal digits giving
// the length L of the text that follows, which begins with "(". Frames follow
// each other with nothing between them. The receiver rejects frames whose L is
// 0 or larger than QVNetMsgMaxFrameSize() with QVS_NETMSG_BAD_FRAME.
//
// Statuses: QV_OK or the QVS_NETMSG_... codes of qvcodes/netmsg.def; the field
// accessors forward the QVS_EXTOBJ_... statuses of qvextobj.h unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvextobj.h"
#include "qvstatus.h"

// The byte stream a network message travels on (a TLS session, or a socket
// pair in tests). One thread uses a session at a time.
class QVNetSession {
 public:
  virtual ~QVNetSession() = default;

  // Reads up to `size` (> 0) bytes, blocking until at least one byte is
  // available. Returns the count read, 0 when the peer closed the session, or
  // a negative value on error.
  virtual long Read(void* buffer, size_t size) = 0;

  // Writes all `size` bytes. Returns `size`, or a negative value on error.
  virtual long Write(const void* buffer, size_t size) = 0;

  // Bytes already received and held inside the session that Read returns
  // without touching the socket (decrypted TLS records). 0 when none.
  virtual size_t Pending() = 0;
};

// Largest object text a receiver accepts, in bytes; default 65536.
inline constexpr size_t QV_NETMSG_DEFAULT_MAX_FRAME = 64 * 1024;
// Size of the first send buffer; larger frames take a second, exact buffer.
inline constexpr size_t QV_NETMSG_SEND_BUFFER = 10240;
// Most digits of a frame's length prefix.
inline constexpr int QV_NETMSG_MAX_PREFIX_DIGITS = 8;
// No time limit for errQVNetMsgSSLWaitReceive.
inline constexpr int QV_NETMSG_NO_LIMIT = -1;

// The bound for the whole process (0 restores the default).
void vQVNetMsgSetMaxFrameSize(size_t bytes);
size_t QVNetMsgMaxFrameSize();

extern "C" {

// --- Transfer --------------------------------------------------------------

// Writes `obj` as one frame in one session write. `socket` is the descriptor
// the session runs on.
QVSTATUS errQVNetMsgSSLSend(QVNetSession* session, int socket, HQVEXTOBJ obj);

// Takes what is available of the current frame without blocking on the socket
// (a frame's length prefix is read byte by byte and may wait for its bytes).
// The receive state (*missing, *buffer, *total) is kept by the caller between
// calls for one frame; start with 0, nullptr, 0. Returns QV_OK with *out set
// when a frame completed, QV_OK with *out null when more is needed, or a
// status; on a status the frame buffer is freed and the state reset. A frame
// that fails to parse is consumed whole (QVS_NETMSG_BAD_OBJECT).
QVSTATUS errQVNetMsgSSLReceive(QVNetSession* session, int socket, HQVEXTOBJ* out, size_t* missing,
                               char** buffer, size_t* total);

// Frees a partial frame left in a receive state and resets the state.
void vQVNetMsgFreeReceiveState(size_t* missing, char** buffer, size_t* total);

// Waits for the next whole message. `limit` is in seconds, or
// QV_NETMSG_NO_LIMIT. QVS_NETMSG_RECEIVE_FAILED when a receive step fails
// (including the peer closing the session), QVS_NETMSG_TIMEOUT when the limit
// expires. Any partial frame is dropped when the wait returns.
QVSTATUS errQVNetMsgSSLWaitReceive(QVNetSession* session, int socket, HQVEXTOBJ* out, int limit);

// The object's text form (errQVExtObjWriteToBuffer).
QVSTATUS NetMsgWriteToBuffer(HQVEXTOBJ obj, char* buffer, size_t* length);

// --- Field accessors: forward to the errQVExtObj... operations --------------

QVSTATUS errQVNetMsgCreate(HQVEXTOBJ* out, const char* type);
// A null object is accepted and QV_OK returned.
QVSTATUS errQVNetMsgDestroy(HQVEXTOBJ obj);
QVSTATUS errQVNetMsgAddI8(HQVEXTOBJ obj, const char* name, int8_t value);
QVSTATUS errQVNetMsgAddU16(HQVEXTOBJ obj, const char* name, uint16_t value);
QVSTATUS errQVNetMsgAddI32(HQVEXTOBJ obj, const char* name, int32_t value);
QVSTATUS errQVNetMsgAddString(HQVEXTOBJ obj, const char* name, const char* text);
QVSTATUS errQVNetMsgAddBinary(HQVEXTOBJ obj, const char* name, const void* bytes, size_t length);
QVSTATUS errQVNetMsgAddObjField(HQVEXTOBJ obj, HQVEXTOBJ sub);
QVSTATUS errQVNetMsgGetI8(HQVEXTOBJ obj, const char* name, int8_t* value);
QVSTATUS errQVNetMsgGetU16(HQVEXTOBJ obj, const char* name, uint16_t* value);
QVSTATUS errQVNetMsgGetI32(HQVEXTOBJ obj, const char* name, int32_t* value);
QVSTATUS errQVNetMsgGetString(HQVEXTOBJ obj, const char* name, char* buffer, size_t* size);
QVSTATUS errQVNetMsgGetObjField(HQVEXTOBJ obj, const char* name, HQVEXTOBJ* sub);
QVSTATUS errQVNetMsgCreateFromBuffer(HQVEXTOBJ* out, const char* text, size_t length);

// "Network Message Layer error number <status>" in a per-thread static buffer.
const char* pszQVNetMsgErrorText(QVSTATUS status);

}  // extern "C"
