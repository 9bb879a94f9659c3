#include "tools/regtool/valueargs.h"

#include <cstdio>

#include "platform/registry/regfile.h"
#include "platform/registry/registry.h"

namespace qv::regtool {
namespace {

using namespace qv::reg;

struct TypeEntry {
  const char* name;
  const char* long_name;
  uint32_t type;
};

constexpr TypeEntry kTypes[] = {
    {"dword", "REG_DWORD", REG_DWORD},
    {"sz", "REG_SZ", REG_SZ},
    {"expand_sz", "REG_EXPAND_SZ", REG_EXPAND_SZ},
    {"binary", "REG_BINARY", REG_BINARY},
    {"multi_sz", "REG_MULTI_SZ", REG_MULTI_SZ},
};

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseNumber(const std::string& s, uint32_t* out) {
  if (s.empty()) return false;
  uint64_t n = 0;
  size_t i = 0;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    i = 2;
  }
  for (; i < s.size(); ++i) {
    int d = base == 16 ? Hex(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
    if (d < 0) return false;
    n = n * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (n > 0xffffffffull) return false;
  }
  *out = static_cast<uint32_t>(n);
  return true;
}

bool ParseHex(const std::string& s, std::string* out) {
  out->clear();
  int high = -1;
  for (char c : s) {
    if (c == ',' || c == ' ' || c == ':') {
      if (high >= 0) return false;  // separators only between whole bytes
      continue;
    }
    int d = Hex(c);
    if (d < 0) return false;
    if (high < 0) {
      high = d;
    } else {
      out->push_back(static_cast<char>(high * 16 + d));
      high = -1;
    }
  }
  return high < 0;
}

}  // namespace

bool ParseTypeName(std::string_view name, uint32_t* type) {
  for (const TypeEntry& t : kTypes) {
    if (NamesEqual(name, t.name) || NamesEqual(name, t.long_name)) {
      *type = t.type;
      return true;
    }
  }
  return false;
}

std::string TypeName(uint32_t type) {
  for (const TypeEntry& t : kTypes) {
    if (t.type == type) return t.name;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "type 0x%x", type);
  return buf;
}

bool BuildValue(uint32_t type, const std::vector<std::string>& args, std::string* data,
                std::string* error) {
  data->clear();
  if (type == REG_MULTI_SZ) {
    for (const std::string& a : args) {
      if (a.find('\0') != std::string::npos || a.empty()) {
        *error = "multi_sz texts must be non-empty";
        return false;
      }
      *data += a;
      data->push_back('\0');
    }
    data->push_back('\0');
    return true;
  }
  if (args.size() != 1) {
    *error = TypeName(type) + " takes exactly one value";
    return false;
  }
  const std::string& a = args[0];
  switch (type) {
    case REG_DWORD: {
      uint32_t n = 0;
      if (!ParseNumber(a, &n)) {
        *error = "bad number '" + a + "' (decimal or 0x hex, at most 0xffffffff)";
        return false;
      }
      for (int i = 0; i < 4; ++i) data->push_back(static_cast<char>((n >> (8 * i)) & 0xff));
      return true;
    }
    case REG_SZ:
    case REG_EXPAND_SZ:
      *data = a;
      data->push_back('\0');
      return true;
    case REG_BINARY:
      if (!ParseHex(a, data)) {
        *error = "malformed hex '" + a + "' (pairs of hex digits, e.g. 01,02,ff)";
        return false;
      }
      return true;
    default:
      *error = "unsupported type";
      return false;
  }
}

std::string ShowValue(uint32_t type, std::string_view data) {
  if (type == REG_DWORD && data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(data[i]);
    return std::to_string(n);
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::string_view text = data;
    size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    return std::string(text);
  }
  if (type == REG_MULTI_SZ) {
    std::string out;
    size_t pos = 0;
    while (pos < data.size()) {
      size_t nul = data.find('\0', pos);
      if (nul == std::string_view::npos) nul = data.size();
      if (nul == pos) break;  // the closing empty text
      if (!out.empty()) out.push_back('\n');
      out.append(data.substr(pos, nul - pos));
      pos = nul + 1;
    }
    return out;
  }
  std::string out;
  AppendHexBytes(&out, data);
  return out;
}

}  // namespace qv::regtool
