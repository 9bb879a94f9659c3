// Event-text library: tracing, event logging and status texts.
//
// Trace levels (bit values): 1 start-up facts and details, 2 routine entry,
// 4 routine exit, 8 main flow, warnings and errors, 16 message-object layers.
// Categories: 6 runtime, services, logon module, web agent; 9 message-object
// layers. Event categories: 9 runtime, 2 logon module, 3 remote access,
// 5 web agent.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvstatus.h"

// The user an event concerns: a user name or SID text, or one of these.
typedef const char* QVSID;
#define QV_SID_NONE ((QVSID)0)
#define QV_SID_UNSET ((QVSID)-1)

extern "C" {

// Writes a trace record when `level` is enabled by TraceLevel.
void QVTraceMessage(uint32_t level, uint32_t category, const char* module, int line,
                    const char* format, ...) __attribute__((format(printf, 5, 6)));

// Always written.
void QVLogEvent(uint32_t category, QVSTATUS code, QVSID sid, const char* text, uint32_t number);
void QVILogEvent(uint32_t eventClass, uint32_t category, QVSTATUS code, QVSID sid,
                 const char* text, uint32_t number);
void QVILogEventEx(uint32_t eventClass, uint32_t category, QVSTATUS code, QVSID sid,
                   uint32_t count, const char* const* texts);

// Written or suppressed by the EventLogControl setting.
void QVLogEventControl(uint32_t eventClass, uint32_t category, QVSTATUS code, QVSID sid,
                       const char* text, uint32_t number);
void QVLogEventControlEx(uint32_t eventClass, uint32_t category, QVSTATUS code, QVSID sid,
                         uint32_t count, const char* const* texts);

// Puts the text of `code` in place of the first %s of `format` into `buffer`
// (at most `size` bytes, always terminated). Returns `buffer`.
char* QVFormatError(char* buffer, size_t size, const char* format, QVSTATUS code);

// The text of a status or event code, or nullptr when the code is unknown.
const char* QVStatusText(QVSTATUS code);

}  // extern "C"

// Trace helpers for the routine pattern "Entering X" / "Leaving X".
#define QV_TRACE(level, category, module, ...) \
  QVTraceMessage((level), (category), (module), __LINE__, __VA_ARGS__)
