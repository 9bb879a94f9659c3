#include "tools/passprobe/probe.h"

#include <cstdio>
#include <cstring>

#include "platform/eventtext/eventtext.h"
#include "platform/ui/ui.h"

namespace qv::probe {

void ShowMessage(const std::string& text, uint32_t style) {
  (void)qv::ui::ShowMessageBox(kCaption, text, style, 0);
}

std::string StatusMessage(const char* format, QVSTATUS status) {
  char buffer[1024];
  QVFormatError(buffer, sizeof buffer, format, status);
  return buffer;
}

int ExitCode(Outcome outcome) {
  switch (outcome) {
    case Outcome::kSuccess:
      return 0;
    case Outcome::kDenied:
      return 1;
    case Outcome::kUsage:
      return 2;
    case Outcome::kFailed:
      return 3;
  }
  return 3;
}

Outcome ProxyTest(const RuntimeApi& api, std::string user, std::string domain,
                  std::string controller, bool checkFields, bool fieldLimits) {
  if (fieldLimits) {
    if (user.size() > 32) user.resize(32);
    if (domain.size() > 32) domain.resize(32);
    if (controller.size() > 64) controller.resize(64);
  }
  if (checkFields) {
    const char* missing = user.empty()         ? kMsgEnterUser
                          : domain.empty()     ? kMsgEnterDomain
                          : controller.empty() ? kMsgEnterController
                                               : nullptr;
    if (missing != nullptr) {
      ShowMessage(missing, kIconExclamation);
      return Outcome::kUsage;
    }
  }
  QVSTATUS status = api.startup(1, 0, 1);
  if (status != QV_OK) {
    ShowMessage(StatusMessage(kMsgInitFailed, status), kIconStop);
    return Outcome::kFailed;
  }
  // The runtime may write the proxy's domain into an empty buffer.
  char domainBuffer[64] = {};
  std::snprintf(domainBuffer, sizeof domainBuffer, "%s", domain.c_str());
  status = api.authenticate(user.c_str(), domainBuffer, controller.c_str(), 1);
  Outcome outcome;
  if (status == QV_OK) {
    ShowMessage(kMsgSuccess, kIconInformation);
    outcome = Outcome::kSuccess;
  } else if (status == QVS_AM_ACCESS_DENIED) {
    outcome = Outcome::kDenied;  // the desktop side has told the user already
  } else {
    ShowMessage(StatusMessage(kMsgFailed, status), kIconStop);
    outcome = Outcome::kFailed;
  }
  api.rundown();
  return outcome;
}

}  // namespace qv::probe
