// QVAgentStartup and QVAgentRundown: credentials, cache service, session
// manager, then the role's own resources; rundown in reverse.
#include "runtime/startup/startup.h"

#include "platform/eventtext/eventtext.h"
#include "qvcert.h"
#include "runtime/auth/protocol/ui_lock.h"
#include "runtime/auth/settings.h"
#include "runtime/cache/cache_service.h"
#include "runtime/session/session_manager.h"
#include "runtime/startup/console_control.h"

#ifndef QV_BUILD_VERSION
#define QV_BUILD_VERSION "unknown"
#endif

namespace {

constexpr uint32_t kCategory = 6;
constexpr char kModule[] = "AMmain";

enum class Role { kNone, kDesktop, kAgent };

int g_desktopSide = 0;          // set on entry to start-up
Role g_started = Role::kNone;   // set when start-up completes; rundown's choice
kel::ClientBinding g_client;
std::string g_clientLibrary = "authclient";

// Step 6 for the agent role.
bool BindClientLibrary() {
  if (kel::BindClient(g_clientLibrary.c_str(), &g_client) != QV_OK) {
    QVTraceMessage(8, kCategory, kModule, __LINE__, "Cannot bind the authentication client library %s",
                   g_clientLibrary.c_str());
    return false;
  }
  if (g_client.api.KelInitialize() == 0) {
    QVTraceMessage(8, kCategory, kModule, __LINE__, "KelInitialize() failed");
    kel::UnbindClient(&g_client);
    return false;
  }
  return true;
}

// Undoes steps 2 and 3 of a start-up in `desktop`'s role.
void StopCredentials(bool desktop) {
  if (desktop)
    DMRundown();
  else
    CMShutdownDCSide();
}

}  // namespace

namespace qv::startup {

int DesktopSide() { return g_desktopSide; }

const kel::ClientApi* ClientApi() {
  return g_started == Role::kAgent && g_client.library ? &g_client.api : nullptr;
}

void SetClientLibraryForTest(const std::string& name) {
  g_clientLibrary = name.empty() ? "authclient" : name;
}

}  // namespace qv::startup

extern "C" {

QVSTATUS QVAgentStartup(int bDesktopSide, int bHostCache, int bClientSessions) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering QVAgentStartup");
  QVTraceMessage(1, kCategory, kModule, __LINE__, "Build: %s", QV_BUILD_VERSION);
  g_desktopSide = bDesktopSide ? 1 : 0;
  const bool desktop = g_desktopSide != 0;

  QVSTATUS status = desktop ? CMInitDesktopSide(bHostCache) : CMInitDCSide();
  if (status == QV_OK && desktop) status = DMStartup(1, bHostCache ? 1 : 2);
  if (status == QV_OK) {
    status = SMStartup(bDesktopSide, bClientSessions);
    if (status != QV_OK) StopCredentials(desktop);
  }
  if (status == QV_OK) {
    AMReadPortSettings();
    QVTraceMessage(1, kCategory, kModule, __LINE__, "Ports: client %u, proxy %u", KelClientPort,
                   KelProxyPort);
    bool roleReady;
    if (desktop) {
      roleReady = qv::protocol::CreateUiLock() &&
                  qv::startup::AddConsoleHandler(ConsoleCtrlHandler);
    } else {
      roleReady = BindClientLibrary();
    }
    if (roleReady) {
      g_started = desktop ? Role::kDesktop : Role::kAgent;
    } else {
      SMRundown();
      StopCredentials(desktop);
      if (desktop) qv::protocol::DeleteUiLock();
      status = QVS_AM_AUTHCLIENT_FAILED;
    }
  }
  QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving QVAgentStartup, return code 0x%08X",
                 status);
  return status;
}

void QVAgentRundown(void) {
  QVTraceMessage(2, kCategory, kModule, __LINE__, "Entering QVAgentRundown");
  SMRundown();
  if (g_started == Role::kDesktop) {
    DMRundown();
    qv::protocol::DeleteUiLock();
  } else if (g_started == Role::kAgent) {
    CMShutdownDCSide();
    // Only unloaded: none of the library's shutdown entries is called.
    if (g_client.library) kel::UnbindClient(&g_client);
  }
  g_started = Role::kNone;
  QVTraceMessage(4, kCategory, kModule, __LINE__, "Leaving QVAgentRundown <void>");
}

}  // extern "C"
