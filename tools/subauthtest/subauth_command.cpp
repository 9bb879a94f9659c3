#include "tools/subauthtest/subauth_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "authcore.h"
#include "platform/eventtext/eventtext.h"
#include "qvprotocol.h"
#include "runtime/auth/settings.h"

namespace qv::subauth {

const char kUsage[] = R"(NAME
    qvsubauth - challenge a user at a workstation, as the domain controller does

SYNOPSIS
    qvsubauth [--port PORT] WORKSTATION USER [DOMAIN]
    qvsubauth [--port PORT] --test WORKSTATION
    qvsubauth --help

DESCRIPTION
    Runs the domain controller's side of a network-logon challenge against
    the network authentication service (promptsvc) of WORKSTATION, so that
    the challenge can be tried before the logon filter is installed. The
    workstation first shows a session certificate it holds for USER and
    DOMAIN; without a valid one the user is prompted there for a passcode
    (and a new PIN or the next tokencode when the authentication server asks
    for them), and on success the workstation receives a new session
    certificate.

    With --test only a secure session to the workstation is opened and the
    workstation is told that authentication succeeded; nobody is prompted.

    The command runs in the agent role: it needs this machine's domain
    controller certificate and key (qvcert), the trusted root and the
    authentication client library, as the proxy service does.

OPTIONS
    --port PORT    the workstation's port (default: the KelClientPort
                   setting, 2334)
    --test         connection test only
    --help         this text

OUTPUT
    The user and domain names the workstation answered with, and the
    result with its status text.

ENVIRONMENT
    TAVRIK_ROOT    root of every path of the system

EXIT STATUS
    0 the user was let in (or the test passed), 1 access denied or a
    failure, 2 usage error.
)";

namespace {

QVSTATUS StartAgent() { return QVAgentStartup(0, 0, 1); }
void StopAgent() { QVAgentRundown(); }

bool ParsePort(const std::string& text, uint32_t* port) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value == 0 || value > 65535) return false;
  *port = static_cast<uint32_t>(value);
  return true;
}

void Report(std::ostream& out, QVSTATUS status) {
  char text[512];
  QVFormatError(text, sizeof text, "%s", status);
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", status);
  out << "result: " << code << " " << text << "\n";
}

}  // namespace

const Runtime& DefaultRuntime() {
  static const Runtime runtime{StartAgent, StopAgent, AMSubauthAuthenticateUser, AMSubauthTest};
  return runtime;
}

int RunCommand(const std::vector<std::string>& args, const Runtime& runtime, std::ostream& out,
               std::ostream& err) {
  bool test = false;
  bool portGiven = false;
  uint32_t port = 0;
  std::vector<std::string> names;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      out << kUsage;
      return 0;
    }
    if (a == "--test") {
      test = true;
    } else if (a == "--port") {
      if (i + 1 >= args.size() || !ParsePort(args[++i], &port)) {
        err << "qvsubauth: --port needs a number from 1 to 65535\n";
        return 2;
      }
      portGiven = true;
    } else if (!a.empty() && a[0] == '-') {
      err << "qvsubauth: unknown option " << a << " (see --help)\n";
      return 2;
    } else {
      names.push_back(a);
    }
  }
  const size_t wanted = test ? 1 : 2;
  if (names.size() < wanted || names.size() > (test ? 1u : 3u)) {
    err << "qvsubauth: " << (test ? "--test takes WORKSTATION" : "WORKSTATION USER [DOMAIN] expected")
        << " (see --help)\n";
    return 2;
  }
  for (size_t i = 1; i < names.size(); ++i) {
    if (names[i].size() >= AM_NAME_BUFFER) {
      err << "qvsubauth: user and domain names have at most " << AM_NAME_BUFFER - 1
          << " characters\n";
      return 2;
    }
  }

  QVSTATUS status = runtime.start();
  if (status != QV_OK) {
    err << "qvsubauth: the runtime cannot start in the agent role\n";
    Report(err, status);
    return 1;
  }
  // Start-up reads the port settings; an explicit port replaces them.
  if (portGiven) KelClientPort = port;

  if (test) {
    status = runtime.test(names[0].c_str());
  } else {
    char user[AM_NAME_BUFFER] = {};
    char domain[AM_NAME_BUFFER] = {};
    std::strcpy(user, names[1].c_str());
    if (names.size() > 2) std::strcpy(domain, names[2].c_str());
    status = runtime.authenticate(user, domain, names[0].c_str());
    out << "user: " << user << "\n" << "domain: " << domain << "\n";
  }
  Report(out, status);
  runtime.stop();
  return status == QV_OK ? 0 : 1;
}

}  // namespace qv::subauth
