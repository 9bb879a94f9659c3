// Text-form reader on arbitrary bytes. Any object the reader accepts must
// write back to a text that reads to the same content and writes identically.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qvextobj.h"
#include "runtime/message/extobj_model.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string Write(HQVEXTOBJ h) {
  size_t length = 0;
  Check(errQVExtObjExternalSize(h, &length) == QV_OK);
  std::string text(length, '\0');
  size_t small = length ? length - 1 : 0;
  if (length)
    Check(errQVExtObjWriteToBuffer(h, text.data(), &small) == QVS_EXTOBJ_BUFFER_TOO_SMALL);
  Check(small == length);
  Check(errQVExtObjWriteToBuffer(h, text.data(), &length) == QV_OK);
  Check(length == text.size());
  return text;
}

// Strings compare up to their zero; other values byte for byte.
std::string Observable(const QVExtObjNode& node) {
  if (node.kind == QV_ATTR_ASCII || node.kind == QV_ATTR_MIXED) return node.value.c_str();
  return node.value;
}

void SameContent(const QVExtObj& a, const QVExtObj& b) {
  Check(a.type == b.type);
  Check(a.nodes.size() == b.nodes.size());
  for (size_t i = 0; i < a.nodes.size(); ++i) {
    const QVExtObjNode& x = a.nodes[i];
    const QVExtObjNode& y = b.nodes[i];
    Check(x.name == y.name && x.kind == y.kind && x.depth == y.depth);
    Check(Observable(x) == Observable(y));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so reading past the input is caught.
  char* text = static_cast<char*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(text, data, size);
  HQVEXTOBJ first = nullptr;
  QVSTATUS status = errQVExtObjCreateObjFromBuffer(&first, text, size);
  std::free(text);
  if (status != QV_OK) {
    Check(first == nullptr);
    return 0;
  }
  const std::string written = Write(first);
  HQVEXTOBJ second = nullptr;
  Check(errQVExtObjCreateObjFromBuffer(&second, written.data(), written.size()) == QV_OK);
  SameContent(*first, *second);
  Check(Write(second) == written);

  // Every sub-object stands alone.
  for (const QVExtObjNode& node : first->nodes) {
    if (node.kind != QV_ATTR_OBJECT) continue;
    HQVEXTOBJ sub = nullptr;
    if (errQVExtObjGetObjAttribute(first, node.name.c_str(), &sub) == QV_OK) {
      const std::string subText = Write(sub);
      HQVEXTOBJ again = nullptr;
      Check(errQVExtObjCreateObjFromBuffer(&again, subText.data(), subText.size()) == QV_OK);
      SameContent(*sub, *again);
      errQVExtObjDestroyObj(again);
      errQVExtObjDestroyObj(sub);
    }
  }
  errQVExtObjDestroyObj(second);
  errQVExtObjDestroyObj(first);
  return 0;
}
