// Entry points of the desktop role: the handler of agent sessions in the
// network authentication service, and the logon module's road through the
// proxy.
#include <cstring>
#include <string>

#include "authcore.h"
#include "platform/desktop/desktop.h"
#include "platform/eventtext/eventtext.h"
#include "qvprotocol.h"
#include "runtime/auth/protocol/roles.h"
#include "runtime/auth/protocol/ui_lock.h"
#include "runtime/auth/settings.h"
#include "runtime/session/session_manager.h"

namespace {
constexpr char kModule[] = "AMdthandler";
}  // namespace

void ServeAgentSession(QVNetSession* session, int socket) {
  std::string input;
  (void)qv::desktop::InputDesktopName(input);

  std::string holder = qv::protocol::HolderDesktop();
  if (!holder.empty() && holder != input) {
    QV_TRACE(8, 6, kModule, "AMSubAuthUIProxy: Closing open dialogs on desktop: %s", holder.c_str());
    qv::protocol::CloseHolderWindows();
  }

  int32_t outcome = PROMPT_RESULT_OK;
  char domain[AM_NAME_BUFFER] = {};
  {
    qv::protocol::UiConversation conversation(input);
    QVSTATUS status = ProcessUITransactions(session, socket, "", domain, 1, &outcome);
    if (status != QV_OK) {
      QVLogEvent(9, status, QV_SID_NONE, nullptr, 0);
      QV_TRACE(8, 6, kModule, "ProcessUITransactions failed, err=0x%08X", status);
    }
  }
}

extern "C" void AMSubAuthUIProxy(SMSessionInfo* info) {
  QV_TRACE(2, 6, kModule, "Entering AMSubAuthUIProxy");
  if (info == nullptr) return;
  ServeAgentSession(info->pSession, info->iSocket);
  SMDeleteContext(info->iSocket, info->pSession);
  SMFreeSessionInfo(info);
  QV_TRACE(4, 6, kModule, "Leaving AMSubAuthUIProxy, ret=<void>");
}

extern "C" QVSTATUS AMDesktopAuthenticateUser(const char* user, char* domain,
                                              const char* proxyHost, uint32_t useSoftTokens) {
  QV_TRACE(2, 6, kModule, "Entering AMDesktopAuthenticateUser");
  SMPeerCert peer{};
  int socket = -1;
  SMSession* session = nullptr;
  QVSTATUS status =
      SMClientOpenSession(proxyHost, KelProxyPort, 0, 0, &peer, &socket, &session);
  if (status != QV_OK) {
    QVLogEvent(9, status, QV_SID_NONE, nullptr, 0);
    QV_TRACE(4, 6, kModule, "Leaving AMDesktopAuthenticateUser, ret=0x%08X", status);
    return status;
  }
  int32_t outcome = PROMPT_RESULT_OK;
  bool granted = false;
  status = ProcessUITransactions(session, socket, user != nullptr ? user : "", domain,
                                 useSoftTokens, &outcome, &granted);
  if (status != QV_OK) {
    QVLogEvent(9, status, QV_SID_NONE, nullptr, 0);
  } else if (!granted) {
    // The desktop refused to prompt: no logon without the proxy's word.
    status = QVS_AM_ACCESS_DENIED;
  }
  SMDeleteContext(socket, session);
  SMFreePeerCert(&peer);
  QV_TRACE(4, 6, kModule, "Leaving AMDesktopAuthenticateUser, ret=0x%08X", status);
  return status;
}
