// Messages of the authentication protocol.
//
// Every message is an external object of type "Dazar" (from an agent or the
// proxy) or "Desktop" (from a desktop) whose first attributes are Protocol 1
// and Type, followed by the fields of its type in a fixed order. Builders
// return a new message the caller sends and destroys; readers check Type and
// copy the fields into a plain record, cutting strings to the receiver's
// limits. Readers return QVS_AM_PROTOCOL_ERROR for a wrong Type or a field
// that is missing, of the wrong kind or out of range.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvextobj.h"
#include "qvnetmsg.h"
#include "qvstatus.h"

inline constexpr char AM_SIDE_DAZAR[] = "Dazar";
inline constexpr char AM_SIDE_DESKTOP[] = "Desktop";
inline constexpr int32_t AM_PROTOCOL_VERSION = 1;
// KELTime travels as the server clock less this offset.
inline constexpr int32_t AM_KELTIME_OFFSET = 100000;

inline constexpr char AM_SESSION_CERT_TYPE[] = "SessionCertificate";
inline constexpr char AM_DUMMY_CERT_TYPE[] = "DummySessionCertificate";

// Message types (values fixed by the wire).
enum : uint16_t {
  AM_SESSIONCERTREQ = 1,
  AM_PASSCODEREQ = 2,
  AM_NEWPINREQ = 3,
  AM_NEXTCODEREQ = 4,
  AM_STORESESSIONCERT = 5,
  AM_ACCESSDENIED = 6,
  AM_AUTHSUCCESS = 7,
  AM_SESSIONCERT = 8,
  AM_PASSCODE = 9,
  AM_NEWPIN = 10,
  AM_NEXTCODE = 11,
  AM_CANCEL = 12,
};

// Receivers' buffers: the limit in characters plus the terminating zero.
inline constexpr size_t AM_NAME_BUFFER = 32;       // Username, Domain
inline constexpr size_t AM_SYSTEMPIN_BUFFER = 18;  // SystemPIN
inline constexpr size_t AM_ANSWER_BUFFER = 17;     // Passcode, Pin, NextCode

struct AMSessionCertReq {  // type 1
  char Username[AM_NAME_BUFFER];
  char Domain[AM_NAME_BUFFER];
};

struct AMPasscodeReq {  // type 2
  char Username[AM_NAME_BUFFER];
  char Domain[AM_NAME_BUFFER];
  int32_t KELTime;  // as sent
  int32_t KELReturn;
  int64_t ServerTime;  // KELTime + AM_KELTIME_OFFSET
};

struct AMNewPinReq {  // type 3
  char SystemPIN[AM_SYSTEMPIN_BUFFER];
  int8_t Alphanumeric;
  int8_t Selectable;
  int8_t MinLength;
  int8_t MaxLength;
};

struct AMStoreSessionCert {  // type 5
  char Username[AM_NAME_BUFFER];
  char Domain[AM_NAME_BUFFER];
  // The "SessionCertificate" sub-object, owned by the caller; null when the
  // message carried the placeholder (Dummy true).
  HQVEXTOBJ Certificate;
  bool Dummy;
};

struct AMPasscode {  // type 9
  char Username[AM_NAME_BUFFER];
  char Domain[AM_NAME_BUFFER];
  char Passcode[AM_ANSWER_BUFFER];
};

extern "C" {

// A new message of type name `side` holding Protocol 1 and Type `type`.
QVSTATUS CreateProtocolMessage(HQVEXTOBJ* out, const char* side, uint16_t type);

// The placeholder session certificate: type "DummySessionCertificate" with the
// BASE64 attribute dummy1 holding the 10 bytes "dummy data".
QVSTATUS errAMCreateDummySessionCert(HQVEXTOBJ* out);

// --- Builders, Dazar side ----------------------------------------------------
QVSTATUS errAMBuildSessionCertReq(HQVEXTOBJ* out, const char* user, const char* domain);
QVSTATUS errAMBuildPasscodeReq(HQVEXTOBJ* out, const char* user, const char* domain,
                               int32_t kelTime, int32_t kelReturn);
QVSTATUS errAMBuildNewPinReq(HQVEXTOBJ* out, const char* systemPin, int8_t alphanumeric,
                             int8_t selectable, int8_t minLength, int8_t maxLength);
QVSTATUS errAMBuildNextCodeReq(HQVEXTOBJ* out);
// `certificate` is copied into the message (a SessionCertificate or the
// placeholder); the caller keeps it.
QVSTATUS errAMBuildStoreSessionCert(HQVEXTOBJ* out, const char* user, const char* domain,
                                    HQVEXTOBJ certificate);
QVSTATUS errAMBuildAccessDenied(HQVEXTOBJ* out, int32_t reason);
QVSTATUS errAMBuildAuthSuccess(HQVEXTOBJ* out);

// --- Builders, Desktop side --------------------------------------------------
// `certificate` may be null: the answer without a cached certificate.
QVSTATUS errAMBuildSessionCert(HQVEXTOBJ* out, HQVEXTOBJ certificate);
QVSTATUS errAMBuildPasscode(HQVEXTOBJ* out, const char* user, const char* domain,
                            const char* passcode);
QVSTATUS errAMBuildNewPin(HQVEXTOBJ* out, const char* pin);
QVSTATUS errAMBuildNextCode(HQVEXTOBJ* out, const char* nextCode);
QVSTATUS errAMBuildCancel(HQVEXTOBJ* out);

// --- Readers -------------------------------------------------------------------
QVSTATUS errAMReadSessionCertReq(HQVEXTOBJ msg, AMSessionCertReq* out);
QVSTATUS errAMReadPasscodeReq(HQVEXTOBJ msg, AMPasscodeReq* out);
QVSTATUS errAMReadNewPinReq(HQVEXTOBJ msg, AMNewPinReq* out);
QVSTATUS errAMReadStoreSessionCert(HQVEXTOBJ msg, AMStoreSessionCert* out);
QVSTATUS errAMReadAccessDenied(HQVEXTOBJ msg, int32_t* reason);
// *certificate is set to the cached "SessionCertificate" (caller owns it), or
// null when the desktop holds none.
QVSTATUS errAMReadSessionCert(HQVEXTOBJ msg, HQVEXTOBJ* certificate);
QVSTATUS errAMReadPasscode(HQVEXTOBJ msg, AMPasscode* out);
// `pin` and `nextCode` hold AM_ANSWER_BUFFER bytes.
QVSTATUS errAMReadNewPin(HQVEXTOBJ msg, char* pin);
QVSTATUS errAMReadNextCode(HQVEXTOBJ msg, char* nextCode);
QVSTATUS errAMReadCancel(HQVEXTOBJ msg, int32_t* reason);
// Types 4 and 7 carry no fields: checks Type only.
QVSTATUS errAMReadEmpty(HQVEXTOBJ msg, uint16_t type);

// --- Receiving and sending -----------------------------------------------------

// Checks a received message: Protocol, read as a 32-bit integer, must have 1
// in its low 8 bits (else QVS_AM_BAD_PROTOCOL); Type is read as an unsigned
// 16-bit integer (else QVS_AM_PROTOCOL_ERROR). Does not destroy `msg`.
QVSTATUS errAMCheckProtocolMessage(HQVEXTOBJ msg, uint16_t* type);

// Waits for the next message (`limit` as errQVNetMsgSSLWaitReceive) and checks
// it. On success the caller owns *out; on a check failure the message is
// destroyed and *out is null.
QVSTATUS errAMReceiveProtocolMessage(QVNetSession* session, int socket, HQVEXTOBJ* out,
                                     uint16_t* type, int limit);

// Sends `msg` as one frame and destroys it, whatever the outcome.
QVSTATUS errAMSendProtocolMessage(QVNetSession* session, int socket, HQVEXTOBJ msg);

}  // extern "C"
