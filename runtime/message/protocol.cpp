// Authentication protocol messages: creation, typed builders and readers,
// the receive-and-check step.
#include <cstring>

#include "platform/eventtext/eventtext.h"
#include "qvprotocol.h"

namespace {

constexpr char kModule[] = "AMprotmsg";
constexpr uint32_t kCategory = 6;

#define PM_ENTER() QV_TRACE(2, kCategory, kModule, "Entering %s", __func__)
#define PM_LEAVE(status) Leave(__LINE__, __func__, (status))

QVSTATUS Leave(int line, const char* routine, QVSTATUS status) {
  QVTraceMessage(4, kCategory, kModule, line, "Leaving %s, return code 0x%08X", routine, status);
  return status;
}

constexpr char kDummyName[] = "dummy1";
constexpr char kDummyData[] = "dummy data";

// Adds fields in order, stopping at the first failure.
class Builder {
 public:
  Builder(HQVEXTOBJ* out, const char* side, uint16_t type) : out_(out) {
    if (out_) *out_ = nullptr;
    status_ = CreateProtocolMessage(&msg_, side, type);
  }
  Builder& String(const char* name, const char* text) {
    if (status_ == QV_OK) status_ = errQVNetMsgAddString(msg_, name, text ? text : "");
    return *this;
  }
  Builder& I32(const char* name, int32_t value) {
    if (status_ == QV_OK) status_ = errQVNetMsgAddI32(msg_, name, value);
    return *this;
  }
  Builder& I8(const char* name, int8_t value) {
    if (status_ == QV_OK) status_ = errQVNetMsgAddI8(msg_, name, value);
    return *this;
  }
  Builder& Object(HQVEXTOBJ sub) {
    if (status_ == QV_OK && sub) status_ = errQVNetMsgAddObjField(msg_, sub);
    return *this;
  }
  QVSTATUS Finish() {
    if (!out_) status_ = QVS_EXTOBJ_NULL_OUTPUT;
    if (status_ != QV_OK) {
      errQVNetMsgDestroy(msg_);
      return status_;
    }
    *out_ = msg_;
    return QV_OK;
  }

 private:
  HQVEXTOBJ* out_;
  HQVEXTOBJ msg_ = nullptr;
  QVSTATUS status_;
};

QVSTATUS ExpectType(HQVEXTOBJ msg, uint16_t expected) {
  uint16_t type = 0;
  if (errQVNetMsgGetU16(msg, "Type", &type) != QV_OK || type != expected) {
    return QVS_AM_PROTOCOL_ERROR;
  }
  return QV_OK;
}

// A string field cut to `size` bytes, zero included.
QVSTATUS ReadString(HQVEXTOBJ msg, const char* name, char* buffer, size_t size) {
  size_t length = size;
  if (errQVNetMsgGetString(msg, name, buffer, &length) != QV_OK) {
    buffer[0] = '\0';
    return QVS_AM_PROTOCOL_ERROR;
  }
  return QV_OK;
}

QVSTATUS ReadI32(HQVEXTOBJ msg, const char* name, int32_t* value) {
  return errQVNetMsgGetI32(msg, name, value) == QV_OK ? QV_OK : QVS_AM_PROTOCOL_ERROR;
}

QVSTATUS ReadI8(HQVEXTOBJ msg, const char* name, int8_t* value) {
  return errQVNetMsgGetI8(msg, name, value) == QV_OK ? QV_OK : QVS_AM_PROTOCOL_ERROR;
}

// The sub-object `name`: QV_OK with *sub set, QV_OK with *sub null when
// absent, or a protocol error when the node is not a sub-object.
QVSTATUS FindSubObject(HQVEXTOBJ msg, const char* name, HQVEXTOBJ* sub) {
  *sub = nullptr;
  QVSTATUS status = errQVNetMsgGetObjField(msg, name, sub);
  if (status == QVS_EXTOBJ_NO_ATTRIBUTE) return QV_OK;
  return status == QV_OK ? QV_OK : QVS_AM_PROTOCOL_ERROR;
}

}  // namespace

extern "C" {

QVSTATUS CreateProtocolMessage(HQVEXTOBJ* out, const char* side, uint16_t type) {
  PM_ENTER();
  HQVEXTOBJ msg = nullptr;
  QVSTATUS status = errQVNetMsgCreate(&msg, side);
  if (status != QV_OK) return PM_LEAVE(status);
  status = errQVNetMsgAddI32(msg, "Protocol", AM_PROTOCOL_VERSION);
  if (status == QV_OK) status = errQVNetMsgAddU16(msg, "Type", type);
  if (status != QV_OK) {
    errQVNetMsgDestroy(msg);
    *out = nullptr;
    return PM_LEAVE(status);
  }
  *out = msg;
  return PM_LEAVE(QV_OK);
}

QVSTATUS errAMCreateDummySessionCert(HQVEXTOBJ* out) {
  HQVEXTOBJ cert = nullptr;
  QVSTATUS status = errQVNetMsgCreate(&cert, AM_DUMMY_CERT_TYPE);
  if (status != QV_OK) return status;
  status = errQVNetMsgAddBinary(cert, kDummyName, kDummyData, sizeof kDummyData - 1);
  if (status != QV_OK) {
    errQVNetMsgDestroy(cert);
    return status;
  }
  *out = cert;
  return QV_OK;
}

QVSTATUS errAMBuildSessionCertReq(HQVEXTOBJ* out, const char* user, const char* domain) {
  return Builder(out, AM_SIDE_DAZAR, AM_SESSIONCERTREQ)
      .String("Username", user)
      .String("Domain", domain)
      .Finish();
}

QVSTATUS errAMBuildPasscodeReq(HQVEXTOBJ* out, const char* user, const char* domain,
                               int32_t kelTime, int32_t kelReturn) {
  return Builder(out, AM_SIDE_DAZAR, AM_PASSCODEREQ)
      .String("Username", user)
      .String("Domain", domain)
      .I32("KELTime", kelTime)
      .I32("KELReturn", kelReturn)
      .Finish();
}

QVSTATUS errAMBuildNewPinReq(HQVEXTOBJ* out, const char* systemPin, int8_t alphanumeric,
                             int8_t selectable, int8_t minLength, int8_t maxLength) {
  return Builder(out, AM_SIDE_DAZAR, AM_NEWPINREQ)
      .String("SystemPIN", systemPin)
      .I8("Alphanumeric", alphanumeric)
      .I8("Selectable", selectable)
      .I8("MinLength", minLength)
      .I8("MaxLength", maxLength)
      .Finish();
}

QVSTATUS errAMBuildNextCodeReq(HQVEXTOBJ* out) {
  return Builder(out, AM_SIDE_DAZAR, AM_NEXTCODEREQ).Finish();
}

QVSTATUS errAMBuildStoreSessionCert(HQVEXTOBJ* out, const char* user, const char* domain,
                                    HQVEXTOBJ certificate) {
  if (!certificate) {
    if (out) *out = nullptr;
    return QVS_EXTOBJ_NULL_HANDLE;
  }
  return Builder(out, AM_SIDE_DAZAR, AM_STORESESSIONCERT)
      .String("Username", user)
      .String("Domain", domain)
      .Object(certificate)
      .Finish();
}

QVSTATUS errAMBuildAccessDenied(HQVEXTOBJ* out, int32_t reason) {
  return Builder(out, AM_SIDE_DAZAR, AM_ACCESSDENIED).I32("Reason", reason).Finish();
}

QVSTATUS errAMBuildAuthSuccess(HQVEXTOBJ* out) {
  return Builder(out, AM_SIDE_DAZAR, AM_AUTHSUCCESS).Finish();
}

QVSTATUS errAMBuildSessionCert(HQVEXTOBJ* out, HQVEXTOBJ certificate) {
  return Builder(out, AM_SIDE_DESKTOP, AM_SESSIONCERT).Object(certificate).Finish();
}

QVSTATUS errAMBuildPasscode(HQVEXTOBJ* out, const char* user, const char* domain,
                            const char* passcode) {
  return Builder(out, AM_SIDE_DESKTOP, AM_PASSCODE)
      .String("Username", user)
      .String("Domain", domain)
      .String("Passcode", passcode)
      .Finish();
}

QVSTATUS errAMBuildNewPin(HQVEXTOBJ* out, const char* pin) {
  return Builder(out, AM_SIDE_DESKTOP, AM_NEWPIN).String("Pin", pin).Finish();
}

QVSTATUS errAMBuildNextCode(HQVEXTOBJ* out, const char* nextCode) {
  return Builder(out, AM_SIDE_DESKTOP, AM_NEXTCODE).String("NextCode", nextCode).Finish();
}

QVSTATUS errAMBuildCancel(HQVEXTOBJ* out) {
  return Builder(out, AM_SIDE_DESKTOP, AM_CANCEL).I32("Reason", 0).Finish();
}

QVSTATUS errAMReadSessionCertReq(HQVEXTOBJ msg, AMSessionCertReq* out) {
  QVSTATUS status = ExpectType(msg, AM_SESSIONCERTREQ);
  if (status == QV_OK) status = ReadString(msg, "Username", out->Username, sizeof out->Username);
  if (status == QV_OK) status = ReadString(msg, "Domain", out->Domain, sizeof out->Domain);
  return status;
}

QVSTATUS errAMReadPasscodeReq(HQVEXTOBJ msg, AMPasscodeReq* out) {
  QVSTATUS status = ExpectType(msg, AM_PASSCODEREQ);
  if (status == QV_OK) status = ReadString(msg, "Username", out->Username, sizeof out->Username);
  if (status == QV_OK) status = ReadString(msg, "Domain", out->Domain, sizeof out->Domain);
  if (status == QV_OK) status = ReadI32(msg, "KELTime", &out->KELTime);
  if (status == QV_OK) status = ReadI32(msg, "KELReturn", &out->KELReturn);
  if (status == QV_OK) out->ServerTime = int64_t{out->KELTime} + AM_KELTIME_OFFSET;
  return status;
}

QVSTATUS errAMReadNewPinReq(HQVEXTOBJ msg, AMNewPinReq* out) {
  QVSTATUS status = ExpectType(msg, AM_NEWPINREQ);
  if (status == QV_OK) status = ReadString(msg, "SystemPIN", out->SystemPIN, sizeof out->SystemPIN);
  if (status == QV_OK) status = ReadI8(msg, "Alphanumeric", &out->Alphanumeric);
  if (status == QV_OK) status = ReadI8(msg, "Selectable", &out->Selectable);
  if (status == QV_OK) status = ReadI8(msg, "MinLength", &out->MinLength);
  if (status == QV_OK) status = ReadI8(msg, "MaxLength", &out->MaxLength);
  return status;
}

QVSTATUS errAMReadStoreSessionCert(HQVEXTOBJ msg, AMStoreSessionCert* out) {
  out->Certificate = nullptr;
  out->Dummy = false;
  QVSTATUS status = ExpectType(msg, AM_STORESESSIONCERT);
  if (status == QV_OK) status = ReadString(msg, "Username", out->Username, sizeof out->Username);
  if (status == QV_OK) status = ReadString(msg, "Domain", out->Domain, sizeof out->Domain);
  if (status != QV_OK) return status;
  HQVEXTOBJ cert = nullptr;
  status = FindSubObject(msg, AM_SESSION_CERT_TYPE, &cert);
  if (status != QV_OK) return status;
  if (cert) {
    out->Certificate = cert;
    return QV_OK;
  }
  HQVEXTOBJ dummy = nullptr;
  status = FindSubObject(msg, AM_DUMMY_CERT_TYPE, &dummy);
  if (status != QV_OK) return status;
  if (!dummy) return QVS_AM_PROTOCOL_ERROR;
  errQVNetMsgDestroy(dummy);
  out->Dummy = true;
  return QV_OK;
}

QVSTATUS errAMReadAccessDenied(HQVEXTOBJ msg, int32_t* reason) {
  QVSTATUS status = ExpectType(msg, AM_ACCESSDENIED);
  return status == QV_OK ? ReadI32(msg, "Reason", reason) : status;
}

QVSTATUS errAMReadSessionCert(HQVEXTOBJ msg, HQVEXTOBJ* certificate) {
  *certificate = nullptr;
  QVSTATUS status = ExpectType(msg, AM_SESSIONCERT);
  return status == QV_OK ? FindSubObject(msg, AM_SESSION_CERT_TYPE, certificate) : status;
}

QVSTATUS errAMReadPasscode(HQVEXTOBJ msg, AMPasscode* out) {
  QVSTATUS status = ExpectType(msg, AM_PASSCODE);
  if (status == QV_OK) status = ReadString(msg, "Username", out->Username, sizeof out->Username);
  if (status == QV_OK) status = ReadString(msg, "Domain", out->Domain, sizeof out->Domain);
  if (status == QV_OK) status = ReadString(msg, "Passcode", out->Passcode, sizeof out->Passcode);
  return status;
}

QVSTATUS errAMReadNewPin(HQVEXTOBJ msg, char* pin) {
  QVSTATUS status = ExpectType(msg, AM_NEWPIN);
  return status == QV_OK ? ReadString(msg, "Pin", pin, AM_ANSWER_BUFFER) : status;
}

QVSTATUS errAMReadNextCode(HQVEXTOBJ msg, char* nextCode) {
  QVSTATUS status = ExpectType(msg, AM_NEXTCODE);
  return status == QV_OK ? ReadString(msg, "NextCode", nextCode, AM_ANSWER_BUFFER) : status;
}

QVSTATUS errAMReadCancel(HQVEXTOBJ msg, int32_t* reason) {
  QVSTATUS status = ExpectType(msg, AM_CANCEL);
  return status == QV_OK ? ReadI32(msg, "Reason", reason) : status;
}

QVSTATUS errAMReadEmpty(HQVEXTOBJ msg, uint16_t type) { return ExpectType(msg, type); }

QVSTATUS errAMCheckProtocolMessage(HQVEXTOBJ msg, uint16_t* type) {
  int32_t protocol = 0;
  if (errQVNetMsgGetI32(msg, "Protocol", &protocol) != QV_OK || (protocol & 0xFF) != 1) {
    QV_TRACE(8, kCategory, kModule, "Unsupported protocol version <%d>", protocol);
    return QVS_AM_BAD_PROTOCOL;
  }
  uint16_t value = 0;
  if (errQVNetMsgGetU16(msg, "Type", &value) != QV_OK) {
    QV_TRACE(8, kCategory, kModule, "Message without a valid Type");
    return QVS_AM_PROTOCOL_ERROR;
  }
  if (type) *type = value;
  return QV_OK;
}

QVSTATUS errAMReceiveProtocolMessage(QVNetSession* session, int socket, HQVEXTOBJ* out,
                                     uint16_t* type, int limit) {
  PM_ENTER();
  *out = nullptr;
  HQVEXTOBJ msg = nullptr;
  QVSTATUS status = errQVNetMsgSSLWaitReceive(session, socket, &msg, limit);
  if (status != QV_OK) return PM_LEAVE(status);
  status = errAMCheckProtocolMessage(msg, type);
  if (status != QV_OK) {
    errQVNetMsgDestroy(msg);
    return PM_LEAVE(status);
  }
  *out = msg;
  return PM_LEAVE(QV_OK);
}

QVSTATUS errAMSendProtocolMessage(QVNetSession* session, int socket, HQVEXTOBJ msg) {
  PM_ENTER();
  QVSTATUS status = errQVNetMsgSSLSend(session, socket, msg);
  errQVNetMsgDestroy(msg);
  return PM_LEAVE(status);
}

}  // extern "C"
