// In-memory form of an external object: a flat list of nodes with depths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "qvextobj.h"

struct QVExtObjNode {
  std::string name;
  uint32_t kind = 0;
  uint32_t depth = 0;
  std::string value;  // raw value bytes
};

struct QVExtObj {
  static constexpr size_t kNoCursor = static_cast<size_t>(-1);

  std::string type;
  std::vector<QVExtObjNode> nodes;
  size_t cursor = kNoCursor;  // index of the node most recently found by name
};

namespace qv::extobj {

inline constexpr uint32_t kTraceLevel = 16;
inline constexpr uint32_t kTraceCategory = 9;

// Index of the first node named `name` (the cursor for an empty name), or
// QVExtObj::kNoCursor. A successful lookup by name moves the cursor.
size_t FindNode(QVExtObj* obj, const char* name);

// Index one past the last node of the sub-object opened by the OBJECT node at
// `index`. A following OBJECT node of the same depth is a sibling, not a child.
size_t SubObjectEnd(const QVExtObj& obj, size_t index);

// Length of the S-expression (without the decimal prefix).
size_t TextLength(const QVExtObj& obj);

// Number of decimal digits of `value`.
size_t DecimalDigits(size_t value);

}  // namespace qv::extobj
