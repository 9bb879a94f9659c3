// QVTraceMessage: level filtering and the trace destinations.
#include <syslog.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/eventtext/eventtext.h"
#include "platform/eventtext/log_io.h"
#include "platform/eventtext/settings.h"

namespace qv::eventtext {
namespace {

constexpr size_t kMaxTraceText = 4096;

// The trace file stays open between traces and is reopened whenever the
// settings are re-read (a changed root, a rotated file).
std::mutex g_file_mutex;
int g_file_fd = -1;
uint64_t g_file_generation = 0;

void WriteTraceFile(const Settings& s, const std::string& line) {
  std::lock_guard<std::mutex> lock(g_file_mutex);
  if (g_file_generation != s.generation) {
    if (g_file_fd >= 0) close(g_file_fd);
    g_file_fd = OpenAppend(s.log_dir, s.log_dir + "/trace.log");
    g_file_generation = s.generation;
  }
  if (g_file_fd >= 0) WriteWhole(g_file_fd, line);
}

// Line ends and other control characters would split a record.
void Flatten(char* text) {
  size_t n = 0;
  while (text[n]) ++n;
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) text[--n] = '\0';
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t') text[i] = ' ';
  }
}

}  // namespace

void WriteTrace(uint32_t level, uint32_t category, const char* module, int line, char* text);

}  // namespace qv::eventtext

using namespace qv::eventtext;

extern "C" {

int QVTraceEnabled(uint32_t level) { return (ActiveTraceLevels() & level) != 0; }

void QVTraceMessage(uint32_t level, uint32_t category, const char* module, int line,
                    const char* format, ...) {
  if ((ActiveTraceLevels() & level) == 0) return;
  char text[kMaxTraceText];
  text[0] = '\0';
  if (format) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
  }
  try {
    WriteTrace(level, category, module, line, text);
  } catch (...) {
  }
}

void QVEventTextReload(void) {
  try {
    ReloadSettings();
  } catch (...) {
  }
}

}  // extern "C"

namespace qv::eventtext {

void WriteTrace(uint32_t level, uint32_t category, const char* module, int line, char* text) {
  Settings s = CurrentSettings();
  if ((s.trace_level & level) == 0 || s.trace_dest == 0) return;
  Flatten(text);

  char where[160];
  std::snprintf(where, sizeof where, "%s:%d [%u/%u]", module ? module : "?", line, level,
                category);
  if (s.trace_dest & QV_TRACE_DEST_EVENTLOG) {
    syslog(LOG_AUTHPRIV | LOG_DEBUG, "%s %s", where, text);
  }
  if (s.trace_dest & (QV_TRACE_DEST_CONSOLE | QV_TRACE_DEST_DEBUGGER | QV_TRACE_DEST_LOGFILE)) {
    std::string record = IsoTimeNow();
    char who[96];
    std::snprintf(who, sizeof who, " %s[%ld/%ld] ", ProgramName(), static_cast<long>(getpid()),
                  static_cast<long>(gettid()));
    record += who;
    record += where;
    record += ' ';
    record += text;
    record += '\n';
    if (s.trace_dest & (QV_TRACE_DEST_CONSOLE | QV_TRACE_DEST_DEBUGGER)) {
      WriteWhole(STDERR_FILENO, record);
    }
    if (s.trace_dest & QV_TRACE_DEST_LOGFILE) WriteTraceFile(s, record);
  }
}

}  // namespace qv::eventtext
