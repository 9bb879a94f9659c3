// passprobe: tries one authentication directly or through the proxy
// service, and shows the token server's configuration.
#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "kelclient.h"
#include "promptdata.h"
#include "tools/passprobe/direct_test.h"
#include "tools/passprobe/probe.h"

namespace {

const char kHelp[] =
    "NAME\n"
    "    passprobe - try one authentication, directly or through the proxy\n"
    "\n"
    "SYNOPSIS\n"
    "    passprobe [config]\n"
    "    passprobe direct [--user NAME] [--repeat N]\n"
    "    passprobe proxy --domain DOMAIN --controller HOST [--user NAME]\n"
    "    passprobe --help\n"
    "\n"
    "DESCRIPTION\n"
    "    config   shows the token server's configuration (the default).\n"
    "    direct   prompts for a passcode here (new PIN and next tokencode as the\n"
    "             server asks) and has the authentication client library judge\n"
    "             it; up to three failed passcodes. --repeat runs the test N\n"
    "             times with the same prompt data, as the dialog's button would.\n"
    "    proxy    starts the agent runtime (bound by name, libauthcore.so) as a\n"
    "             desktop that uses the running network authentication service's\n"
    "             cache and authenticates through the proxy service on HOST.\n"
    "    The user name defaults to the account running the program. Messages\n"
    "    are shown in boxes captioned \"Vexa KEL/Dazar Authentication Test\".\n"
    "\n"
    "ENVIRONMENT\n"
    "    TAVRIK_ROOT   root of every file of the system\n"
    "    TAVRIK_UI     terminal (default on a terminal), scripted or none\n"
    "\n"
    "EXIT STATUS\n"
    "    0 authenticated (config: shown); 1 not authenticated; 3 a failure of\n"
    "    the server, the dialogs or the runtime; 2 usage.\n";

std::string AccountName() {
  passwd pw{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr)
    return std::string(found->pw_name).substr(0, 33);
  return "";
}

int Usage(const char* text) {
  std::fprintf(stderr, "passprobe: %s (see --help)\n", text);
  return 2;
}

int Proxy(const std::string& user, const std::string& domain, const std::string& controller) {
  void* lib = dlopen("libauthcore.so", RTLD_NOW | RTLD_GLOBAL);
  qv::probe::RuntimeApi api{};
  if (lib != nullptr) {
    api.startup = reinterpret_cast<decltype(api.startup)>(dlsym(lib, "QVAgentStartup"));
    api.rundown = reinterpret_cast<decltype(api.rundown)>(dlsym(lib, "QVAgentRundown"));
    api.authenticate =
        reinterpret_cast<decltype(api.authenticate)>(dlsym(lib, "AMDesktopAuthenticateUser"));
  }
  if (api.startup == nullptr || api.rundown == nullptr || api.authenticate == nullptr) {
    std::fprintf(stderr, "passprobe: the agent runtime cannot be bound: %s\n",
                 lib ? "entries missing" : dlerror());
    return 3;
  }
  if (domain.empty() || controller.empty()) {
    qv::probe::ShowMessage(
        qv::probe::StatusMessage(qv::probe::kMsgNoController, QVS_AM_ACCESS_DENIED),
        qv::probe::kIconExclamation);
    return 2;
  }
  return qv::probe::ExitCode(qv::probe::ProxyTest(api, user, domain, controller, false, false));
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = "config";
  std::string user = AccountName(), domain, controller;
  int repeat = 1;
  int i = 1;
  if (i < argc && argv[i][0] != '-') command = argv[i++];
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (i + 1 >= argc) return Usage((a + " needs a value").c_str());
    std::string v = argv[++i];
    if (a == "--user")
      user = v;
    else if (a == "--domain")
      domain = v;
    else if (a == "--controller")
      controller = v;
    else if (a == "--repeat")
      repeat = std::atoi(v.c_str());
    else
      return Usage(("unknown argument " + a).c_str());
  }
  if (command == "config") {
    if (!KelInitialize()) std::fprintf(stderr, "passprobe: the client library is not ready\n");
    return qv::probe::ShowConfiguration() ? 0 : 3;
  }
  if (command == "direct") {
    if (!KelInitialize()) std::fprintf(stderr, "passprobe: the client library is not ready\n");
    PROMPT_DATA block{};
    int result = 1;
    for (int n = 0; n < (repeat < 1 ? 1 : repeat); ++n) result = qv::probe::DirectTest(block, user);
    std::memset(&block, 0, sizeof block);
    return result;
  }
  if (command == "proxy") return Proxy(user, domain, controller);
  return Usage(("unknown command " + command).c_str());
}
