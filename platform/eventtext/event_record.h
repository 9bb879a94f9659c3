// Building event records: the formatted text and the JSON line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qvstatus.h"

namespace qv::eventtext {

// Bounds that keep one record a single, modest write.
inline constexpr size_t kMaxInserts = 16;
inline constexpr size_t kMaxInsertBytes = 1024;

struct EventInput {
  QVSTATUS code = 0;
  uint32_t event_class = 0;
  uint32_t category = 0;
  const char* user = nullptr;  // null: none
  std::vector<std::string> inserts;
  uint32_t number = 0;
  bool number_insert = false;  // the number also stands for %2 in the text
};

// The number as an insert: decimal, or hexadecimal for status-like values.
std::string NumberInsert(uint32_t number);

// True when EventLogControl `control` lets a controlled event of
// `event_class` through.
bool ControlledEventWritten(uint32_t event_class, uint32_t control);

// "error", "warning" or "information", from the code's top bits.
const char* Severity(QVSTATUS code);

// `text` with %1 ... %99 replaced by the inserts (missing ones by nothing).
std::string ExpandInserts(std::string_view text, const std::vector<std::string>& inserts);

// A code's text without its insert markers, for messages that have no
// inserts: a trailing " (...)" that holds a marker is dropped, and any other
// marker is left out.
std::string WithoutInserts(std::string_view text);

// The inserts the event's text is expanded with: the text inserts, and for
// the single-insert calls the number as %2 (left out of an unknown code's
// text when it is 0).
std::vector<std::string> TextInserts(const EventInput& event);

// The readable text of an event: the code's text with its inserts (less a
// trailing " (...)" whose inserts are all empty), or for an unknown code
// "Event 0x........" followed by the inserts.
std::string EventText(QVSTATUS code, const std::vector<std::string>& inserts);

// `text` as a JSON string body: quotes, backslashes and control characters
// escaped, invalid UTF-8 replaced by U+FFFD.
std::string JsonEscape(std::string_view text);

// Copies up to kMaxInsertBytes of `text` (null gives "").
std::string BoundedInsert(const char* text);

// One JSON object and a line feed.
std::string BuildEventRecord(const EventInput& event, std::string_view time_iso,
                             std::string_view program, long pid);

}  // namespace qv::eventtext
