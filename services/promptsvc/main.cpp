// promptsvc: the network authentication service of a workstation.
#include "authcore.h"
#include "services/common/service_runner.h"

namespace {

const char kHelp[] =
    "NAME\n"
    "    promptsvc - network authentication service\n"
    "\n"
    "SYNOPSIS\n"
    "    promptsvc [--start-delay MS]\n"
    "    promptsvc --help\n"
    "\n"
    "DESCRIPTION\n"
    "    Runs in the foreground under systemd (Type=notify). Starts the agent\n"
    "    runtime in the desktop role with the session-certificate cache, listens\n"
    "    on KelClientPort (default 2334) for the TLS sessions that domain\n"
    "    controllers' agents open, and prompts the user of this workstation for\n"
    "    each challenge. When a user's login session ends, the cached session\n"
    "    certificates are cleared, so that the next user is challenged afresh.\n"
    "\n"
    "    SIGTERM or SIGINT stops the service (ignored while it is still starting);\n"
    "    during a system shutdown (logind preparing it) the listener stays for\n"
    "    about 14.5 seconds more, with falling stop-pending reports, so that\n"
    "    conversations in progress can end. SIGHUP repeats the status report;\n"
    "    SIGUSR1 says a session has ended (for machines without logind: send it\n"
    "    from the session's logout hook).\n"
    "\n"
    "OPTIONS\n"
    "    --start-delay MS  stay in start-pending MS milliseconds before the runtime\n"
    "                      starts (to try the start-up path)\n"
    "    --help            this text\n"
    "\n"
    "ENVIRONMENT\n"
    "    TAVRIK_ROOT       root of every file of the system (default: production)\n"
    "    NOTIFY_SOCKET     systemd's status socket, set by systemd\n"
    "\n"
    "FILES\n"
    "    $TAVRIK_ROOT/run/tavrik/promptsvc.pid\n"
    "                      pid file, locked while the service runs; a second copy\n"
    "                      on the same root exits with status 1\n"
    "\n"
    "EXIT STATUS\n"
    "    0 when the listener ended normally (stop); 1 otherwise. The listen status\n"
    "    itself is in event 0x400028A1, the systemd status line and stderr.\n";

const qv::services::ServiceConfig kConfig = {
    .name = "promptsvc",
    .desktopSide = 1,
    .hostCache = 1,
    .portSetting = "KelClientPort",
    .defaultPort = 2334,
    .handler = AMSubAuthUIProxy,
    .notifyUser = 1,
    .stopWaitHintMs = 1000,
    .stopTrace = "Stopping Network Authentication Service",
    .endEventClass = 1,
    .logoffFlush = true,
    .holdOnShutdown = true,
};

}  // namespace

int main(int argc, char** argv) { return qv::services::ServiceMain(kConfig, kHelp, argc, argv); }
