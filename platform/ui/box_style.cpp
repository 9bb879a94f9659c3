#include "platform/ui/box_style.h"

#include "platform/ui/ui.h"

namespace qv::ui::internal {

std::vector<int> BoxButtons(uint32_t style) {
  switch (style & kMbButtonsMask) {
    case kMbOkCancel:
      return {kIdOk, kIdCancel};
    case kMbAbortRetryIgnore:
      return {kIdAbort, kIdRetry, kIdIgnore};
    case kMbYesNoCancel:
      return {kIdYes, kIdNo, kIdCancel};
    case kMbYesNo:
      return {kIdYes, kIdNo};
    case kMbRetryCancel:
      return {kIdRetry, kIdCancel};
    default:
      return {kIdOk};
  }
}

int BoxDefaultButton(uint32_t style) {
  std::vector<int> buttons = BoxButtons(style);
  size_t index = 0;
  if ((style & kMbDefButtonMask) == kMbDefButton2) index = 1;
  if ((style & kMbDefButtonMask) == kMbDefButton3) index = 2;
  return index < buttons.size() ? buttons[index] : buttons[0];
}

const char* ButtonText(int id) {
  switch (id) {
    case kIdOk:
      return "OK";
    case kIdCancel:
      return "Cancel";
    case kIdAbort:
      return "Abort";
    case kIdRetry:
      return "Retry";
    case kIdIgnore:
      return "Ignore";
    case kIdYes:
      return "Yes";
    case kIdNo:
      return "No";
    default:
      return "?";
  }
}

}  // namespace qv::ui::internal
