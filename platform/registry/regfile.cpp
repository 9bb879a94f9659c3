#include "platform/registry/regfile.h"

#include <cstdio>

#include "platform/registry/registry.h"

namespace qv::reg {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsSpace(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (IsSpace(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && NamesEqual(s.substr(0, prefix.size()), prefix);
}

// Reads a quoted text at the start of `s` (which begins with '"'); escapes
// are \\ and \". Leaves `s` after the closing quote.
bool ReadQuoted(std::string_view* s, std::string* out) {
  out->clear();
  size_t i = 1;
  while (i < s->size()) {
    char c = (*s)[i];
    if (c == '"') {
      s->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= s->size()) return false;
      char e = (*s)[i + 1];
      if (e != '\\' && e != '"') return false;
      out->push_back(e);
      i += 2;
      continue;
    }
    out->push_back(c);
    ++i;
  }
  return false;
}

bool ParseHexBytes(std::string_view s, std::string* out) {
  out->clear();
  s = Trim(s);
  if (s.empty()) return true;
  size_t i = 0;
  while (true) {
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (i + 2 > s.size()) return false;
    int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    if (out->size() > kMaxValueSize) return false;
    i += 2;
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (i == s.size()) return true;
    if (s[i] != ',') return false;
    ++i;
  }
}

// Parses the right-hand side of a value line (continuations already joined).
bool ParseData(std::string_view rhs, RegValue* v, std::string* why) {
  rhs = Trim(rhs);
  if (rhs == "-") {
    v->remove = true;
    return true;
  }
  if (!rhs.empty() && rhs.front() == '"') {
    std::string text;
    if (!ReadQuoted(&rhs, &text)) {
      *why = "unterminated or badly escaped string";
      return false;
    }
    if (!Trim(rhs).empty()) {
      *why = "text after the closing quote";
      return false;
    }
    v->type = REG_SZ;
    v->data = std::move(text);
    v->data.push_back('\0');
    return true;
  }
  if (StartsWithNoCase(rhs, "dword:")) {
    std::string_view digits = Trim(rhs.substr(6));
    if (digits.empty() || digits.size() > 8) {
      *why = "dword needs 1 to 8 hex digits";
      return false;
    }
    uint32_t n = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) {
        *why = "bad hex digit in dword";
        return false;
      }
      n = n * 16 + static_cast<uint32_t>(d);
    }
    v->type = REG_DWORD;
    v->data.assign(4, '\0');
    for (int i = 0; i < 4; ++i) v->data[i] = static_cast<char>((n >> (8 * i)) & 0xff);
    return true;
  }
  if (StartsWithNoCase(rhs, "hex")) {
    std::string_view rest = rhs.substr(3);
    uint32_t type = REG_BINARY;
    if (!rest.empty() && rest.front() == '(') {
      size_t close = rest.find(')');
      if (close == std::string_view::npos || close == 1 || close > 9) {
        *why = "bad hex(type)";
        return false;
      }
      type = 0;
      for (char c : rest.substr(1, close - 1)) {
        int d = HexDigit(c);
        if (d < 0) {
          *why = "bad hex(type)";
          return false;
        }
        type = type * 16 + static_cast<uint32_t>(d);
      }
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') {
      *why = "expected ':' after hex";
      return false;
    }
    if (!ParseHexBytes(rest.substr(1), &v->data)) {
      *why = "malformed hex bytes";
      return false;
    }
    v->type = type;
    return true;
  }
  *why = "unknown value format";
  return false;
}

bool ParseValueLine(std::string_view line, RegValue* v, std::string* why) {
  if (line.front() == '@') {
    v->name.clear();
    line.remove_prefix(1);
  } else {
    if (!ReadQuoted(&line, &v->name)) {
      *why = "unterminated or badly escaped value name";
      return false;
    }
    if (v->name.size() > kMaxValueNameLength) {
      *why = "value name too long";
      return false;
    }
    for (unsigned char c : v->name) {
      if (c < 0x20) {
        *why = "control character in value name";
        return false;
      }
    }
  }
  line = Trim(line);
  if (line.empty() || line.front() != '=') {
    *why = "expected '='";
    return false;
  }
  return ParseData(line.substr(1), v, why);
}

void AppendEscaped(std::string* out, std::string_view text) {
  out->push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

// A REG_SZ a quoted string carries exactly: NUL-terminated, no other NUL, no
// control characters.
bool QuotedFits(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

long FindValue(const std::vector<RegValue>& values, std::string_view name) {
  for (size_t i = 0; i < values.size(); ++i) {
    if (NamesEqual(values[i].name, name)) return static_cast<long>(i);
  }
  return -1;
}

bool ParseRegText(std::string_view text, std::vector<RegSection>* out, std::string* error) {
  out->clear();
  if (text.size() > kMaxRegTextSize) {
    *error = "text too large";
    return false;
  }
  size_t pos = 0;
  size_t line_no = 0;
  std::string joined;
  while (pos < text.size()) {
    size_t start_line = ++line_no;
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;

    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) {
        *error = "line " + std::to_string(start_line) + ": malformed key header";
        return false;
      }
      RegSection section;
      std::string_view path = line.substr(1, line.size() - 2);
      if (path.front() == '-') {
        section.remove = true;
        path.remove_prefix(1);
      }
      if (path.empty()) {
        *error = "line " + std::to_string(start_line) + ": empty key path";
        return false;
      }
      section.path.assign(path);
      out->push_back(std::move(section));
      continue;
    }

    if (line.front() != '"' && line.front() != '@') {
      *error = "line " + std::to_string(start_line) + ": expected a value or a key header";
      return false;
    }
    // A trailing backslash continues the line (no complete value ends in one).
    joined.assign(line);
    while (!joined.empty() && joined.back() == '\\' && pos < text.size()) {
      joined.pop_back();
      ++line_no;
      end = text.find('\n', pos);
      if (end == std::string_view::npos) end = text.size();
      joined.append(Trim(text.substr(pos, end - pos)));
      pos = end + 1;
      if (joined.size() > kMaxRegTextSize) break;
    }
    if (out->empty()) {
      *error = "line " + std::to_string(start_line) + ": value before any key header";
      return false;
    }
    RegSection& section = out->back();
    if (section.remove) {
      *error = "line " + std::to_string(start_line) + ": value under a deleted key";
      return false;
    }
    RegValue v;
    std::string why;
    if (!ParseValueLine(joined, &v, &why)) {
      *error = "line " + std::to_string(start_line) + ": " + why;
      return false;
    }
    if (v.data.size() > kMaxValueSize) {
      *error = "line " + std::to_string(start_line) + ": value too large";
      return false;
    }
    long at = FindValue(section.values, v.name);
    if (at >= 0) {
      // A later line for the same name wins; the first spelling is kept.
      v.name = section.values[static_cast<size_t>(at)].name;
      section.values[static_cast<size_t>(at)] = std::move(v);
    } else {
      section.values.push_back(std::move(v));
    }
  }
  return true;
}

void AppendHexBytes(std::string* out, std::string_view data) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < data.size(); ++i) {
    if (i) out->push_back(',');
    unsigned char c = static_cast<unsigned char>(data[i]);
    out->push_back(kHex[c >> 4]);
    out->push_back(kHex[c & 15]);
  }
}

std::string FormatData(uint32_t type, std::string_view data) {
  std::string out;
  if (type == REG_SZ && QuotedFits(data)) {
    AppendEscaped(&out, data.substr(0, data.size() - 1));
    return out;
  }
  if (type == REG_DWORD && data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(data[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", n);
    return buf;
  }
  if (type == REG_BINARY) {
    out = "hex:";
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", type);
    out = buf;
  }
  AppendHexBytes(&out, data);
  return out;
}

std::string FormatSection(const RegSection& section) {
  std::string out = section.remove ? "[-" : "[";
  out += section.path;
  out += "]\n";
  if (!section.remove) {
    for (const RegValue& v : section.values) {
      if (v.name.empty()) {
        out.push_back('@');
      } else {
        AppendEscaped(&out, v.name);
      }
      out.push_back('=');
      out += v.remove ? std::string("-") : FormatData(v.type, v.data);
      out.push_back('\n');
    }
  }
  out.push_back('\n');
  return out;
}

}  // namespace qv::reg
