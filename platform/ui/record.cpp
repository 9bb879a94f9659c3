#include "platform/ui/record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/ui/script.h"

namespace qv::ui::internal {
namespace {

void AppendJsonString(std::string& out, const std::string& text) {
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void AppendKey(std::string& out, const char* key) {
  if (out.back() != '{' && out.back() != '[') out += ',';
  out += '"';
  out += key;
  out += "\":";
}

void AppendField(std::string& out, const char* key, const std::string& value) {
  AppendKey(out, key);
  AppendJsonString(out, value);
}

void AppendField(std::string& out, const char* key, long long value) {
  AppendKey(out, key);
  out += std::to_string(value);
}

void AppendField(std::string& out, const char* key, bool value) {
  AppendKey(out, key);
  out += value ? "true" : "false";
}

std::string Head(const char* kind, const char* source, int answer) {
  std::string out = "{";
  AppendField(out, "pid", static_cast<long long>(::getpid()));
  AppendField(out, "kind", std::string(kind));
  AppendField(out, "answer", std::string(AnswerName(answer)));
  AppendField(out, "source", std::string(source));
  return out;
}

}  // namespace

std::string BoxRecord(const std::string& caption, const std::string& text, uint32_t style,
                      uint32_t timeoutSeconds, int answer, const char* source) {
  std::string out = Head("box", source, answer);
  AppendField(out, "caption", caption);
  AppendField(out, "text", text);
  AppendField(out, "style", static_cast<long long>(style));
  AppendField(out, "timeout", static_cast<long long>(timeoutSeconds));
  out += '}';
  return out;
}

std::string DialogRecord(const Dialog& dialog, int answer, const char* source) {
  std::string out = Head("dialog", source, answer);
  AppendField(out, "template", static_cast<long long>(dialog.templateId));
  AppendField(out, "caption", dialog.caption);
  AppendKey(out, "texts");
  out += '[';
  for (const StaticText& t : dialog.texts) {
    if (!t.visible) continue;
    if (out.back() != '[') out += ',';
    AppendJsonString(out, t.recordText.empty() ? t.text : t.recordText);
  }
  out += ']';
  AppendKey(out, "choices");
  out += '[';
  for (const Choice& c : dialog.choices) {
    if (!c.visible) continue;
    if (out.back() != '[') out += ',';
    out += '{';
    AppendField(out, "id", static_cast<long long>(c.id));
    AppendField(out, "label", c.label);
    AppendField(out, "enabled", c.enabled);
    AppendKey(out, "items");
    out += '[';
    for (const ChoiceItem& item : c.items) {
      if (out.back() != '[') out += ',';
      out += '{';
      AppendField(out, "text", item.text);
      AppendField(out, "value", static_cast<long long>(item.value));
      AppendField(out, "enabled", item.enabled);
      out += '}';
    }
    out += ']';
    AppendField(out, "selected",
                c.selected >= 0 && static_cast<size_t>(c.selected) < c.items.size()
                    ? static_cast<long long>(c.items[c.selected].value)
                    : -1LL);
    out += '}';
  }
  out += ']';
  AppendKey(out, "fields");
  out += '[';
  for (const Field& f : dialog.fields) {
    if (!f.visible) continue;
    if (out.back() != '[') out += ',';
    out += '{';
    AppendField(out, "id", static_cast<long long>(f.id));
    AppendField(out, "label", f.label);
    AppendField(out, "value", f.secret && !f.value.empty() ? std::string(kMasked) : f.value);
    AppendField(out, "secret", f.secret);
    AppendField(out, "readonly", f.readOnly);
    AppendField(out, "enabled", f.enabled);
    AppendField(out, "max", static_cast<long long>(f.maxLength));
    out += '}';
  }
  out += ']';
  AppendField(out, "focus", static_cast<long long>(dialog.focus));
  AppendField(out, "topmost", dialog.topmost);
  AppendField(out, "timeout", static_cast<long long>(dialog.timeoutSeconds));
  out += '}';
  return out;
}

bool AppendRecordLine(const std::string& path, const std::string& line) {
  if (path.empty()) return false;
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string data = line + '\n';
  ssize_t written = ::write(fd, data.data(), data.size());
  ::close(fd);
  return written == static_cast<ssize_t>(data.size());
}

}  // namespace qv::ui::internal
