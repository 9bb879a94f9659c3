// Text form writer: a size-only pass, then the decimal prefix and the text.
#include <bit>
#include <cstring>

#include "qvextobj.h"
#include "runtime/message/base64.h"
#include "runtime/message/extobj_model.h"
#include "runtime/message/extobj_trace.h"

namespace {

constexpr char kModule[] = "QVEXTOBJ";

int32_t IntValue(const QVExtObjNode& node) {
  int32_t v = 0;
  if (node.value.size() == sizeof v) std::memcpy(&v, node.value.data(), sizeof v);
  return v;
}

// The text of an ASCII value ends at its terminating zero.
size_t TextBytes(const QVExtObjNode& node) {
  const void* zero = std::memchr(node.value.data(), 0, node.value.size());
  return zero ? static_cast<const char*>(zero) - node.value.data() : node.value.size();
}

size_t IntLength(int32_t v) {
  uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  return (v < 0 ? 1 : 0) + qv::extobj::DecimalDigits(magnitude);
}

size_t ValueLength(const QVExtObjNode& node) {
  switch (node.kind) {
    case QV_ATTR_INT:
      return IntLength(IntValue(node));
    case QV_ATTR_ASCII: {
      size_t n = TextBytes(node);
      size_t escapes = 0;
      for (size_t i = 0; i < n; ++i) {
        if (node.value[i] == '\\' || node.value[i] == '"') ++escapes;
      }
      return 2 + n + escapes;
    }
    case QV_ATTR_BASE64:
    case QV_ATTR_MIXED:
    case QV_ATTR_UNICODE:
      return 1 + qv::base64::EncodedLength(node.value.size());
    default:
      return 0;
  }
}

// Depth to close down to before a node. An OBJECT node opens its sub-object
// one level above its own depth, so a sub-object that directly follows
// another one closes it first instead of nesting inside it.
uint32_t OpenDepth(const QVExtObjNode& node) {
  if (node.kind == QV_ATTR_OBJECT && node.depth > 0) return node.depth - 1;
  return node.depth;
}

char* WriteDecimal(char* p, uint64_t v) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  while (n) *p++ = digits[--n];
  return p;
}

char* WriteValue(char* p, const QVExtObjNode& node) {
  switch (node.kind) {
    case QV_ATTR_INT: {
      int32_t v = IntValue(node);
      if (v < 0) *p++ = '-';
      return WriteDecimal(p, v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v));
    }
    case QV_ATTR_ASCII: {
      size_t n = TextBytes(node);
      *p++ = '"';
      for (size_t i = 0; i < n; ++i) {
        char c = node.value[i];
        if (c == '\\' || c == '"') *p++ = '\\';
        *p++ = c;
      }
      *p++ = '"';
      return p;
    }
    case QV_ATTR_BASE64:
    case QV_ATTR_MIXED:
    case QV_ATTR_UNICODE: {
      char flag = node.kind == QV_ATTR_BASE64 ? '|' : node.kind == QV_ATTR_MIXED ? '~' : '#';
      if (node.kind == QV_ATTR_UNICODE && std::endian::native == std::endian::big) flag = '!';
      *p++ = flag;
      qv::base64::Encode(node.value.data(), node.value.size(), p);
      return p + qv::base64::EncodedLength(node.value.size());
    }
    default:
      return p;
  }
}

char* WriteText(char* p, const QVExtObj& obj) {
  *p++ = '(';
  std::memcpy(p, obj.type.data(), obj.type.size());
  p += obj.type.size();
  *p++ = ':';
  uint32_t current = 0;
  for (const QVExtObjNode& node : obj.nodes) {
    for (uint32_t target = OpenDepth(node); current > target; --current) *p++ = ')';
    *p++ = '(';
    std::memcpy(p, node.name.data(), node.name.size());
    p += node.name.size();
    *p++ = ':';
    p = WriteValue(p, node);
    if (node.kind != QV_ATTR_OBJECT) *p++ = ')';
    current = node.depth;
  }
  for (uint32_t i = 0; i <= current; ++i) *p++ = ')';
  return p;
}

}  // namespace

namespace qv::extobj {

size_t DecimalDigits(size_t value) {
  size_t n = 1;
  while (value >= 10) {
    value /= 10;
    ++n;
  }
  return n;
}

size_t TextLength(const QVExtObj& obj) {
  size_t length = 2 + obj.type.size();
  uint32_t current = 0;
  for (const QVExtObjNode& node : obj.nodes) {
    uint32_t target = OpenDepth(node);
    if (current > target) length += current - target;
    length += 2 + node.name.size() + ValueLength(node);
    if (node.kind != QV_ATTR_OBJECT) length += 1;
    current = node.depth;
  }
  return length + current + 1;
}

}  // namespace qv::extobj

extern "C" {

QVSTATUS errQVExtObjExternalSize(HQVEXTOBJ obj, size_t* length) {
  QV_EXTOBJ_ENTER(kModule);
  if (!obj) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_HANDLE);
  if (!length) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_LENGTH);
  size_t text = qv::extobj::TextLength(*obj);
  *length = qv::extobj::DecimalDigits(text) + text;
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

QVSTATUS errQVExtObjWriteToBuffer(HQVEXTOBJ obj, char* buffer, size_t* length) {
  QV_EXTOBJ_ENTER(kModule);
  if (!obj) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_HANDLE);
  if (!length) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_LENGTH);
  if (!buffer) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_DESTINATION);
  const size_t text = qv::extobj::TextLength(*obj);
  const size_t prefix = qv::extobj::DecimalDigits(text);
  const size_t capacity = *length;
  *length = prefix + text;
  if (capacity < prefix + text) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_BUFFER_TOO_SMALL);
  char* p = WriteDecimal(buffer, text);
  WriteText(p, *obj);
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

}  // extern "C"
