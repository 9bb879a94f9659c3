// Status reports through sd_notify.
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/service/service.h"

namespace qv::service {

bool ManagerPresent() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  return socket != nullptr && socket[0] != '\0';
}

namespace {

void Send(const char* text) {
  if (!ManagerPresent()) return;
  (void)sd_notify(0, text);
}

}  // namespace

void ReportStartPending(uint32_t waitHintMs, const char* status) {
  char text[256];
  std::snprintf(text, sizeof text, "STATUS=%s\nEXTEND_TIMEOUT_USEC=%llu",
                status ? status : "Starting",
                static_cast<unsigned long long>(waitHintMs) * 1000ull);
  Send(text);
}

void ReportRunning(const char* status) {
  char text[256];
  std::snprintf(text, sizeof text, "READY=1\nMAINPID=%ld\nSTATUS=%s", static_cast<long>(getpid()),
                status ? status : "Running");
  Send(text);
}

void ReportStopPending(uint32_t waitHintMs, const char* status) {
  char text[256];
  std::snprintf(text, sizeof text, "STOPPING=1\nSTATUS=%s\nEXTEND_TIMEOUT_USEC=%llu",
                status ? status : "Stopping",
                static_cast<unsigned long long>(waitHintMs) * 1000ull);
  Send(text);
}

void ReportStopped(uint32_t exitCode) {
  char text[128];
  if (exitCode != 0)
    std::snprintf(text, sizeof text, "STATUS=Stopped, status 0x%08X", exitCode);
  else
    std::snprintf(text, sizeof text, "STATUS=Stopped");
  Send(text);
}

}  // namespace qv::service
