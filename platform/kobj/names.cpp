#include "platform/kobj/names.h"

#include <cstdint>
#include <cstdio>

#include "platform/paths/paths.h"

namespace qv::kobj::internal {
namespace {

bool IsPlain(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

}  // namespace

std::string EncodeName(std::string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  for (unsigned char c : name) {
    if (IsPlain(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  if (out.size() <= kMaxEncodedName) return out;

  // FNV-1a over the raw name; '~' never appears in a plain encoding.
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : name) {
    h ^= c;
    h *= 1099511628211ull;
  }
  out.resize(kMaxEncodedName);
  char tag[24];
  std::snprintf(tag, sizeof tag, "~%016llx", static_cast<unsigned long long>(h));
  return out + tag;
}

std::string ObjectDir() { return qv::paths::RunDir() + "/kobj"; }

std::string ControlPath(std::string_view kind, const std::string& encoded) {
  return ObjectDir() + "/" + std::string(kind) + "." + encoded;
}

std::string SegmentName(const std::string& encoded) {
  return qv::paths::NamePrefix() + "shm." + encoded;
}

}  // namespace qv::kobj::internal
