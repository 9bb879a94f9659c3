// The one table of status and event texts, and the formatter over it.
#include <cstdio>
#include <cstring>

#include <string>

#include "platform/eventtext/event_record.h"
#include "platform/eventtext/eventtext.h"

extern "C" {

const char* QVStatusText(QVSTATUS code) {
  switch (code) {
#define QV_CODE(name, value, text) \
  case value:                      \
    return text;
#define QV_ALIAS(name, other)
#include "qvcodes/all.def"
#undef QV_ALIAS
#undef QV_CODE
  }
  return nullptr;
}

char* QVFormatError(char* buffer, size_t size, const char* format, QVSTATUS code) {
  if (!buffer || size == 0) return buffer;
  char text[512];
  if (const char* known = QVStatusText(code)) {
    // A status message has no inserts.
    try {
      std::snprintf(text, sizeof text, "%s", qv::eventtext::WithoutInserts(known).c_str());
    } catch (...) {
      std::snprintf(text, sizeof text, "%s", known);
    }
  } else {
    std::snprintf(text, sizeof text, "Unknown status 0x%08X", code);
  }
  const char* at = format ? std::strstr(format, "%s") : nullptr;
  if (!at) {
    std::snprintf(buffer, size, "%s", format ? format : text);
  } else {
    std::snprintf(buffer, size, "%.*s%s%s", static_cast<int>(at - format), format, text, at + 2);
  }
  return buffer;
}

const char* QVMask(const char* secret) {
  if (!secret) return "<null>";
  return *secret ? "****" : "<empty>";
}

}  // extern "C"
