// Service layer: how a daemon of the system meets its service manager.
//
// - Status: reports to systemd through sd_notify (start-pending with a wait
//   hint, ready, stopping, a free status line); without a manager socket
//   (NOTIFY_SOCKET unset: tests, containers, a plain spawn) the reports are
//   no-ops.
// - Stop: SIGTERM and SIGINT are stop requests, SIGUSR1 is "the user's
//   session ends" (sent by a session's logout hook); the signals are taken
//   synchronously by one waiter, so no code runs in signal context.
// - One instance: a lock file under RunDir() holds an exclusive lock for the
//   life of the process and carries its pid, so a second start can tell
//   that one runs and which.
// - Session end: on a systemd machine logind is watched; a seat session (or
//   the process's own) that closes or disappears counts as one session end.
//
// Every function returns 0 or an errno value unless stated otherwise; no
// exception leaves the layer. CMake target: qvservice.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace qv::service {

// ---- Status reports to the service manager ----

// True when a service manager listens for reports (NOTIFY_SOCKET is set).
bool ManagerPresent();

// "start-pending": STATUS=<text> and a start time-out extended by waitHintMs.
void ReportStartPending(uint32_t waitHintMs, const char* status);
// "running": READY=1 with the main pid.
void ReportRunning(const char* status);
// "stop-pending": STOPPING=1 and a stop time-out extended by waitHintMs.
void ReportStopPending(uint32_t waitHintMs, const char* status);
// "stopped": STATUS=<text> and ERRNO=<code> when code is non-zero.
void ReportStopped(uint32_t exitCode);

// ---- Control requests by signal ----

enum class Control { kNone, kStop, kSessionEnd, kInterrogate };

// Blocks SIGTERM, SIGINT, SIGUSR1 and SIGHUP in the calling thread; call it
// before any other thread starts, so every thread inherits the mask and the
// signals wait for WaitControl.
int BlockControlSignals();

// Waits up to timeoutMs (negative: without limit) for a control signal.
// kNone on time-out. SIGHUP is interrogate.
Control WaitControl(int timeoutMs);

// ---- One instance per machine (per root) ----

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock <RunDir()>/<name>.pid and writes this process's pid into
  // it. EEXIST when another live process holds it; another errno when the
  // file cannot be made.
  int Acquire(const std::string& name);
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
};

// The pid of the process that holds the lock `name`, or 0 when none does.
pid_t RunningInstance(const std::string& name);

// Sends `sig` to the holder of `name` and, for a stop, waits up to waitMs
// for the lock to be released. 0 when a holder was signalled (and, for a
// stop, has gone); ESRCH when none runs; ETIMEDOUT when it did not go.
int SignalInstance(const std::string& name, int sig, int waitMs);

// ---- Session end ----

// Watches logind for sessions that end. Without logind (no systemd, or the
// watch cannot be set up) Open returns ENOTSUP and the caller relies on
// SIGUSR1 from the logout hook.
class SessionWatch {
 public:
  SessionWatch() = default;
  ~SessionWatch();
  SessionWatch(const SessionWatch&) = delete;
  SessionWatch& operator=(const SessionWatch&) = delete;

  // `ownSessionOnly`: watch only the session this process runs in (a
  // program started inside the user's session); otherwise every session on
  // a seat (the workstation's local and graphical logons).
  int Open(bool ownSessionOnly);
  // A descriptor that becomes readable when logind's state changes, -1
  // when not open.
  int fd() const;
  // After the descriptor was readable: how many watched sessions ended
  // since the last call.
  int TakeEnded();

  struct Impl;

 private:
  Impl* impl_ = nullptr;
};

}  // namespace qv::service

namespace qv::service {

// True while logind prepares a power-off or reboot (a stop request is then
// part of the system's shutdown); false when it cannot be asked.
bool SystemShuttingDown();

}  // namespace qv::service
