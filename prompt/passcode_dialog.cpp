// Dialog 101: user name and passcode, or software token and its PIN.
#include <vector>

#include "platform/ui/ui.h"
#include "prompt/block_text.h"
#include "prompt/dialog_model.h"
#include "prompt/dialogs.h"
#include "prompt/messages.h"
#include "prompt/token_list.h"

namespace qv::prompt {
namespace {

class PasscodeLayout final : public ui::DialogHooks {
 public:
  void OnChoiceChanged(ui::Dialog& dialog, int choiceId) override {
    if (choiceId == kIdKindList) Apply(dialog);
  }

  // Shows the controls of the chosen kind.
  static void Apply(ui::Dialog& dialog) {
    ui::Choice* kind = FindById(dialog.choices, kIdKindList);
    ui::Choice* tokens = FindById(dialog.choices, kIdTokenList);
    bool soft = kind != nullptr && SelectedValue(*kind, PROMPT_TOKEN_CARD) == PROMPT_TOKEN_SOFT;
    FindById(dialog.texts, kIdKindGroup)->text =
        MessageText(soft ? kMsgSoftTokenKind : kMsgCardKind);
    FindById(dialog.texts, kIdInstruction)->text =
        MessageText(soft ? kMsgSoftTokenInstruction : kMsgCardInstruction);
    FindById(dialog.fields, kIdCode)->label =
        MessageText(soft ? kMsgEnterPinLabel : kMsgEnterPasscodeLabel);
    tokens->visible = soft;
  }
};

}  // namespace

int PasscodeDialog(PROMPT_DATA& block) {
  ui::DialogScope scope;
  const bool softOffered = (block.dwTokenType & PROMPT_TOKEN_SOFT) != 0;
  const bool editable = (block.bFlags & PROMPT_FLAG_EDIT_USERNAME) != 0;

  ui::Dialog d = PromptDialog(block, 101, kCaption, kPasscodeTimeout);
  const uint32_t timeout = d.timeoutSeconds;

  ui::Choice kind;
  kind.id = kIdKindList;
  kind.label = "Choose Token :";
  if (softOffered) kind.items.push_back({MessageText(kMsgSoftTokenKind), PROMPT_TOKEN_SOFT, true});
  kind.items.push_back({MessageText(kMsgCardKind), PROMPT_TOKEN_CARD, true});
  int firstKind = PROMPT_TOKEN_CARD;
  if (block.dwPreferredType == PROMPT_TOKEN_CARD || block.dwPreferredType == PROMPT_TOKEN_SOFT) {
    firstKind = static_cast<int>(block.dwPreferredType);
  } else if (block.dwTokenCount != 0) {
    firstKind = PROMPT_TOKEN_SOFT;
  }
  SelectValue(kind, firstKind);
  if (kind.selected < 0) SelectValue(kind, PROMPT_TOKEN_CARD);
  d.choices.push_back(kind);

  ui::Choice tokens;
  tokens.id = kIdTokenList;
  tokens.label = MessageText(kMsgSelectSoftToken);
  std::vector<TokenEntry> entries = TokenEntries(block);
  for (size_t i = 0; i < entries.size(); ++i) {
    tokens.items.push_back(
        {entries[i].text + " - " + entries[i].secondText, static_cast<int>(i), true});
  }
  SelectValue(tokens,
              block.iSoftToken == -1 ? static_cast<int>(block.dwDefaultToken) : block.iSoftToken);
  if (tokens.selected < 0 && !tokens.items.empty()) tokens.selected = 0;
  d.choices.push_back(tokens);

  d.texts.push_back({kIdKindGroup, "", true, ""});
  d.texts.push_back({kIdInstruction, "", true, ""});

  ui::Field user;
  user.id = kIdUsername;
  user.label = "Enter User Name :";
  user.value = ReadText(block.szUsername).substr(0, kUsernameMax);
  user.readOnly = !editable;
  user.maxLength = kUsernameMax;
  d.fields.push_back(user);

  ui::Field code;
  code.id = kIdCode;
  code.secret = true;
  code.maxLength = kCodeMax;
  d.fields.push_back(code);

  d.buttons = {{ui::kIdOk, "OK"}, {ui::kIdCancel, "Cancel"}};
  d.focus = editable && user.value.empty() ? kIdUsername : kIdCode;
  PasscodeLayout layout;
  PasscodeLayout::Apply(d);

  for (;;) {
    int answer = ui::RunDialog(d, &layout);
    if (scope.Closed()) answer = ui::kIdClosed;
    if (answer != ui::kIdOk) {
      WipeString(FindById(d.fields, kIdCode)->value);
      return DialogResult(answer);
    }
    ui::Field& userField = *FindById(d.fields, kIdUsername);
    ui::Field& codeField = *FindById(d.fields, kIdCode);
    int missing = userField.value.empty()   ? kMsgEnterUsername
                  : codeField.value.empty() ? kMsgEnterCode
                                            : 0;
    if (missing != 0) {
      int box =
          PromptMessage(block, MessageText(missing), ui::kMbOk | ui::kMbIconExclamation, timeout);
      if (scope.Closed()) return PROMPT_RESULT_CANCEL;
      if (box == ui::kIdTimedOut) return PROMPT_RESULT_TIMEOUT;
      d.focus = missing == kMsgEnterUsername ? kIdUsername : kIdCode;
      continue;
    }
    WriteText(block.szUsername, userField.value.substr(0, kUsernameMax));
    const bool soft =
        SelectedValue(*FindById(d.choices, kIdKindList), PROMPT_TOKEN_CARD) == PROMPT_TOKEN_SOFT;
    if (soft) {
      block.dwTokenType = block.dwPreferredType = PROMPT_TOKEN_SOFT;
      WriteText(block.szNewPin, codeField.value);
    } else {
      block.dwTokenType = block.dwPreferredType = PROMPT_TOKEN_CARD;
      WriteText(block.szPasscode, codeField.value);
    }
    int chosen = SelectedValue(*FindById(d.choices, kIdTokenList), -1);
    if (chosen >= 0) block.iSoftToken = chosen;
    WipeString(codeField.value);
    return PROMPT_RESULT_OK;
  }
}

}  // namespace qv::prompt
