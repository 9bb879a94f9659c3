// Placeholder: traces and events go nowhere until the full library lands.
#include "platform/eventtext/eventtext.h"

#include <cstdio>
#include <cstring>

extern "C" {

void QVTraceMessage(uint32_t, uint32_t, const char*, int, const char*, ...) {}
void QVLogEvent(uint32_t, QVSTATUS, QVSID, const char*, uint32_t) {}
void QVILogEvent(uint32_t, uint32_t, QVSTATUS, QVSID, const char*, uint32_t) {}
void QVILogEventEx(uint32_t, uint32_t, QVSTATUS, QVSID, uint32_t, const char* const*) {}
void QVLogEventControl(uint32_t, uint32_t, QVSTATUS, QVSID, const char*, uint32_t) {}
void QVLogEventControlEx(uint32_t, uint32_t, QVSTATUS, QVSID, uint32_t, const char* const*) {}

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
  const char* text = QVStatusText(code);
  char fallback[48];
  if (!text) {
    std::snprintf(fallback, sizeof fallback, "Unknown status 0x%08X", code);
    text = fallback;
  }
  const char* at = format ? std::strstr(format, "%s") : nullptr;
  if (!at) {
    std::snprintf(buffer, size, "%s", format ? format : text);
  } else {
    std::snprintf(buffer, size, "%.*s%s%s", static_cast<int>(at - format), format, text, at + 2);
  }
  return buffer;
}

}  // extern "C"
