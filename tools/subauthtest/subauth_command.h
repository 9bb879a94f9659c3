// qvsubauth: runs the domain controller's challenge (or its connection test)
// against a workstation's network authentication service.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "qvstatus.h"

namespace qv::subauth {

// How the command reaches the runtime; replaced in tests.
struct Runtime {
  QVSTATUS (*start)() = nullptr;  // agent role: credentials, sessions, client library
  void (*stop)() = nullptr;
  QVSTATUS (*authenticate)(char* user, char* domain, const char* workstation) = nullptr;
  QVSTATUS (*test)(const char* workstation) = nullptr;
};

// The runtime of this process (the agent role's start-up and the exports).
const Runtime& DefaultRuntime();

// Runs the command line (without the program name). Exit status: 0 the user
// was let in (or the test passed), 1 denied or failed, 2 usage error.
int RunCommand(const std::vector<std::string>& args, const Runtime& runtime, std::ostream& out,
               std::ostream& err);

extern const char kUsage[];

}  // namespace qv::subauth
