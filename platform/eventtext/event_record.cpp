#include "platform/eventtext/event_record.h"

#include <cstdio>

#include "platform/eventtext/eventtext.h"

namespace qv::eventtext {

bool ControlledEventWritten(uint32_t event_class, uint32_t control) {
  if (control == 0) return true;
  uint32_t highest = control >= 3 ? 1 : 4 - control;
  return event_class <= highest;
}

const char* Severity(QVSTATUS code) {
  switch (code >> 30) {
    case 3: return "error";
    case 2: return "warning";
    default: return "information";
  }
}

std::string ExpandInserts(std::string_view text, const std::vector<std::string>& inserts) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      size_t n = size_t(text[i + 1] - '0');
      ++i;
      if (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') {
        n = n * 10 + size_t(text[i + 1] - '0');
        ++i;
      }
      if (n <= inserts.size()) out += inserts[n - 1];
      continue;
    }
    out += c;
  }
  return out;
}

namespace {

// True when `text` holds a marker, and every marker in it names a missing or
// empty insert.
bool OnlyEmptyMarkers(std::string_view text, const std::vector<std::string>& inserts) {
  bool any = false;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '%' || text[i + 1] < '1' || text[i + 1] > '9') continue;
    size_t n = size_t(text[i + 1] - '0');
    if (i + 2 < text.size() && text[i + 2] >= '0' && text[i + 2] <= '9') {
      n = n * 10 + size_t(text[i + 2] - '0');
    }
    if (n <= inserts.size() && !inserts[n - 1].empty()) return false;
    any = true;
  }
  return any;
}

// `text` less a trailing " (...)" whose markers all name empty inserts.
std::string_view TrimEmptyTail(std::string_view text, const std::vector<std::string>& inserts) {
  if (text.empty() || text.back() != ')') return text;
  size_t open = text.rfind(" (");
  if (open == std::string_view::npos || !OnlyEmptyMarkers(text.substr(open), inserts)) return text;
  return text.substr(0, open);
}

}  // namespace

std::string WithoutInserts(std::string_view text) { return ExpandInserts(TrimEmptyTail(text, {}), {}); }

std::string EventText(QVSTATUS code, const std::vector<std::string>& inserts) {
  if (const char* text = QVStatusText(code)) return ExpandInserts(TrimEmptyTail(text, inserts), inserts);
  char head[32];
  std::snprintf(head, sizeof head, "Event 0x%08X", code);
  std::string out = head;
  bool first = true;
  for (const std::string& insert : inserts) {
    if (insert.empty()) continue;
    out += first ? ": " : "; ";
    out += insert;
    first = false;
  }
  return out;
}

namespace {

// Length of the valid UTF-8 sequence at `s`, or 0.
size_t Utf8Length(std::string_view s) {
  auto cont = [&](size_t i) { return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80; };
  unsigned char c = static_cast<unsigned char>(s[0]);
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    unsigned char c1 = static_cast<unsigned char>(s[1]);
    if (c == 0xE0 && c1 < 0xA0) return 0;  // overlong
    if (c == 0xED && c1 >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    unsigned char c1 = static_cast<unsigned char>(s[1]);
    if (c == 0xF0 && c1 < 0x90) return 0;
    if (c == 0xF4 && c1 >= 0x90) return 0;
    return 4;
  }
  return 0;
}

}  // namespace

std::string JsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      size_t n = Utf8Length(text.substr(i));
      if (n == 0) {
        out += "\\ufffd";
        ++i;
      } else {
        out.append(text.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out;
}

std::string NumberInsert(uint32_t number) {
  char text[16];
  std::snprintf(text, sizeof text, number >= 0x40000000u ? "0x%08X" : "%u", number);
  return text;
}

std::vector<std::string> TextInserts(const EventInput& event) {
  std::vector<std::string> inserts = event.inserts;
  if (event.number_insert && (event.number != 0 || QVStatusText(event.code))) {
    inserts.resize(1);
    inserts.push_back(NumberInsert(event.number));
  }
  return inserts;
}

std::string BoundedInsert(const char* text) {
  if (!text) return {};
  size_t n = 0;
  while (n < kMaxInsertBytes && text[n]) ++n;
  return std::string(text, n);
}

std::string BuildEventRecord(const EventInput& event, std::string_view time_iso,
                             std::string_view program, long pid) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", event.code);
  std::string r;
  r.reserve(256);
  r += "{\"time\":\"";
  r += JsonEscape(time_iso);
  r += "\",\"program\":\"";
  r += JsonEscape(program);
  r += "\",\"pid\":";
  r += std::to_string(pid);
  r += ",\"code\":\"";
  r += code;
  r += "\",\"severity\":\"";
  r += Severity(event.code);
  r += "\",\"class\":";
  r += std::to_string(event.event_class);
  r += ",\"category\":";
  r += std::to_string(event.category);
  r += ",\"user\":";
  if (event.user) {
    r += '"';
    r += JsonEscape(BoundedInsert(event.user));
    r += '"';
  } else {
    r += "null";
  }
  r += ",\"inserts\":[";
  for (size_t i = 0; i < event.inserts.size(); ++i) {
    if (i) r += ',';
    r += '"';
    r += JsonEscape(event.inserts[i]);
    r += '"';
  }
  r += "],\"number\":";
  r += std::to_string(event.number);
  r += ",\"text\":\"";
  r += JsonEscape(EventText(event.code, TextInserts(event)));
  r += "\"}\n";
  return r;
}

}  // namespace qv::eventtext
