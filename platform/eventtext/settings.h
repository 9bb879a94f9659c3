// Settings of the event-text library, cached and refreshed when stale.
#pragma once

#include <cstdint>
#include <string>

namespace qv::eventtext {

struct Settings {
  uint32_t trace_level = 0;
  uint32_t trace_dest = 0;
  uint32_t event_log_control = 0;
  bool syslog_events = false;
  std::string log_dir;
  uint64_t generation = 0;  // changes at every re-read
};

// The TraceLevel mask, or 0 when no destination is set. Cheap: refreshes the
// cache only when it is stale.
uint32_t ActiveTraceLevels();

// A copy of the current settings (refreshed when stale).
Settings CurrentSettings();

// Re-reads the settings now.
void ReloadSettings();

}  // namespace qv::eventtext
