// promptsvc95: the network authentication service run inside the logged-on
// user's session, one instance per machine.
#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "authcore.h"
#include "platform/eventtext/eventtext.h"
#include "platform/service/service.h"
#include "services/common/listen_thread.h"
#include "services/common/runtime_hooks.h"
#include "services/common/service_runner.h"

#ifndef QV_BUILD_VERSION
#define QV_BUILD_VERSION "0.0.0"
#endif

namespace {

constexpr const char* kName = "promptsvc95";
constexpr int kFlushDelayMs = 2500;
constexpr int kListenEndWaitMs = 5000;

const char kHelp[] =
    "NAME\n"
    "    promptsvc95 - network authentication service in the user's session\n"
    "\n"
    "SYNOPSIS\n"
    "    promptsvc95\n"
    "    promptsvc95 /shutdown | --shutdown\n"
    "    promptsvc95 --session-end\n"
    "    promptsvc95 --help\n"
    "\n"
    "DESCRIPTION\n"
    "    The variant of promptsvc for a machine where the service runs inside\n"
    "    the logged-on user's session, without root. One instance runs per\n"
    "    machine: its port (KelClientPort, default 2334) and its cache endpoint\n"
    "    are machine-wide, so a second start exits at once.\n"
    "\n"
    "    When the session ends (logind; or --session-end from the session's\n"
    "    logout hook), the cached session certificates are cleared 2.5 seconds\n"
    "    later.\n"
    "\n"
    "OPTIONS\n"
    "    /shutdown, --shutdown  stop the running instance; nothing when none runs\n"
    "    --session-end          tell the running instance that its session ended\n"
    "    --help                 this text\n"
    "\n"
    "ENVIRONMENT\n"
    "    TAVRIK_ROOT   root of every file of the system; the instance lock is\n"
    "                  $TAVRIK_ROOT/run/tavrik/promptsvc95.pid\n"
    "\n"
    "EXIT STATUS\n"
    "    0 when the listener ended normally or another instance runs; 1 when\n"
    "    the runtime or the listener failed (the status is in event 0x400028A1\n"
    "    and on stderr).\n";

const qv::services::ServiceConfig kConfig = {
    .name = kName,
    .desktopSide = 1,
    .hostCache = 1,
    .portSetting = "KelClientPort",
    .defaultPort = 2334,
    .handler = AMSubAuthUIProxy,
    .notifyUser = 1,
    .stopWaitHintMs = 0,
    .stopTrace = "Stopping Network Authentication Service",
    .endEventClass = 1,
    .logoffFlush = true,
    .holdOnShutdown = false,
};

bool SessionEnded(qv::service::SessionWatch& watch) {
  int fd = watch.fd();
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  return watch.TakeEnded() > 0;
}

int Run() {
  qv::service::BlockControlSignals();
  qv::service::InstanceLock instance;
  int err = instance.Acquire(kName);
  if (err == EEXIST) return 0;  // one runs already
  if (err != 0) {
    std::fprintf(stderr, "%s: cannot take the instance lock: %s\n", kName, std::strerror(err));
    return 1;
  }

  QV_TRACE(1, 6, kName, "Build: %s", QV_BUILD_VERSION);
  QVSTATUS status = QVAgentStartup(1, 1, 0);
  if (status != QV_OK) {
    QVLogEvent(9, status, QV_SID_NONE, nullptr, 0);
    qv::services::ReportEnd(kName, status);
    return 1;
  }
  auto* listen = new qv::services::ListenThread(kConfig);
  err = listen->Start();
  if (err != 0) {
    QVLogEvent(9, QVS_SVC_LISTEN_THREAD, QV_SID_NONE, nullptr, static_cast<uint32_t>(err));
    QVAgentRundown();
    std::fprintf(stderr, "%s: cannot start the listen thread: %s\n", kName, std::strerror(err));
    return 1;
  }

  qv::service::SessionWatch watch;
  (void)watch.Open(true);
  bool logoff = false;
  bool quit = false;
  while (!quit && !listen->Done()) {
    switch (qv::service::WaitControl(100)) {
      case qv::service::Control::kStop:
        listen->Stop();
        quit = true;
        break;
      case qv::service::Control::kSessionEnd:
        logoff = true;
        break;
      default:
        break;
    }
    if (SessionEnded(watch)) logoff = true;
    if (logoff && !quit) {
      logoff = false;
      (void)qv::services::DispatchLogoff();
      std::this_thread::sleep_for(std::chrono::milliseconds(kFlushDelayMs));
      QV_TRACE(8, 6, kName, "Flushing cached session certs.");
      (void)CMClearSessionCerts();
    }
  }

  // Without a listener stop of its own, rundown ends the listener.
  (void)listen->WaitDone(quit ? 200 : kListenEndWaitMs);
  uint32_t exitCode = listen->ExitCode();
  QVLogEventControl(1, 9, QVE_SVC_ENDED, QV_SID_NONE, nullptr, exitCode);
  QVAgentRundown();
  (void)listen->WaitDone(kListenEndWaitMs);
  listen->Close();
  qv::services::ReportEnd(kName, exitCode);
  if (listen->Done()) delete listen;
  return exitCode == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  qv::services::Options options = qv::services::ParseOptions(argc, argv, true);
  int early = qv::services::AnswerHelpOrError(options, kName, kHelp);
  if (early >= 0) return early;
  if (options.shutdown) {
    int err = qv::service::SignalInstance(kName, SIGTERM, 10000);
    if (err == ETIMEDOUT) {
      std::fprintf(stderr, "%s: the running instance did not stop in time\n", kName);
      return 1;
    }
    return 0;  // stopped, or none ran
  }
  if (options.sessionEnd) {
    (void)qv::service::SignalInstance(kName, SIGUSR1, 0);
    return 0;
  }
  return Run();
}
