// passprobe95: tries one authentication through the proxy service.
#include <cstdio>
#include <cstring>
#include <string>

#include "authcore.h"
#include "tools/passprobe/probe.h"

namespace {

const char kHelp[] =
    "NAME\n"
    "    passprobe95 - try one authentication through the proxy service\n"
    "\n"
    "SYNOPSIS\n"
    "    passprobe95 --user NAME --domain DOMAIN --controller HOST\n"
    "    passprobe95 --help\n"
    "\n"
    "DESCRIPTION\n"
    "    Starts the agent runtime as a desktop that uses the running network\n"
    "    authentication service's cache, connects to the proxy service on HOST\n"
    "    (port KelProxyPort, default 2335) and lets the user answer its prompts\n"
    "    here. The result is shown in a message box captioned \"Vexa KEL/Dazar\n"
    "    Authentication Test\". The names are cut to 32, 32 and 64 characters;\n"
    "    an empty one is refused with a message.\n"
    "\n"
    "ENVIRONMENT\n"
    "    TAVRIK_ROOT   root of every file of the system\n"
    "    TAVRIK_UI     terminal (default on a terminal), scripted or none\n"
    "\n"
    "EXIT STATUS\n"
    "    0 authenticated; 1 access denied; 3 another failure; 2 usage.\n";

}  // namespace

int main(int argc, char** argv) {
  std::string user, domain, controller;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "passprobe95: %s needs a value (see --help)\n", a.c_str());
      return 2;
    }
    if (a == "--user")
      user = argv[++i];
    else if (a == "--domain")
      domain = argv[++i];
    else if (a == "--controller")
      controller = argv[++i];
    else {
      std::fprintf(stderr, "passprobe95: unknown argument %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  const qv::probe::RuntimeApi api = {QVAgentStartup, QVAgentRundown, AMDesktopAuthenticateUser};
  return qv::probe::ExitCode(qv::probe::ProxyTest(api, user, domain, controller, true, true));
}
