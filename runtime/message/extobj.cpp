// Objects, attribute writers and readers.
#include <cstdio>
#include <cstring>
#include <new>

#include "qvextobj.h"
#include "runtime/message/extobj_model.h"
#include "runtime/message/extobj_trace.h"

namespace {

constexpr char kModule[] = "QVEXTOBJ";

bool IsStoredKind(uint32_t kind) {
  switch (kind) {
    case QV_ATTR_INT:
    case QV_ATTR_ASCII:
    case QV_ATTR_OBJECT:
    case QV_ATTR_BASE64:
    case QV_ATTR_MIXED:
    case QV_ATTR_UNICODE:
      return true;
    default:
      return false;
  }
}

bool HasHighByte(const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return true;
  }
  return false;
}

// Checks a writer's arguments and fixes the stored kind: the string kind
// becomes ASCII or MIXED by content.
QVSTATUS CheckValue(uint32_t& kind, const char* name, const void* value, size_t length) {
  if (name && std::strlen(name) > QV_EXTOBJ_MAX_NAME) return QVS_EXTOBJ_NAME_TOO_LONG;
  if (!value && length != 0) return QVS_EXTOBJ_NULL_SOURCE;
  if (kind == QV_ATTR_STRING) {
    kind = HasHighByte(static_cast<const char*>(value), length) ? QV_ATTR_MIXED : QV_ATTR_ASCII;
  }
  if (!IsStoredKind(kind)) return QVS_EXTOBJ_WRONG_KIND;
  if (kind == QV_ATTR_INT && length != sizeof(int32_t)) return QVS_EXTOBJ_WRONG_KIND;
  if (kind == QV_ATTR_UNICODE && length % 2 != 0) return QVS_EXTOBJ_ODD_UNICODE;
  return QV_OK;
}

QVSTATUS AddIntNode(HQVEXTOBJ obj, const char* name, int32_t value) {
  return errAddAttrFromType(obj, QV_ATTR_INT, name, &value, sizeof value);
}

QVSTATUS GetIntNode(HQVEXTOBJ obj, const char* name, int32_t* value) {
  size_t size = sizeof *value;
  return errGetAttr(obj, name, QV_ATTR_INT, &size, value);
}

}  // namespace

namespace qv::extobj {

size_t FindNode(QVExtObj* obj, const char* name) {
  if (!name || !*name) return obj->cursor < obj->nodes.size() ? obj->cursor : QVExtObj::kNoCursor;
  for (size_t i = 0; i < obj->nodes.size(); ++i) {
    if (obj->nodes[i].name == name) {
      obj->cursor = i;
      return i;
    }
  }
  return QVExtObj::kNoCursor;
}

size_t SubObjectEnd(const QVExtObj& obj, size_t index) {
  const uint32_t depth = obj.nodes[index].depth;
  size_t end = index + 1;
  while (end < obj.nodes.size()) {
    const QVExtObjNode& node = obj.nodes[end];
    if (node.depth < depth) break;
    if (node.kind == QV_ATTR_OBJECT && node.depth == depth) break;
    ++end;
  }
  return end;
}

}  // namespace qv::extobj

extern "C" {

QVSTATUS errQVExtObjCreateObj(HQVEXTOBJ* out, const char* type) {
  QV_EXTOBJ_ENTER(kModule);
  if (!out) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_OUTPUT);
  *out = nullptr;
  if (!type) type = "";
  if (std::strlen(type) > QV_EXTOBJ_MAX_NAME)
    return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_TYPE_TOO_LONG);
  auto* obj = new (std::nothrow) QVExtObj;
  if (!obj) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NO_MEMORY);
  try {
    obj->type = type;
  } catch (const std::bad_alloc&) {
    delete obj;
    return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NO_MEMORY);
  }
  *out = obj;
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

QVSTATUS errQVExtObjDestroyObj(HQVEXTOBJ obj) {
  QV_EXTOBJ_ENTER(kModule);
  if (!obj) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_HANDLE);
  delete obj;
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

QVSTATUS errQVExtObjGetType(HQVEXTOBJ obj, char* buffer) {
  QV_EXTOBJ_ENTER(kModule);
  if (!obj) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_HANDLE);
  if (!buffer) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_TYPE_BUFFER);
  std::memcpy(buffer, obj->type.c_str(), obj->type.size() + 1);
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

QVSTATUS errQVExtObjGetObjAttribute(HQVEXTOBJ obj, const char* name, HQVEXTOBJ* out) {
  QV_EXTOBJ_ENTER(kModule);
  if (!obj) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_HANDLE);
  if (!out) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_OUTPUT);
  *out = nullptr;
  size_t index = qv::extobj::FindNode(obj, name);
  if (index == QVExtObj::kNoCursor) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NO_ATTRIBUTE);
  const QVExtObjNode& head = obj->nodes[index];
  if (head.kind != QV_ATTR_OBJECT) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_WRONG_KIND);

  HQVEXTOBJ sub = nullptr;
  QVSTATUS status = errQVExtObjCreateObj(&sub, head.name.c_str());
  if (status != QV_OK) {
    QV_TRACE(qv::extobj::kTraceLevel, qv::extobj::kTraceCategory, kModule,
             "Failed to create out handles");
    return QV_EXTOBJ_LEAVE(kModule, status);
  }
  const size_t end = qv::extobj::SubObjectEnd(*obj, index);
  try {
    sub->nodes.reserve(end - index - 1);
    for (size_t i = index + 1; i < end; ++i) {
      sub->nodes.push_back(obj->nodes[i]);
      sub->nodes.back().depth -= head.depth;
    }
  } catch (const std::bad_alloc&) {
    delete sub;
    return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NO_MEMORY);
  }
  *out = sub;
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

// --- Writers ---------------------------------------------------------------

QVSTATUS errAddAttrFromType(HQVEXTOBJ obj, uint32_t kind, const char* name, const void* value,
                            size_t length) {
  QV_EXTOBJ_ENTER(kModule);
  if (!obj) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_HANDLE);
  // Sub-objects are added with their attributes by errQVExtObjAddObjAttribute;
  // a bare OBJECT node would write a text no reader accepts.
  if (kind == QV_ATTR_OBJECT) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_WRONG_KIND);
  QVSTATUS status = CheckValue(kind, name, value, length);
  if (status != QV_OK) return QV_EXTOBJ_LEAVE(kModule, status);
  try {
    QVExtObjNode node;
    node.name = name ? name : "";
    node.kind = kind;
    if (length) node.value.assign(static_cast<const char*>(value), length);
    obj->nodes.push_back(std::move(node));
  } catch (const std::bad_alloc&) {
    return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NO_MEMORY);
  }
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

QVSTATUS errQVExtObjAddI8(HQVEXTOBJ obj, const char* name, int8_t value) {
  return AddIntNode(obj, name, value);
}

QVSTATUS errQVExtObjAddU16(HQVEXTOBJ obj, const char* name, uint16_t value) {
  return AddIntNode(obj, name, value);
}

QVSTATUS errQVExtObjAddI32(HQVEXTOBJ obj, const char* name, int32_t value) {
  return AddIntNode(obj, name, value);
}

QVSTATUS errQVExtObjCreateString(HQVEXTOBJ obj, const char* name, const char* text) {
  if (!text) return QVS_EXTOBJ_NULL_SOURCE;
  return errAddAttrFromType(obj, QV_ATTR_STRING, name, text, std::strlen(text) + 1);
}

QVSTATUS errQVExtObjAddBinary(HQVEXTOBJ obj, const char* name, const void* bytes, size_t length) {
  return errAddAttrFromType(obj, QV_ATTR_BASE64, name, bytes, length);
}

QVSTATUS errQVExtObjAddObjAttribute(HQVEXTOBJ obj, HQVEXTOBJ sub) {
  QV_EXTOBJ_ENTER(kModule);
  if (!obj || !sub) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_HANDLE);
  try {
    // Copy first: `sub` may be `obj` itself.
    std::vector<QVExtObjNode> added;
    added.reserve(sub->nodes.size() + 1);
    QVExtObjNode head;
    head.name = sub->type;
    head.kind = QV_ATTR_OBJECT;
    head.depth = 1;
    added.push_back(std::move(head));
    for (const QVExtObjNode& node : sub->nodes) {
      added.push_back(node);
      added.back().depth += 1;
    }
    obj->nodes.reserve(obj->nodes.size() + added.size());
    for (QVExtObjNode& node : added) obj->nodes.push_back(std::move(node));
  } catch (const std::bad_alloc&) {
    return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NO_MEMORY);
  }
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

QVSTATUS errUpdateAttr(HQVEXTOBJ obj, uint32_t kind, const char* name, const void* value,
                       size_t length) {
  QV_EXTOBJ_ENTER(kModule);
  if (!obj) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_HANDLE);
  if (kind == QV_ATTR_OBJECT) return QV_EXTOBJ_LEAVE(kModule, QV_OK);
  QVSTATUS status = CheckValue(kind, name, value, length);
  if (status != QV_OK) return QV_EXTOBJ_LEAVE(kModule, status);
  size_t index = qv::extobj::FindNode(obj, name);
  if (index == QVExtObj::kNoCursor) {
    return QV_EXTOBJ_LEAVE(kModule, errAddAttrFromType(obj, kind, name, value, length));
  }
  QVExtObjNode& node = obj->nodes[index];
  if (node.kind == QV_ATTR_OBJECT) return QV_EXTOBJ_LEAVE(kModule, QV_OK);
  try {
    node.value.assign(static_cast<const char*>(value), length);
  } catch (const std::bad_alloc&) {
    return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NO_MEMORY);
  }
  node.kind = kind;
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

QVSTATUS errQVExtObjUpdateString(HQVEXTOBJ obj, const char* name, const char* text) {
  if (!text) return QVS_EXTOBJ_NULL_SOURCE;
  return errUpdateAttr(obj, QV_ATTR_STRING, name, text, std::strlen(text) + 1);
}

// --- Readers ---------------------------------------------------------------

QVSTATUS errGetAttr(HQVEXTOBJ obj, const char* name, uint32_t kind, size_t* size, void* buffer) {
  QV_EXTOBJ_ENTER(kModule);
  if (!obj) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_HANDLE);
  if (!size) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_LENGTH);
  size_t index = qv::extobj::FindNode(obj, name);
  if (index == QVExtObj::kNoCursor) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NO_ATTRIBUTE);
  const QVExtObjNode& node = obj->nodes[index];
  const bool isString = node.kind == QV_ATTR_ASCII || node.kind == QV_ATTR_MIXED;
  if (kind == QV_ATTR_STRING ? !isString : node.kind != kind) {
    return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_WRONG_KIND);
  }
  const size_t capacity = *size;
  const size_t length = node.value.size();
  *size = length;
  if (!buffer || capacity == 0) return QV_EXTOBJ_LEAVE(kModule, QV_OK);
  auto* out = static_cast<char*>(buffer);
  if (isString) {
    // Always terminated, cut to the buffer.
    size_t n = length < capacity - 1 ? length : capacity - 1;
    std::memcpy(out, node.value.data(), n);
    out[n] = '\0';
  } else {
    std::memcpy(out, node.value.data(), length < capacity ? length : capacity);
  }
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

QVSTATUS errQVExtObjGetI8(HQVEXTOBJ obj, const char* name, int8_t* value) {
  int32_t v = 0;
  QVSTATUS status = GetIntNode(obj, name, &v);
  if (status != QV_OK) return status;
  if (v < -127 || v > 127) return QVS_EXTOBJ_OUT_OF_RANGE;
  if (value) *value = static_cast<int8_t>(v);
  return QV_OK;
}

QVSTATUS errQVExtObjGetU16(HQVEXTOBJ obj, const char* name, uint16_t* value) {
  int32_t v = 0;
  QVSTATUS status = GetIntNode(obj, name, &v);
  if (status != QV_OK) return status;
  if (v < 0 || v > 65000) return QVS_EXTOBJ_OUT_OF_RANGE;
  if (value) *value = static_cast<uint16_t>(v);
  return QV_OK;
}

QVSTATUS errQVExtObjGetI32(HQVEXTOBJ obj, const char* name, int32_t* value) {
  int32_t v = 0;
  QVSTATUS status = GetIntNode(obj, name, &v);
  if (status == QV_OK && value) *value = v;
  return status;
}

QVSTATUS errQVExtObjGetString(HQVEXTOBJ obj, const char* name, char* buffer, size_t* size) {
  return errGetAttr(obj, name, QV_ATTR_STRING, size, buffer);
}

QVSTATUS errQVExtObjGetBinary(HQVEXTOBJ obj, const char* name, void* buffer, size_t* size) {
  return errGetAttr(obj, name, QV_ATTR_BASE64, size, buffer);
}

QVSTATUS errQVExtObjGetAttrInfo(HQVEXTOBJ obj, const char* name, uint32_t* kind, size_t* length) {
  QV_EXTOBJ_ENTER(kModule);
  if (!obj) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_HANDLE);
  if (!length) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_LENGTH);
  size_t index = qv::extobj::FindNode(obj, name);
  if (index == QVExtObj::kNoCursor) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NO_ATTRIBUTE);
  if (kind) *kind = obj->nodes[index].kind;
  *length = obj->nodes[index].value.size();
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

const char* pszQVExtObjErrorText(QVSTATUS status) {
  static thread_local char text[64];
  std::snprintf(text, sizeof text, "External object data error number %ld",
                static_cast<long>(static_cast<int32_t>(status)));
  return text;
}

}  // extern "C"
