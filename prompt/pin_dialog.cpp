// Dialog 102 (new PIN, with the choice of the server's PIN) and dialog 104
// (the server's PIN shown for a few seconds).
#include <algorithm>

#include "platform/ui/ui.h"
#include "prompt/block_text.h"
#include "prompt/dialog_model.h"
#include "prompt/dialogs.h"
#include "prompt/messages.h"

namespace qv::prompt {
namespace {

struct PinRules {
  std::string instruction;
  std::string error;
};

PinRules RulesOf(const PROMPT_DATA& block) {
  const int min = block.bMinPinLen;
  const int max = block.bMaxPinLen;
  const bool letters = block.bAlphanumeric != 0;
  if (min == max) {
    return {FormatMessageInts(letters ? kMsgNewPinExactChars : kMsgNewPinExactDigits, min, max),
            FormatMessageInts(letters ? kMsgPinExactChars : kMsgPinExactDigits, min, max)};
  }
  return {FormatMessageInts(letters ? kMsgNewPinRangeChars : kMsgNewPinRangeDigits, min, max),
          FormatMessageInts(letters ? kMsgPinRangeChars : kMsgPinRangeDigits, min, max)};
}

class PinLayout final : public ui::DialogHooks {
 public:
  void OnChoiceChanged(ui::Dialog& dialog, int choiceId) override {
    if (choiceId == kIdServerPin) Apply(dialog);
  }

  // The PIN entries and the instruction are usable only while the user
  // creates the PIN.
  static void Apply(ui::Dialog& dialog) {
    bool create = SelectedValue(*FindById(dialog.choices, kIdServerPin), 0) == kIdCreatePin;
    FindById(dialog.fields, kIdPin)->enabled = create;
    FindById(dialog.fields, kIdConfirm)->enabled = create;
  }
};

// 1 when the display ended as OK (also by its own time-out), else 2 or 3.
int ShowSystemPin(const PROMPT_DATA& block) {
  const std::string pin = ReadText(block.szSystemPin);
  ui::Dialog d;
  d.templateId = 104;
  d.caption = "New PIN";
  d.topmost = (block.bFlags & PROMPT_FLAG_TOPMOST) != 0;
  d.texts.push_back({kIdSystemPinText, FormatMessageText(kMsgNewPinShow, pin), true,
                     FormatMessageText(kMsgNewPinShow, "********")});
  d.texts.push_back(
      {0, "Memorize your PIN. Do not write it down or reveal it to anyone.", true, ""});
  d.buttons = {{ui::kIdOk, "OK"}};
  d.timeoutSeconds = kSystemPinDisplay;
  int answer = ui::RunDialog(d, nullptr);
  WipeString(d.texts[0].text);
  if (answer == ui::kIdTimedOut) return PROMPT_RESULT_OK;
  return DialogResult(answer);
}

}  // namespace

int NewPinDialog(PROMPT_DATA& block) {
  ui::DialogScope scope;
  const PinRules rules = RulesOf(block);
  // The entries hold no more than the block's PIN field.
  const std::size_t maxLength =
      static_cast<std::size_t>(std::clamp<int>(block.bMaxPinLen, 0, sizeof block.szNewPin - 1));

  ui::Dialog d = PromptDialog(block, 102, "New PIN", kNewPinTimeout);
  const uint32_t timeout = d.timeoutSeconds;
  d.texts.push_back({0, "A new PIN is required.", true, ""});
  d.texts.push_back({kIdPinInstruction, rules.instruction, true, ""});

  ui::Choice mode;
  mode.id = kIdServerPin;
  mode.items.push_back(
      {"Vexa &KEL/Server Will Generate PIN", kIdServerPin, block.bPinSelectable != 2});
  mode.items.push_back({"&I Will Create PIN", kIdCreatePin, block.bPinSelectable != 0});
  if (block.bPinSelectable == 0 || block.bPinSelectable == 1) SelectValue(mode, kIdServerPin);
  if (block.bPinSelectable == 2) SelectValue(mode, kIdCreatePin);
  d.choices.push_back(mode);

  for (int id : {kIdPin, kIdConfirm}) {
    ui::Field f;
    f.id = id;
    f.label = id == kIdPin ? "&PIN: " : "&Confirm: ";
    f.secret = true;
    f.maxLength = maxLength;
    f.numericOnly = block.bAlphanumeric == 0;
    d.fields.push_back(f);
  }
  d.buttons = {{ui::kIdOk, "OK"}, {ui::kIdCancel, "Cancel"}};
  d.focus = kIdPin;
  PinLayout layout;
  PinLayout::Apply(d);

  auto clearEntries = [&d] {
    WipeString(FindById(d.fields, kIdPin)->value);
    WipeString(FindById(d.fields, kIdConfirm)->value);
  };

  for (;;) {
    int answer = ui::RunDialog(d, &layout);
    if (scope.Closed()) answer = ui::kIdClosed;
    if (answer != ui::kIdOk) {
      clearEntries();
      return DialogResult(answer);
    }
    const int choice = SelectedValue(*FindById(d.choices, kIdServerPin), 0);
    if (choice == kIdServerPin) {
      int sure = PromptMessage(block, MessageText(kMsgSystemPinConfirm),
                               ui::kMbYesNo | ui::kMbIconQuestion | ui::kMbDefButton2, timeout);
      if (scope.Closed()) return PROMPT_RESULT_CANCEL;
      if (sure == ui::kIdTimedOut) return PROMPT_RESULT_TIMEOUT;
      if (sure != ui::kIdYes) continue;
      int shown = ShowSystemPin(block);
      if (scope.Closed()) return PROMPT_RESULT_CANCEL;
      if (shown != PROMPT_RESULT_OK) continue;
      WriteText(block.szNewPin, ReadText(block.szSystemPin));
      return PROMPT_RESULT_OK;
    }
    if (choice == kIdCreatePin) {
      std::string& pin = FindById(d.fields, kIdPin)->value;
      const std::string& confirm = FindById(d.fields, kIdConfirm)->value;
      const int length = static_cast<int>(pin.size());
      std::string error;
      if (pin != confirm) {
        error = MessageText(kMsgPinMismatch);
      } else if (length < block.bMinPinLen || length > block.bMaxPinLen) {
        error = rules.error;
      }
      if (!error.empty()) {
        clearEntries();
        d.focus = kIdPin;
        int box = PromptMessage(block, error, ui::kMbOk | ui::kMbIconStop, timeout);
        if (scope.Closed()) return PROMPT_RESULT_CANCEL;
        if (box == ui::kIdTimedOut) return PROMPT_RESULT_TIMEOUT;
        continue;
      }
      WriteText(block.szNewPin, pin);
      clearEntries();
      return PROMPT_RESULT_OK;
    }
    return PROMPT_RESULT_OK;  // neither choice: the PIN is left as it was
  }
}

}  // namespace qv::prompt
