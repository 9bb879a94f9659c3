// The prompt dialogs, independent of how a back end draws them. Each returns
// 1 (OK), 2 (Cancel, or closed from another thread) or 3 (time-out).
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/ui.h"
#include "promptdata.h"

namespace qv::prompt {

// Dialog time-outs in seconds (only with PROMPT_FLAG_TIMEOUTS).
inline constexpr uint32_t kPasscodeTimeout = 120;
inline constexpr uint32_t kNewPinTimeout = 180;
inline constexpr uint32_t kNextCodeTimeout = 120;
inline constexpr uint32_t kPasswordTimeout = 180;
inline constexpr uint32_t kActivityRestart = 120;
// The server's PIN is shown this long, then the display ends as if OK.
inline constexpr uint32_t kSystemPinDisplay = 10;

// Control identifiers.
enum ControlId : int {
  kIdKindList = 1001,
  kIdUsername = 1002,
  kIdCode = 1003,
  kIdKindGroup = 1004,
  kIdTokenList = 1005,
  kIdCodeLabel = 1006,
  kIdInstruction = 1007,
  kIdTokenLabel = 1008,
  kIdServerPin = 1009,
  kIdCreatePin = 1010,
  kIdPin = 1011,
  kIdConfirm = 1012,
  kIdNextCode = 1013,
  kIdPinInstruction = 1014,
  kIdSystemPinText = 1018,
  kIdTokenPassword = 1019,
};

inline constexpr std::size_t kUsernameMax = 31;
inline constexpr std::size_t kCodeMax = 16;
inline constexpr std::size_t kPasswordMax = 63;

int PasscodeDialog(PROMPT_DATA& block);                                            // 101
int NewPinDialog(PROMPT_DATA& block);                                              // 102, 104
int NextCodeDialog(PROMPT_DATA& block);                                            // 103
int TokenPasswordDialog(PROMPT_DATA& block, bool numeric, std::string& password);  // 105

// A message box with the library's caption; its time-out follows the block's
// time-out flag. Returns the ui layer's answer.
int PromptMessage(const PROMPT_DATA& block, const std::string& text, uint32_t style,
                  uint32_t timeoutSeconds);

// A dialog of the library: its template and caption, top-most when the block
// asks, and `timeoutSeconds` (restarted by activity) when the block's
// time-out flag is set, else no time-out.
ui::Dialog PromptDialog(const PROMPT_DATA& block, int templateId, const char* caption,
                        uint32_t timeoutSeconds);

// The result of a dialog for a back end's answer.
int DialogResult(int answer);

}  // namespace qv::prompt
