#include "prompt/messages.h"

namespace qv::prompt {
namespace {

struct Entry {
  int id;
  const char* text;
};

constexpr Entry kTable[] = {
    {kMsgPinMismatch, "PIN and confirmation do not match."},
    {kMsgPinRangeChars, "PIN must be %d to %d characters."},
    {kMsgPinRangeDigits, "PIN must be %d to %d digits."},
    {kMsgPinExactChars, "PIN must be %d characters."},
    {kMsgPinExactDigits, "PIN must be %d digits."},
    {kMsgSystemPinConfirm, "PIN will be displayed for 10 seconds.\n\nAre you sure?"},
    {kMsgNewPinShow, "New PIN: %s"},
    {kMsgEnterUsername, "Enter a valid username."},
    {kMsgEnterCode, "Enter a code in the field."},
    {kMsgEnterNextCode, "Enter the next code."},
    {kMsgSelectTokenFailed, "SelectToken operation failed.\nError: %d"},
    {kMsgTokencodeFailed, "Tokencode generation failed.\nError: %d"},
    {kMsgNewPinModeFailed, "New PIN mode call failed.\nError: %d"},
    {kMsgInvalidPassword, "Invalid password."},
    {kMsgSelectSoftToken, "Select a software token :"},
    {kMsgCardKind, "Vexa Quillon Card"},
    {kMsgSoftTokenKind, "Vexa Quillon Software Token"},
    {kMsgCardInstruction, "Enter your PASSCODE to authenticate with your Vexa Quillon card."},
    {kMsgSoftTokenInstruction, "Enter your Vexa Quillon Software Token PIN to authenticate."},
    {kMsgEnterPasscodeLabel, "Enter PASSCODE."},
    {kMsgEnterPinLabel, "Enter PIN."},
    {kMsgNewPinRangeChars, "Enter a new PIN that has at least %d but no more than %d characters."},
    {kMsgNewPinRangeDigits, "Enter a new PIN that has at least %d but no more than %d digits."},
    {kMsgNewPinExactChars, "Enter a new PIN that has %d characters."},
    {kMsgNewPinExactDigits, "Enter a new PIN that has %d digits."},
};

// Replaces each "%d" with the next number and "%s" with the text; the table's
// formats are fixed, so no printf is run on them.
std::string Fill(const char* format, const int* numbers, int count, const std::string& text) {
  std::string out;
  int next = 0;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 'd') {
      out += std::to_string(next < count ? numbers[next] : 0);
      ++next;
      ++p;
    } else if (p[0] == '%' && p[1] == 's') {
      out += text;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

const char* MessageText(int id) {
  for (const Entry& e : kTable) {
    if (e.id == id) return e.text;
  }
  return "";
}

std::string FormatMessageInts(int id, int first, int second) {
  const int numbers[2] = {first, second};
  return Fill(MessageText(id), numbers, 2, "");
}

std::string FormatMessageText(int id, const std::string& text) {
  return Fill(MessageText(id), nullptr, 0, text);
}

}  // namespace qv::prompt
