#include "platform/ui/ui.h"
#include "prompt/dialogs.h"
#include "prompt/messages.h"

namespace qv::prompt {

int PromptMessage(const PROMPT_DATA& block, const std::string& text, uint32_t style,
                  uint32_t timeoutSeconds) {
  if (block.bFlags & PROMPT_FLAG_TOPMOST) style |= ui::kMbTopmost;
  uint32_t timeout = (block.bFlags & PROMPT_FLAG_TIMEOUTS) ? timeoutSeconds : 0;
  return ui::ShowMessageBox(kCaption, text, style, timeout);
}

ui::Dialog PromptDialog(const PROMPT_DATA& block, int templateId, const char* caption,
                        uint32_t timeoutSeconds) {
  const uint32_t timeout = (block.bFlags & PROMPT_FLAG_TIMEOUTS) ? timeoutSeconds : 0;
  ui::Dialog d;
  d.templateId = templateId;
  d.caption = caption;
  d.topmost = (block.bFlags & PROMPT_FLAG_TOPMOST) != 0;
  d.timeoutSeconds = timeout;
  d.restartSeconds = timeout != 0 ? kActivityRestart : 0;
  return d;
}

int DialogResult(int answer) {
  switch (answer) {
    case ui::kIdOk:
      return PROMPT_RESULT_OK;
    case ui::kIdTimedOut:
      return PROMPT_RESULT_TIMEOUT;
    default:
      return PROMPT_RESULT_CANCEL;
  }
}

}  // namespace qv::prompt
