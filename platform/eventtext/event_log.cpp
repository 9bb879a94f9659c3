// The QVLogEvent family: records to the event file and syslog.
#include <syslog.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/eventtext/event_record.h"
#include "platform/eventtext/eventtext.h"
#include "platform/eventtext/log_io.h"
#include "platform/eventtext/settings.h"

namespace qv::eventtext {
namespace {

const char* UserOf(QVSID sid) { return sid == QV_SID_NONE || sid == QV_SID_UNSET ? nullptr : sid; }

int SyslogPriority(QVSTATUS code) {
  switch (code >> 30) {
    case 3: return LOG_ERR;
    case 2: return LOG_WARNING;
    default: return LOG_INFO;
  }
}

void WriteRecord(const EventInput& event) {
  Settings s = CurrentSettings();
  std::string record = BuildEventRecord(event, IsoTimeNow(), ProgramName(), long(getpid()));
  int fd = OpenAppend(s.log_dir, s.log_dir + "/events.jsonl");
  if (fd >= 0) {
    WriteWhole(fd, record);
    close(fd);
  }
  if (s.syslog_events) {
    std::string text = EventText(event.code, TextInserts(event));
    syslog(LOG_AUTHPRIV | SyslogPriority(event.code), "event 0x%08X%s%s: %s", event.code,
           event.user ? " user " : "", event.user ? event.user : "", text.c_str());
  }
}

// No exception leaves the library: an event that cannot be built is lost.
template <typename Build>
void Write(Build build) {
  try {
    WriteRecord(build());
  } catch (...) {
  }
}

EventInput Single(uint32_t event_class, uint32_t category, QVSTATUS code, QVSID sid,
                  const char* text, uint32_t number) {
  EventInput e;
  e.code = code;
  e.event_class = event_class;
  e.category = category;
  e.user = UserOf(sid);
  if (text) e.inserts.push_back(BoundedInsert(text));
  e.number = number;
  e.number_insert = true;
  return e;
}

EventInput Multi(uint32_t event_class, uint32_t category, QVSTATUS code, QVSID sid,
                 uint32_t count, const char* const* texts) {
  EventInput e;
  e.code = code;
  e.event_class = event_class;
  e.category = category;
  e.user = UserOf(sid);
  if (texts) {
    size_t n = count < kMaxInserts ? count : kMaxInserts;
    for (size_t i = 0; i < n; ++i) e.inserts.push_back(BoundedInsert(texts[i]));
  }
  return e;
}

bool ControlledOn(uint32_t event_class) {
  try {
    return ControlledEventWritten(event_class, CurrentSettings().event_log_control);
  } catch (...) {
    return false;
  }
}

}  // namespace
}  // namespace qv::eventtext

using namespace qv::eventtext;

extern "C" {

void QVLogEvent(uint32_t category, QVSTATUS code, QVSID sid, const char* text, uint32_t number) {
  Write([&] { return Single(0, category, code, sid, text, number); });
}

void QVILogEvent(uint32_t eventClass, uint32_t category, QVSTATUS code, QVSID sid,
                 const char* text, uint32_t number) {
  Write([&] { return Single(eventClass, category, code, sid, text, number); });
}

void QVILogEventEx(uint32_t eventClass, uint32_t category, QVSTATUS code, QVSID sid,
                   uint32_t count, const char* const* texts) {
  Write([&] { return Multi(eventClass, category, code, sid, count, texts); });
}

void QVLogEventControl(uint32_t eventClass, uint32_t category, QVSTATUS code, QVSID sid,
                       const char* text, uint32_t number) {
  if (ControlledOn(eventClass)) Write([&] { return Single(eventClass, category, code, sid, text, number); });
}

void QVLogEventControlEx(uint32_t eventClass, uint32_t category, QVSTATUS code, QVSID sid,
                         uint32_t count, const char* const* texts) {
  if (ControlledOn(eventClass)) Write([&] { return Multi(eventClass, category, code, sid, count, texts); });
}

}  // extern "C"
