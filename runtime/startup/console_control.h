// Console control handlers: the process's list of routines told about
// interrupt, close, logoff and shutdown events, newest first.
//
// The events come from SIGINT (interrupt), SIGHUP
// (close) and SIGTERM (shutdown); a handler runs inside the signal handler,
// so it may only do async-signal-safe work. When no handler takes an event,
// the signal's earlier disposition applies as if nothing had been installed.
// Logoff comes from the session watch, on an ordinary thread, through
// DispatchConsoleEvent.
#pragma once

#include <cstdint>

namespace qv::startup {

enum ConsoleEvent : uint32_t {
  kConsoleInterrupt = 0,
  kConsoleClose = 2,
  kConsoleLogoff = 5,
  kConsoleShutdown = 6,
};

// Non-zero when the handler took the event.
using ConsoleHandler = int (*)(uint32_t event);

// Adds a handler (once; a second add of the same one is kept as the first).
// False when the list is full.
bool AddConsoleHandler(ConsoleHandler handler);
bool RemoveConsoleHandler(ConsoleHandler handler);
bool HasConsoleHandler(ConsoleHandler handler);

// Offers `event` to the handlers, newest first; 1 when one took it.
int DispatchConsoleEvent(uint32_t event);

}  // namespace qv::startup
