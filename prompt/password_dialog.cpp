// Dialog 105: the password that unlocks a software token.
#include "platform/ui/ui.h"
#include "prompt/block_text.h"
#include "prompt/dialog_model.h"
#include "prompt/dialogs.h"

namespace qv::prompt {

int TokenPasswordDialog(PROMPT_DATA& block, bool numeric, std::string& password) {
  ui::DialogScope scope;
  ui::Dialog d = PromptDialog(block, 105, "Enter Password", kPasswordTimeout);
  d.texts.push_back({0, "A token password is required.", true, ""});
  d.texts.push_back({0, "Enter the password to unlock your token.", true, ""});
  ui::Field f;
  f.id = kIdTokenPassword;
  f.label = "Token Password :";
  f.secret = true;
  f.numericOnly = numeric;
  f.maxLength = kPasswordMax;
  d.fields.push_back(f);
  d.buttons = {{ui::kIdOk, "OK"}, {ui::kIdCancel, "Cancel"}};
  d.focus = kIdTokenPassword;

  int answer = ui::RunDialog(d, nullptr);
  if (scope.Closed()) answer = ui::kIdClosed;
  std::string& value = FindById(d.fields, kIdTokenPassword)->value;
  if (answer == ui::kIdOk) password = value;
  WipeString(value);
  return DialogResult(answer);
}

}  // namespace qv::prompt
