// challengeprobe: challenges a user at a workstation from this domain
// controller, as the logon filter would.
#include <cstdio>
#include <cstring>
#include <string>

#include "authcore.h"
#include "platform/eventtext/eventtext.h"

namespace {

const char kHelp[] =
    "NAME\n"
    "    challengeprobe - challenge a user at a workstation from this domain controller\n"
    "\n"
    "SYNOPSIS\n"
    "    challengeprobe --workstation HOST --user NAME [--domain DOMAIN] [--repeat N]\n"
    "    challengeprobe --workstation HOST --test\n"
    "    challengeprobe --help\n"
    "\n"
    "DESCRIPTION\n"
    "    Starts the agent runtime in the agent role (this machine's domain-\n"
    "    controller certificate and the authentication client library) and\n"
    "    challenges NAME at the network authentication service of HOST (port\n"
    "    KelClientPort, default 2334): a cached session certificate lets the user\n"
    "    in at once, otherwise the user is prompted there. With --test the\n"
    "    workstation is only told of a success. Prints one line per challenge:\n"
    "    \"granted\", \"denied\" or \"failed 0x........ text\".\n"
    "\n"
    "ENVIRONMENT\n"
    "    TAVRIK_ROOT   root of every file of the system\n"
    "\n"
    "EXIT STATUS\n"
    "    0 every challenge granted; 1 one was denied; 3 another failure; 2 usage.\n";

}  // namespace

int main(int argc, char** argv) {
  std::string workstation, user, domain;
  bool test = false;
  int repeat = 1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (a == "--test") {
      test = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "challengeprobe: %s needs a value (see --help)\n", a.c_str());
      return 2;
    }
    std::string v = argv[++i];
    if (a == "--workstation")
      workstation = v;
    else if (a == "--user")
      user = v;
    else if (a == "--domain")
      domain = v;
    else if (a == "--repeat")
      repeat = std::atoi(v.c_str());
    else {
      std::fprintf(stderr, "challengeprobe: unknown argument %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (workstation.empty() || (!test && user.empty()) || user.size() > 31 || domain.size() > 31) {
    std::fprintf(stderr,
                 "challengeprobe: a workstation and a user of at most 31 characters are needed\n");
    return 2;
  }
  QVSTATUS status = QVAgentStartup(0, 0, 1);
  if (status != QV_OK) {
    char text[512];
    std::printf("failed 0x%08X %s\n", status, QVFormatError(text, sizeof text, "%s", status));
    return 3;
  }
  int exitCode = 0;
  for (int n = 0; n < (repeat < 1 ? 1 : repeat); ++n) {
    char userBuffer[32] = {}, domainBuffer[32] = {};
    std::snprintf(userBuffer, sizeof userBuffer, "%s", user.c_str());
    std::snprintf(domainBuffer, sizeof domainBuffer, "%s", domain.c_str());
    status = test ? AMSubauthTest(workstation.c_str())
                  : AMSubauthAuthenticateUser(userBuffer, domainBuffer, workstation.c_str());
    if (status == QV_OK) {
      std::printf("granted\n");
    } else if (status == QVS_AM_ACCESS_DENIED) {
      std::printf("denied\n");
      if (exitCode == 0) exitCode = 1;
    } else {
      char text[512];
      std::printf("failed 0x%08X %s\n", status, QVFormatError(text, sizeof text, "%s", status));
      exitCode = 3;
    }
    std::fflush(stdout);
  }
  QVAgentRundown();
  return exitCode;
}
