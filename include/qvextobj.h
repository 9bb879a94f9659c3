// External objects: a named, ordered list of typed attributes with a
// length-prefixed S-expression text form.
//
// Every operation returns QV_OK or one of the QVS_EXTOBJ_... statuses of
// qvcodes/message.def. The handle of an object is the object itself; whoever
// creates or receives one releases it with errQVExtObjDestroyObj. Objects are
// not shared between threads.
//
// Sub-objects are held flat: an OBJECT node at depth d opens a sub-object named
// after the node; every following node of depth >= d belongs to it. Top-level
// attributes have depth 0.
//
// Text form: <L>(<type>:(<name>:<value>)...) with L the decimal length of the
// parenthesised text, no white space written. Values: INT decimal, ASCII
// "quoted" with \ before \ and ", BASE64 |b64, MIXED ~b64 (terminating zero
// included), UNICODE #b64 (least significant byte first) or !b64 (most
// significant byte first, read only).
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvstatus.h"

struct QVExtObj;
typedef QVExtObj* HQVEXTOBJ;

// Attribute kinds.
enum : uint32_t {
  QV_ATTR_INT = 1,      // 32-bit signed integer, value length 4
  QV_ATTR_ASCII = 2,    // bytes 0x01..0x7F and a terminating zero
  QV_ATTR_OBJECT = 3,   // opens a sub-object; no value
  QV_ATTR_BASE64 = 4,   // any bytes
  QV_ATTR_MIXED = 5,    // text with a byte >= 0x80, terminating zero included
  QV_ATTR_STRING = 6,   // readers only: ASCII or MIXED
  QV_ATTR_UNICODE = 8,  // 16-bit characters in machine order, even length
};

// Longest type or attribute name, without its terminating zero.
inline constexpr size_t QV_EXTOBJ_MAX_NAME = 80;
// Buffer size errQVExtObjGetType needs.
inline constexpr size_t QV_EXTOBJ_TYPE_BUFFER = QV_EXTOBJ_MAX_NAME + 1;

extern "C" {

// --- Objects ---------------------------------------------------------------

// A new empty object of type `type` (null means ""). QVS_EXTOBJ_NULL_OUTPUT for
// a null `out`, QVS_EXTOBJ_TYPE_TOO_LONG for 81 characters or more.
QVSTATUS errQVExtObjCreateObj(HQVEXTOBJ* out, const char* type);

// Frees the object and all its nodes. QVS_EXTOBJ_NULL_HANDLE for null.
QVSTATUS errQVExtObjDestroyObj(HQVEXTOBJ obj);

// Copies the type name and its zero into `buffer` (QV_EXTOBJ_TYPE_BUFFER bytes).
QVSTATUS errQVExtObjGetType(HQVEXTOBJ obj, char* buffer);

// Length of the text form, decimal prefix included.
QVSTATUS errQVExtObjExternalSize(HQVEXTOBJ obj, size_t* length);

// Writes the text form; no terminating zero. `*length` is the capacity on entry
// and the length of the text form on return, also on QVS_EXTOBJ_BUFFER_TOO_SMALL.
QVSTATUS errQVExtObjWriteToBuffer(HQVEXTOBJ obj, char* buffer, size_t* length);

// Parses `length` bytes of text form into a new object; never reads past them.
// On failure no object is left behind and `*out` is null.
QVSTATUS errQVExtObjCreateObjFromBuffer(HQVEXTOBJ* out, const char* text, size_t length);

// A new object holding copies of the sub-object opened by the OBJECT node
// `name`, at depths relative to it. QVS_EXTOBJ_WRONG_KIND when the node is not
// an OBJECT node, QVS_EXTOBJ_NO_ATTRIBUTE when there is none.
QVSTATUS errQVExtObjGetObjAttribute(HQVEXTOBJ obj, const char* name, HQVEXTOBJ* out);

// --- Writers: append at depth 0, no check for an existing name -------------

QVSTATUS errQVExtObjAddI8(HQVEXTOBJ obj, const char* name, int8_t value);
QVSTATUS errQVExtObjAddU16(HQVEXTOBJ obj, const char* name, uint16_t value);
QVSTATUS errQVExtObjAddI32(HQVEXTOBJ obj, const char* name, int32_t value);
// ASCII, or MIXED when a byte of the text is 0x80 or more.
QVSTATUS errQVExtObjCreateString(HQVEXTOBJ obj, const char* name, const char* text);
QVSTATUS errQVExtObjAddBinary(HQVEXTOBJ obj, const char* name, const void* bytes, size_t length);
// Appends an OBJECT node named after `sub`'s type and copies of its nodes, one
// level deeper.
QVSTATUS errQVExtObjAddObjAttribute(HQVEXTOBJ obj, HQVEXTOBJ sub);

// The common writer. QVS_EXTOBJ_NAME_TOO_LONG for a name over 80 characters,
// QVS_EXTOBJ_ODD_UNICODE for an odd UNICODE length, QVS_EXTOBJ_WRONG_KIND for
// QV_ATTR_OBJECT (sub-objects come with their attributes, through
// errQVExtObjAddObjAttribute) or an unknown kind.
QVSTATUS errAddAttrFromType(HQVEXTOBJ obj, uint32_t kind, const char* name, const void* value,
                            size_t length);

// Replace the value of the first node named `name`, keeping its place and
// depth, or append a new node at depth 0. Updates of or to OBJECT nodes do
// nothing and succeed.
QVSTATUS errQVExtObjUpdateString(HQVEXTOBJ obj, const char* name, const char* text);
QVSTATUS errUpdateAttr(HQVEXTOBJ obj, uint32_t kind, const char* name, const void* value,
                       size_t length);

// --- Readers: first node of that name; an empty name means the cursor ------

// QVS_EXTOBJ_OUT_OF_RANGE unless -127..127.
QVSTATUS errQVExtObjGetI8(HQVEXTOBJ obj, const char* name, int8_t* value);
// QVS_EXTOBJ_OUT_OF_RANGE unless 0..65000.
QVSTATUS errQVExtObjGetU16(HQVEXTOBJ obj, const char* name, uint16_t* value);
QVSTATUS errQVExtObjGetI32(HQVEXTOBJ obj, const char* name, int32_t* value);
// ASCII or MIXED. Copies at most *size - 1 bytes and a zero; *size is set to
// the full value length (zero included) in every case.
QVSTATUS errQVExtObjGetString(HQVEXTOBJ obj, const char* name, char* buffer, size_t* size);
// BASE64. Copies at most *size bytes; *size is set to the full value length.
QVSTATUS errQVExtObjGetBinary(HQVEXTOBJ obj, const char* name, void* buffer, size_t* size);
QVSTATUS errQVExtObjGetAttrInfo(HQVEXTOBJ obj, const char* name, uint32_t* kind, size_t* length);

// The common reader. `kind` QV_ATTR_STRING accepts ASCII and MIXED; `buffer`
// may be null to ask for the length only.
QVSTATUS errGetAttr(HQVEXTOBJ obj, const char* name, uint32_t kind, size_t* size, void* buffer);

// "External object data error number <status>" in a per-thread static buffer.
const char* pszQVExtObjErrorText(QVSTATUS status);

}  // extern "C"
