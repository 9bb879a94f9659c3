#include "runtime/auth/timed_message_box.h"

#include <atomic>
#include <string>

#include "platform/eventtext/eventtext.h"
#include "platform/ui/ui.h"

namespace {
std::atomic<uint32_t> g_seconds{0};
}

namespace qv::auth {
void SetTimedMessageBoxSecondsForProcess(uint32_t seconds) { g_seconds.store(seconds); }
}  // namespace qv::auth

int AMTimedMessageBox(void* owner, const char* text, const char* caption, uint32_t style) {
  QVTraceMessage(2, 6, "AMmain", __LINE__, "Entering AMTimedMessageBox");
  uint32_t seconds = g_seconds.load();
  if (seconds == 0) seconds = QV_TIMED_MESSAGE_BOX_SECONDS;
  style &= ~QV_MB_SERVICE_NOTIFICATION;
  int answer = qv::ui::ShowMessageBox(caption ? caption : "", text ? text : "", style, seconds);
  if (answer == qv::ui::kIdTimedOut) {
    switch (style & qv::ui::kMbButtonsMask) {
      case qv::ui::kMbOk:
        answer = qv::ui::kIdOk;
        break;
      case qv::ui::kMbOkCancel:
      case qv::ui::kMbYesNoCancel:
      case qv::ui::kMbRetryCancel:
        answer = qv::ui::kIdCancel;
        break;
      default:
        break;
    }
  }
  QVTraceMessage(4, 6, "AMmain", __LINE__, "Leaving AMTimedMessageBox, return code %d", answer);
  return answer;
}
