#include "services/common/service_runner.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/eventtext/eventtext.h"
#include "platform/service/service.h"
#include "services/common/listen_thread.h"
#include "services/common/runtime_hooks.h"

#ifndef QV_BUILD_VERSION
#define QV_BUILD_VERSION "0.0.0"
#endif

namespace qv::services {

namespace {

enum class State { kStartPending, kRunning, kStopPending, kStopped };

// Stop-pending wait hints and the waits after them, in milliseconds.
constexpr std::pair<uint32_t, int> kShutdownSteps[] = {{15000, 5000}, {10000, 5000}, {5000, 4500}};

void Report(State state, uint32_t waitHintMs, uint32_t exitCode) {
  switch (state) {
    case State::kStartPending:
      service::ReportStartPending(waitHintMs, "Starting");
      break;
    case State::kRunning:
      service::ReportRunning("Running");
      break;
    case State::kStopPending:
      service::ReportStopPending(waitHintMs, "Stopping");
      break;
    case State::kStopped:
      service::ReportStopped(exitCode);
      break;
  }
}

void FlushCerts(const char* module) {
  (void)DispatchLogoff();
  QV_TRACE(8, 6, module, "Flushing certs");
  QVSTATUS status = CMClearSessionCerts();
  if (status != QV_OK) QV_TRACE(8, 6, module, "CMClearSessionCerts failed, err=0x%08X", status);
}

// True when the watch's descriptor says a watched session has ended.
bool SessionEnded(service::SessionWatch& watch) {
  int fd = watch.fd();
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  return watch.TakeEnded() > 0;
}

}  // namespace

Options ParseOptions(int argc, char** argv, bool allowInstanceCommands) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (allowInstanceCommands && (a == "/shutdown" || a == "--shutdown")) {
      o.shutdown = true;
    } else if (allowInstanceCommands && a == "--session-end") {
      o.sessionEnd = true;
    } else if (a == "--start-delay" && i + 1 < argc) {
      char* end = nullptr;
      unsigned long v = std::strtoul(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || v > 600000) {
        o.error = "bad --start-delay value";
        return o;
      }
      o.startDelayMs = static_cast<uint32_t>(v);
    } else {
      o.error = "unknown argument: " + a;
      return o;
    }
  }
  return o;
}

int AnswerHelpOrError(const Options& options, const char* name, const char* help) {
  if (options.help) {
    std::fputs(help, stdout);
    return 0;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "%s: %s (see --help)\n", name, options.error.c_str());
    return 2;
  }
  return -1;
}

int ServiceMain(const ServiceConfig& config, const char* help, int argc, char** argv) {
  Options options = ParseOptions(argc, argv, false);
  int early = AnswerHelpOrError(options, config.name, help);
  if (early >= 0) return early;
  return RunService(config, options);
}

void ReportEnd(const char* name, uint32_t status) {
  if (status == 0) return;
  char text[512];
  QVFormatError(text, sizeof text, "%s", status);
  std::fprintf(stderr, "%s: stopped with status 0x%08X: %s\n", name, status, text);
}

int RunService(const ServiceConfig& config, const Options& options) {
  const char* module = config.name;
  QV_TRACE(1, 6, module, "Build: %s", QV_BUILD_VERSION);
  // Every thread started from here on inherits the blocked control signals,
  // so only the waits below take them.
  service::BlockControlSignals();
  // The pid file lets a start and stop without systemd find the service, and
  // keeps a second copy from taking over the same root.
  service::InstanceLock instance;
  int lockError = instance.Acquire(config.name);
  if (lockError == EEXIST) {
    std::fprintf(stderr, "%s: already running (pid %ld)\n", module,
                 static_cast<long>(service::RunningInstance(config.name)));
    return 1;
  }
  if (lockError != 0) QV_TRACE(8, 6, module, "No pid file: %s", std::strerror(lockError));
  QV_TRACE(8, 6, module, "ServiceMain entered");
  State state = State::kStartPending;
  Report(state, kStartWaitHintMs, 0);

  if (options.startDelayMs != 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(options.startDelayMs));

  QVSTATUS status = QVAgentStartup(config.desktopSide, config.hostCache, 0);
  if (status != QV_OK) {
    QVLogEvent(9, status, QV_SID_NONE, nullptr, 0);
    QV_TRACE(8, 6, module, "QVAgentStartup failed, err=%d", static_cast<int>(status));
    Report(State::kStopped, 0, status);
    ReportEnd(module, status);
    return 1;
  }

  // Lives as long as the process: a listener that outlasts a stop still
  // refers to it.
  auto* listen = new ListenThread(config);
  int err = listen->Start();
  if (err != 0) {
    QVLogEvent(9, QVS_SVC_LISTEN_THREAD, QV_SID_NONE, nullptr, static_cast<uint32_t>(err));
    QV_TRACE(8, 6, module, "CreateThread failed, GetLastError=%d", err);
    QVAgentRundown();
    Report(State::kStopped, 0, static_cast<uint32_t>(err));
    std::fprintf(stderr, "%s: cannot start the listen thread: %s\n", module, std::strerror(err));
    return 1;
  }

  // A stop requested while starting is ignored.
  while (service::WaitControl(0) != service::Control::kNone) {
  }
  state = State::kRunning;
  Report(state, 0, 0);

  service::SessionWatch watch;
  if (config.logoffFlush) (void)watch.Open(false);
  std::thread flusher;

  while (!listen->Done()) {
    switch (service::WaitControl(100)) {
      case service::Control::kStop:
        if (state != State::kRunning) break;
        state = State::kStopPending;
        if (service::SystemShuttingDown()) {
          // Conversations in progress get time to end before the listener goes.
          if (config.holdOnShutdown) {
            for (const auto& [hint, wait] : kShutdownSteps) {
              Report(state, hint, 0);
              std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            }
          }
        } else {
          Report(state, config.stopWaitHintMs, 0);
        }
        QV_TRACE(8, 6, module, "%s", config.stopTrace);
        listen->Stop();
        break;
      case service::Control::kSessionEnd:
        if (config.logoffFlush) {
          if (flusher.joinable()) flusher.join();
          flusher = std::thread(FlushCerts, module);
        }
        break;
      case service::Control::kInterrogate:
        Report(state, config.stopWaitHintMs, 0);
        break;
      case service::Control::kNone:
        break;
    }
    if (config.logoffFlush && SessionEnded(watch)) {
      if (flusher.joinable()) flusher.join();
      flusher = std::thread(FlushCerts, module);
    }
    // Without a listener stop of its own, rundown ends the listener.
    if (state == State::kStopPending && !listen->WaitDone(200)) break;
  }
  if (flusher.joinable()) flusher.join();

  uint32_t exitCode = listen->ExitCode();
  QVAgentRundown();
  (void)listen->WaitDone(2000);
  listen->Close();
  state = State::kStopped;
  QVLogEventControl(config.endEventClass, 9, QVE_SVC_ENDED, QV_SID_NONE, nullptr, exitCode);
  QV_TRACE(8, 6, module, "ServiceMain exits, dwStatus=%d", static_cast<int>(exitCode));
  Report(state, 0, exitCode);
  ReportEnd(module, exitCode);
  if (listen->Done()) delete listen;
  return exitCode == 0 ? 0 : 1;
}

}  // namespace qv::services
