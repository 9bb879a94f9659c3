// relaysvc: the proxy service of a domain controller.
#include "authcore.h"
#include "services/common/service_runner.h"

namespace {

const char kHelp[] =
    "NAME\n"
    "    relaysvc - proxy service for workstations' logons\n"
    "\n"
    "SYNOPSIS\n"
    "    relaysvc [--start-delay MS]\n"
    "    relaysvc --help\n"
    "\n"
    "DESCRIPTION\n"
    "    Runs in the foreground under systemd (Type=notify). Starts the agent\n"
    "    runtime in the agent role (this domain controller's certificate and key,\n"
    "    and the authentication client library), listens on KelProxyPort (default\n"
    "    2335) for the TLS sessions that workstations open, has the workstation\n"
    "    prompt its user and asks the authentication server. Failed incoming\n"
    "    sessions are not shown to anybody. The registry value TestMode (0 normal,\n"
    "    1 silent test, 2 interactive test) is read for each connection.\n"
    "\n"
    "    Without an installed domain-controller certificate the listener cannot\n"
    "    start and the service stops at once with status 0xC00028A5.\n"
    "\n"
    "    SIGTERM or SIGINT stops the service (ignored while it is still starting);\n"
    "    SIGHUP repeats the status report.\n"
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
    "    $TAVRIK_ROOT/run/tavrik/relaysvc.pid\n"
    "                      pid file, locked while the service runs; a second copy\n"
    "                      on the same root exits with status 1\n"
    "\n"
    "EXIT STATUS\n"
    "    0 when the listener ended normally (stop); 1 otherwise. The listen status\n"
    "    itself is in event 0x400028A1, the systemd status line and stderr.\n";

const qv::services::ServiceConfig kConfig = {
    .name = "relaysvc",
    .desktopSide = 0,
    .hostCache = 1,
    .portSetting = "KelProxyPort",
    .defaultPort = 2335,
    .handler = AMDesktopKelProxy,
    .notifyUser = 2,
    .stopWaitHintMs = 2500,
    .stopTrace = "Stopping KEL/Dazar Proxy Service",
    .endEventClass = 3,
    .logoffFlush = false,
    .holdOnShutdown = false,
};

}  // namespace

int main(int argc, char** argv) { return qv::services::ServiceMain(kConfig, kHelp, argc, argv); }
