// Dialog 103: the next tokencode.
#include "platform/ui/ui.h"
#include "prompt/block_text.h"
#include "prompt/dialog_model.h"
#include "prompt/dialogs.h"
#include "prompt/messages.h"

namespace qv::prompt {

int NextCodeDialog(PROMPT_DATA& block) {
  ui::DialogScope scope;
  ui::Dialog d = PromptDialog(block, 103, "Next Tokencode", kNextCodeTimeout);
  const uint32_t timeout = d.timeoutSeconds;
  d.texts.push_back({0, "The next tokencode is required.", true, ""});
  d.texts.push_back({0, "Enter the next code displayed by your token.", true, ""});
  ui::Field code;
  code.id = kIdNextCode;
  code.label = "Next Tokencode :";
  code.secret = true;
  code.maxLength = kCodeMax;
  d.fields.push_back(code);
  d.buttons = {{ui::kIdOk, "OK"}, {ui::kIdCancel, "Cancel"}};
  d.focus = kIdNextCode;

  for (;;) {
    int answer = ui::RunDialog(d, nullptr);
    if (scope.Closed()) answer = ui::kIdClosed;
    std::string& value = FindById(d.fields, kIdNextCode)->value;
    if (answer != ui::kIdOk) {
      WipeString(value);
      return DialogResult(answer);
    }
    if (value.empty()) {
      int box = PromptMessage(block, MessageText(kMsgEnterNextCode),
                              ui::kMbOk | ui::kMbIconExclamation, timeout);
      if (scope.Closed()) return PROMPT_RESULT_CANCEL;
      if (box == ui::kIdTimedOut) return PROMPT_RESULT_TIMEOUT;
      continue;
    }
    if (block.dwTokenType != PROMPT_TOKEN_SOFT) WriteText(block.szNextCode, value);
    WipeString(value);
    return PROMPT_RESULT_OK;
  }
}

}  // namespace qv::prompt
