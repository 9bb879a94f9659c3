// The prompt library's string table.
#pragma once

#include <string>

namespace qv::prompt {

enum MessageId : int {
  kMsgPinMismatch = 20001,
  kMsgPinRangeChars = 20002,
  kMsgPinRangeDigits = 20003,
  kMsgPinExactChars = 20004,
  kMsgPinExactDigits = 20005,
  kMsgSystemPinConfirm = 20006,
  kMsgNewPinShow = 20007,
  kMsgEnterUsername = 20008,
  kMsgEnterCode = 20009,
  kMsgEnterNextCode = 20010,
  kMsgSelectTokenFailed = 20011,
  kMsgTokencodeFailed = 20012,
  kMsgNewPinModeFailed = 20013,
  kMsgInvalidPassword = 20014,
  kMsgSelectSoftToken = 30001,
  kMsgCardKind = 30004,
  kMsgSoftTokenKind = 30005,
  kMsgCardInstruction = 30007,
  kMsgSoftTokenInstruction = 30008,
  kMsgEnterPasscodeLabel = 30010,
  kMsgEnterPinLabel = 30011,
  kMsgNewPinRangeChars = 30012,
  kMsgNewPinRangeDigits = 30013,
  kMsgNewPinExactChars = 30014,
  kMsgNewPinExactDigits = 30015,
};

// The text of a message; "" for an unknown number.
const char* MessageText(int id);

// The text with its %d or %s conversions filled, in order, from the
// arguments (unused arguments are ignored, missing ones read as 0 or "").
std::string FormatMessageInts(int id, int first, int second = 0);
std::string FormatMessageText(int id, const std::string& text);

// Caption of the library's message boxes and of the passcode dialog.
inline constexpr const char* kCaption = "Vexa Quillon Authentication";

}  // namespace qv::prompt
