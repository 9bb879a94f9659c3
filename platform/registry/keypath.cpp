#include "platform/registry/keypath.h"

#include "platform/registry/regfile.h"
#include "platform/registry/registry.h"

namespace qv::reg {

bool SplitKeyPath(std::string_view path, std::vector<std::string>* parts) {
  parts->clear();
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    if (part.size() > kMaxKeyNameLength) return false;
    for (unsigned char c : part) {
      if (c < 0x20 || c == 0x7f) return false;
    }
    parts->emplace_back(part);
  }
  return true;
}

std::string JoinKeyPath(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) {
    if (!out.empty()) out.push_back('\\');
    out += p;
  }
  return out;
}

std::string EncodeComponent(std::string_view name) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '%' || c == '/' || c == '@' || (i == 0 && c == '.')) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else if (c >= 'A' && c <= 'Z') {
      out.push_back(static_cast<char>(c - 'A' + 'a'));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  if (out.empty() || out.size() > 255) return std::string();
  return out;
}

std::string DecodeComponent(std::string_view dir) {
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (size_t i = 0; i < dir.size(); ++i) {
    if (dir[i] == '%' && i + 2 < dir.size() && hex(dir[i + 1]) >= 0 && hex(dir[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex(dir[i + 1]) * 16 + hex(dir[i + 2])));
      i += 2;
    } else {
      out.push_back(dir[i]);
    }
  }
  return out;
}

bool StripRootName(std::string_view full, std::string_view* rest) {
  size_t end = full.find('\\');
  std::string_view head = full.substr(0, end);
  if (!NamesEqual(head, kRootName) && !NamesEqual(head, "HKLM")) return false;
  *rest = end == std::string_view::npos ? std::string_view() : full.substr(end + 1);
  return true;
}

}  // namespace qv::reg
