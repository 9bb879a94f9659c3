// Field accessors of network messages: forwarders to the object layer.
#include "qvnetmsg.h"

extern "C" {

QVSTATUS errQVNetMsgCreate(HQVEXTOBJ* out, const char* type) {
  return errQVExtObjCreateObj(out, type);
}

QVSTATUS errQVNetMsgDestroy(HQVEXTOBJ obj) { return obj ? errQVExtObjDestroyObj(obj) : QV_OK; }

QVSTATUS errQVNetMsgAddI8(HQVEXTOBJ obj, const char* name, int8_t value) {
  return errQVExtObjAddI8(obj, name, value);
}

QVSTATUS errQVNetMsgAddU16(HQVEXTOBJ obj, const char* name, uint16_t value) {
  return errQVExtObjAddU16(obj, name, value);
}

QVSTATUS errQVNetMsgAddI32(HQVEXTOBJ obj, const char* name, int32_t value) {
  return errQVExtObjAddI32(obj, name, value);
}

QVSTATUS errQVNetMsgAddString(HQVEXTOBJ obj, const char* name, const char* text) {
  return errQVExtObjCreateString(obj, name, text);
}

QVSTATUS errQVNetMsgAddBinary(HQVEXTOBJ obj, const char* name, const void* bytes, size_t length) {
  return errQVExtObjAddBinary(obj, name, bytes, length);
}

QVSTATUS errQVNetMsgAddObjField(HQVEXTOBJ obj, HQVEXTOBJ sub) {
  return errQVExtObjAddObjAttribute(obj, sub);
}

QVSTATUS errQVNetMsgGetI8(HQVEXTOBJ obj, const char* name, int8_t* value) {
  return errQVExtObjGetI8(obj, name, value);
}

QVSTATUS errQVNetMsgGetU16(HQVEXTOBJ obj, const char* name, uint16_t* value) {
  return errQVExtObjGetU16(obj, name, value);
}

QVSTATUS errQVNetMsgGetI32(HQVEXTOBJ obj, const char* name, int32_t* value) {
  return errQVExtObjGetI32(obj, name, value);
}

QVSTATUS errQVNetMsgGetString(HQVEXTOBJ obj, const char* name, char* buffer, size_t* size) {
  return errQVExtObjGetString(obj, name, buffer, size);
}

QVSTATUS errQVNetMsgGetObjField(HQVEXTOBJ obj, const char* name, HQVEXTOBJ* sub) {
  return errQVExtObjGetObjAttribute(obj, name, sub);
}

QVSTATUS errQVNetMsgCreateFromBuffer(HQVEXTOBJ* out, const char* text, size_t length) {
  return errQVExtObjCreateObjFromBuffer(out, text, length);
}

}  // extern "C"
