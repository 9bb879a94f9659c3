// The service programs' shared flow: the runtime started in the program's
// role, one listen thread on the role's port, control requests by signal,
// and the end event carrying the listen status.
#pragma once

#include <cstdint>
#include <string>

#include "authcore.h"

namespace qv::services {

// What distinguishes one service program from another.
struct ServiceConfig {
  const char* name;  // service name, trace module and lock name
  int desktopSide;   // QVAgentStartup arguments
  int hostCache;
  const char* portSetting;  // "KelClientPort" / "KelProxyPort"
  uint32_t defaultPort;
  SMHandler handler;  // AMSubAuthUIProxy / AMDesktopKelProxy
  int notifyUser;     // SMServerListen bNotifyUser
  uint32_t stopWaitHintMs;
  const char* stopTrace;
  uint32_t endEventClass;  // class of the controlled end event
  bool logoffFlush;        // empty the certificate cache when a session ends
  bool holdOnShutdown;     // a stop during system shutdown waits with falling hints
};

inline constexpr uint32_t kStartWaitHintMs = 3000;

// Command-line options common to the programs.
struct Options {
  bool help = false;
  bool shutdown = false;      // promptsvc95: stop the running instance
  bool sessionEnd = false;    // promptsvc95: tell the running instance its session ended
  uint32_t startDelayMs = 0;  // hold start-pending this long before the runtime starts
  std::string error;          // non-empty: the command line was not understood
};

Options ParseOptions(int argc, char** argv, bool allowInstanceCommands);

// The front of every program's main: --help prints `help`; a command line
// not understood is reported on stderr under `name`. Returns the exit code
// when the program ends here (0 or 2), -1 when it goes on.
int AnswerHelpOrError(const Options& options, const char* name, const char* help);

// main() of a program that runs its service and nothing else.
int ServiceMain(const ServiceConfig& config, const char* help, int argc, char** argv);

// Runs a service to its end; returns the process exit code (0 when the
// listen status was 0, 1 otherwise; the status itself goes to the end
// event, the service manager's status line and stderr).
int RunService(const ServiceConfig& config, const Options& options);

// Where the last words go: the status as the service manager and an
// operator see it.
void ReportEnd(const char* name, uint32_t status);

}  // namespace qv::services
