// Event-text library: tracing, event logging and status texts.
//
// Trace levels (bit values): 1 start-up facts and details, 2 routine entry,
// 4 routine exit, 8 main flow, warnings and errors, 16 message-object layers.
// Categories: 6 runtime, services, logon module, web agent; 9 message-object
// layers. Event categories: 9 runtime, 2 logon module, 3 remote access,
// 5 web agent.
//
// Settings, DWORD values under HKEY_LOCAL_MACHINE "SOFTWARE\\Tavrik\\KELCLIENT"
// (an environment variable of the same meaning overrides each one):
//   TraceLevel       bit mask of the levels written (TAVRIK_TRACE_LEVEL);
//                    missing: 0, nothing is traced
//   TraceDest        where traces go (TAVRIK_TRACE_DEST); missing: log file
//                      1 event log  -> syslog, facility authpriv, priority debug
//                      2 console    -> stderr
//                      4 log file   -> <LogDir>/trace.log
//                      8 debugger   -> stderr (written once when 2 is set too)
//   EventLogControl  event filtering for the controlled calls
//                    (TAVRIK_EVENT_LOG_CONTROL): 0 Default writes every
//                    class; 1 Low writes classes up to 3; 2 Medium up to 2;
//                    3 High (and above) only class 1
// Settings are re-read at most every two seconds, and at once by
// QVEventTextReload; with tracing off a trace call costs an atomic load and
// a coarse clock read.
//
// Events are written to <LogDir>/events.jsonl, one JSON object per line,
// each line appended with one write so that processes may log at once:
//   {"time":"2026-01-31T12:00:00.123Z","program":"promptsvc","pid":42,
//    "code":"0xC0002716","severity":"error","class":0,"category":9,
//    "user":"alice" or null,"inserts":["alice"],"number":0,
//    "text":"Access denied"}
// "text" is the code's text with %1, %2 ... replaced by the inserts; for the
// calls with one text insert, %1 is that text and %2 the number (decimal, or
// hexadecimal from 0x40000000 up, where numbers are statuses). At most 16
// inserts of at most 1024 bytes each are kept; texts are escaped, and bytes
// that are not UTF-8 become U+FFFD, so every line is valid JSON.
// Events also go to syslog (authpriv) when the system runs on the production
// root; on a private root (tests, demo) only when TAVRIK_EVENT_SYSLOG=1.
// TAVRIK_EVENT_SYSLOG=0 turns syslog off everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvstatus.h"

// The user an event concerns: a user name or SID text, or one of these.
typedef const char* QVSID;
#define QV_SID_NONE ((QVSID)0)
#define QV_SID_UNSET ((QVSID)-1)

// TraceDest bits.
#define QV_TRACE_DEST_EVENTLOG 1u
#define QV_TRACE_DEST_CONSOLE 2u
#define QV_TRACE_DEST_LOGFILE 4u
#define QV_TRACE_DEST_DEBUGGER 8u

extern "C" {

// Writes a trace record when `level` is enabled by TraceLevel.
void QVTraceMessage(uint32_t level, uint32_t category, const char* module, int line,
                    const char* format, ...) __attribute__((format(printf, 5, 6)));

// Nonzero when a trace of `level` would be written; lets callers skip
// building costly arguments.
int QVTraceEnabled(uint32_t level);

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
// (at most `size` bytes, always terminated); nothing else in `format` is
// interpreted. The text's insert markers are left out, with a trailing
// parenthesis that holds them. An unknown code reads "Unknown status
// 0x........". Returns `buffer`.
char* QVFormatError(char* buffer, size_t size, const char* format, QVSTATUS code);

// The text of a status or event code, or nullptr when the code is unknown.
const char* QVStatusText(QVSTATUS code);

// Re-reads the settings now (after a configuration change, or a test
// changing the root or the environment) and reopens the trace file.
void QVEventTextReload(void);

// What a trace may show of a secret (passcode, PIN, key, pass phrase):
// "<null>", "<empty>" or "****", never the value or its length.
const char* QVMask(const char* secret);

}  // extern "C"

// Trace helpers for the routine pattern "Entering X" / "Leaving X".
#define QV_TRACE(level, category, module, ...) \
  QVTraceMessage((level), (category), (module), __LINE__, __VA_ARGS__)
