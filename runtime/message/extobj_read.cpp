// Text form reader. Every look at the text is bounded by its length.
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "qvextobj.h"
#include "runtime/message/base64.h"
#include "runtime/message/extobj_model.h"
#include "runtime/message/extobj_trace.h"

namespace {

constexpr char kModule[] = "QVEXTOBJ";
constexpr size_t kMaxIntChars = 19;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class Reader {
 public:
  Reader(const char* text, size_t length) : end_(text + length), p_(text) {}

  QVSTATUS Parse(QVExtObj& obj);

 private:
  bool AtEnd() const { return p_ >= end_; }
  void SkipSpaces() {
    while (p_ < end_ && *p_ == ' ') ++p_;
  }
  QVSTATUS ReadName(std::string& name);
  QVSTATUS ReadAttribute(QVExtObj& obj, int& count);
  QVSTATUS ReadString(std::string& value);
  QVSTATUS ReadFlagged(uint32_t& kind, std::string& value);
  QVSTATUS ReadInt(std::string& value);

  const char* end_;
  const char* p_;
};

QVSTATUS Reader::Parse(QVExtObj& obj) {
  while (p_ < end_ && IsDigit(*p_)) ++p_;
  if (p_ < end_ && *p_ == 'v') {
    ++p_;
    uint32_t version = 0;
    bool big = false;
    while (p_ < end_ && IsDigit(*p_)) {
      version = version * 10 + static_cast<uint32_t>(*p_++ - '0');
      if (version > 1) big = true;
    }
    if (big || version != 1) return QVS_EXTOBJ_BAD_VERSION;
  }
  if (AtEnd()) return QVS_EXTOBJ_TEXT_TOO_SHORT;
  if (*p_ != '(') return QVS_EXTOBJ_SYNTAX;
  ++p_;
  SkipSpaces();
  QVSTATUS status = ReadName(obj.type);
  if (status != QV_OK) return status;

  int count = 0;
  for (;;) {
    SkipSpaces();
    if (AtEnd()) return QVS_EXTOBJ_TEXT_TOO_SHORT;
    char c = *p_++;
    if (c == ')') {
      if (--count < 0) return QV_OK;
    } else if (c == '(') {
      status = ReadAttribute(obj, count);
      if (status != QV_OK) return status;
    } else {
      return QVS_EXTOBJ_SYNTAX;
    }
  }
}

QVSTATUS Reader::ReadName(std::string& name) {
  const char* start = p_;
  while (p_ < end_ && *p_ != ':') {
    unsigned char c = static_cast<unsigned char>(*p_);
    if (c <= 0x20 || c >= 0x7F) return QVS_EXTOBJ_SYNTAX;
    if (static_cast<size_t>(p_ - start) >= QV_EXTOBJ_MAX_NAME) return QVS_EXTOBJ_SYNTAX;
    ++p_;
  }
  if (AtEnd()) return QVS_EXTOBJ_TEXT_TOO_SHORT;
  name.assign(start, p_ - start);
  ++p_;  // ':'
  return QV_OK;
}

QVSTATUS Reader::ReadAttribute(QVExtObj& obj, int& count) {
  QVExtObjNode node;
  SkipSpaces();
  QVSTATUS status = ReadName(node.name);
  if (status != QV_OK) return status;
  SkipSpaces();
  if (AtEnd()) return QVS_EXTOBJ_TEXT_TOO_SHORT;
  char c = *p_;
  if (c == '(') {
    // The "(" stays: it opens the sub-object's first attribute.
    node.kind = QV_ATTR_OBJECT;
    node.depth = static_cast<uint32_t>(++count);
    obj.nodes.push_back(std::move(node));
    return QV_OK;
  }
  if (c == '"') {
    node.kind = QV_ATTR_ASCII;
    status = ReadString(node.value);
  } else if (c == '|' || c == '~' || c == '#' || c == '!') {
    status = ReadFlagged(node.kind, node.value);
  } else if (c == '-' || IsDigit(c)) {
    node.kind = QV_ATTR_INT;
    status = ReadInt(node.value);
  } else {
    return QVS_EXTOBJ_SYNTAX;
  }
  if (status != QV_OK) return status;
  node.depth = static_cast<uint32_t>(count);
  SkipSpaces();
  if (AtEnd()) return QVS_EXTOBJ_TEXT_TOO_SHORT;
  if (*p_ != ')') return QVS_EXTOBJ_SYNTAX;
  ++p_;
  obj.nodes.push_back(std::move(node));
  return QV_OK;
}

QVSTATUS Reader::ReadString(std::string& value) {
  ++p_;  // opening quote
  for (;;) {
    if (AtEnd()) return QVS_EXTOBJ_BAD_VALUE;
    char c = *p_++;
    if (c == '"') break;
    if (c == '\\') {
      if (AtEnd()) return QVS_EXTOBJ_BAD_VALUE;
      c = *p_++;
    }
    unsigned char u = static_cast<unsigned char>(c);
    if (u == 0 || u >= 0x80) return QVS_EXTOBJ_BAD_VALUE;
    value.push_back(c);
  }
  value.push_back('\0');
  return QV_OK;
}

// A flagged base64 value. An empty run is an empty value, as the writer
// writes one.
QVSTATUS Reader::ReadFlagged(uint32_t& kind, std::string& value) {
  const char flag = *p_++;
  const char* run = p_;
  // The run ends at a space, ")" or "="; any other character outside the
  // alphabet is a bad value.
  p_ = qv::base64::ScanRun(p_, end_);
  if (AtEnd()) return QVS_EXTOBJ_TEXT_TOO_SHORT;
  if (*p_ != ' ' && *p_ != ')' && *p_ != '=') return QVS_EXTOBJ_BAD_VALUE;
  const size_t count = p_ - run;
  const size_t padding = (4 - count % 4) % 4;
  if (count % 4 == 1) return QVS_EXTOBJ_BAD_VALUE;
  for (size_t i = 0; i < padding; ++i) {
    if (AtEnd()) return QVS_EXTOBJ_TEXT_TOO_SHORT;
    if (*p_ != '=') return QVS_EXTOBJ_BAD_VALUE;
    ++p_;
  }
  if (AtEnd()) return QVS_EXTOBJ_TEXT_TOO_SHORT;
  if (*p_ == '=') return QVS_EXTOBJ_BAD_VALUE;

  qv::base64::DecodeRun(run, count, value);
  switch (flag) {
    case '|':
      kind = QV_ATTR_BASE64;
      break;
    case '~':
      // The writer includes the terminating zero; add one only when missing.
      kind = QV_ATTR_MIXED;
      if (value.empty() || value.back() != '\0') value.push_back('\0');
      break;
    default: {
      kind = QV_ATTR_UNICODE;
      if (value.size() % 2 != 0) return QVS_EXTOBJ_BAD_VALUE;
      const bool lsbFirst = flag == '#';
      const bool nativeLsb = std::endian::native == std::endian::little;
      if (lsbFirst != nativeLsb) {
        for (size_t i = 0; i < value.size(); i += 2) std::swap(value[i], value[i + 1]);
      }
      break;
    }
  }
  return QV_OK;
}

// At most 19 characters, sign included; the value wraps to 32 bits.
QVSTATUS Reader::ReadInt(std::string& value) {
  const char* start = p_;
  bool negative = false;
  if (*p_ == '-') {
    negative = true;
    ++p_;
  }
  uint32_t v = 0;
  const char* digits = p_;
  while (p_ < end_ && IsDigit(*p_) && static_cast<size_t>(p_ - start) < kMaxIntChars) {
    v = v * 10u + static_cast<uint32_t>(*p_++ - '0');
  }
  if (p_ == digits) return QVS_EXTOBJ_BAD_VALUE;
  if (negative) v = 0u - v;
  int32_t result = static_cast<int32_t>(v);
  value.assign(reinterpret_cast<const char*>(&result), sizeof result);
  return QV_OK;
}

}  // namespace

extern "C" {

QVSTATUS errQVExtObjCreateObjFromBuffer(HQVEXTOBJ* out, const char* text, size_t length) {
  QV_EXTOBJ_ENTER(kModule);
  if (!out) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_OUTPUT);
  *out = nullptr;
  if (!text) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NULL_SOURCE);
  auto* obj = new (std::nothrow) QVExtObj;
  if (!obj) return QV_EXTOBJ_LEAVE(kModule, QVS_EXTOBJ_NO_MEMORY);
  QVSTATUS status;
  try {
    status = Reader(text, length).Parse(*obj);
  } catch (const std::bad_alloc&) {
    status = QVS_EXTOBJ_NO_MEMORY;
  }
  if (status != QV_OK) {
    delete obj;
    return QV_EXTOBJ_LEAVE(kModule, status);
  }
  *out = obj;
  return QV_EXTOBJ_LEAVE(kModule, QV_OK);
}

}  // extern "C"
