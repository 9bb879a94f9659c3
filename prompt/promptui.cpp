// The exported operations and the software-token steps around the dialogs.
#include "promptui.h"

#include <chrono>
#include <string>
#include <vector>

#include "platform/ui/ui.h"
#include "prompt/block_text.h"
#include "prompt/dialogs.h"
#include "prompt/messages.h"
#include "prompt/passcode_math.h"
#include "prompt/token_list.h"
#include "prompt/tokenpad_binding.h"

#define PROMPTUI_EXPORT extern "C" __attribute__((visibility("default")))

namespace qv::prompt {
namespace {

// Token errors that mean a wrong password.
constexpr unsigned kWrongPassword = 21;
constexpr unsigned kWrongPasswordOther = 216;
constexpr int kPasswordTries = 3;

bool ServiceOpen(const PROMPT_DATA& block) {
  return CurrentTokenpad().Bound() && block.hTokenService != 0;
}

void ShowTokenError(const PROMPT_DATA& block, int message) {
  (void)PromptMessage(block,
                      FormatMessageInts(message, static_cast<int>(TokenError(block.hTokenService))),
                      ui::kMbOk | ui::kMbIconStop, kPasscodeTimeout);
}

void ListTokens(PROMPT_DATA& block) {
  const TokenpadBinding& tp = CurrentTokenpad();
  FreeTokenList(block);
  block.cbTokenList = 0;
  std::vector<uint8_t> list;
  if (tp.enumToken(block.hTokenService, &block.dwTokenCount, &block.dwDefaultToken, nullptr,
                   &block.cbTokenList) == 0) {
    if (block.cbTokenList == 0 || block.cbTokenList > kMaxTokenListBytes) {
      block.dwTokenCount = 0;
      block.cbTokenList = 0;
      return;
    }
    list.assign(block.cbTokenList, 0);
    if (tp.enumToken(block.hTokenService, &block.dwTokenCount, &block.dwDefaultToken, list.data(),
                     &block.cbTokenList) == 0) {
      block.dwTokenCount = 0;
      block.cbTokenList = 0;
      return;
    }
    // The library may report a smaller size the second time, never a larger.
    if (block.cbTokenList > list.size()) block.cbTokenList = static_cast<uint32_t>(list.size());
  }
  StoreTokenList(block, std::move(list));
  block.dwTokenType = PROMPT_TOKEN_CARD_AND_SOFT;
}

// Selects the chosen token, asking for its password when it has one.
// 1 selected, 2 password prompt not answered with OK, 3 failed.
int SelectChosenToken(PROMPT_DATA& block) {
  const TokenpadBinding& tp = CurrentTokenpad();
  std::vector<TokenEntry> entries = TokenEntries(block);
  if (block.iSoftToken < 0 || static_cast<size_t>(block.iSoftToken) >= entries.size()) {
    (void)PromptMessage(block, FormatMessageInts(kMsgSelectTokenFailed, TOKENPAD_ERR_NO_TOKEN),
                        ui::kMbOk | ui::kMbIconStop, kPasscodeTimeout);
    return PROMPT_RESULT_TIMEOUT;
  }
  const TokenEntry& entry = entries[static_cast<size_t>(block.iSoftToken)];
  const bool needsPassword = entry.passwordMode == "PASSWORD" || entry.passwordMode == "NPASSWORD";
  for (int attempt = 1;; ++attempt) {
    std::string password;
    if (needsPassword) {
      int r = TokenPasswordDialog(block, entry.passwordMode == "NPASSWORD", password);
      if (r != PROMPT_RESULT_OK) return PROMPT_RESULT_CANCEL;
    }
    int selected = tp.selectToken(block.hTokenService, entry.text.c_str(), entry.selector.c_str(),
                                  needsPassword ? password.c_str() : nullptr);
    WipeString(password);
    if (selected != 0) return PROMPT_RESULT_OK;
    unsigned error = TokenError(block.hTokenService);
    if (error != kWrongPassword && error != kWrongPasswordOther) {
      (void)PromptMessage(block, FormatMessageInts(kMsgSelectTokenFailed, static_cast<int>(error)),
                          ui::kMbOk | ui::kMbIconStop, kPasscodeTimeout);
      return PROMPT_RESULT_TIMEOUT;
    }
    (void)PromptMessage(block, MessageText(kMsgInvalidPassword), ui::kMbOk | ui::kMbIconStop,
                        kPasscodeTimeout);
    if (attempt >= kPasswordTries) return PROMPT_RESULT_TIMEOUT;
  }
}

int Check(PROMPT_DATA& block) {
  const TokenpadBinding& tp = CurrentTokenpad();
  if (block.dwTokenType == PROMPT_TOKEN_SOFT) {
    if (block.dwNewPinStatus == PROMPT_NEWPIN_ACCEPTED) {
      std::string passcode =
          CombineTokencodeAndPin(ReadText(block.szTokencode), ReadText(block.szNewPin));
      if (!passcode.empty()) WriteText(block.szPasscode, passcode);
      WipeString(passcode);
      block.dwNewPinStatus = PROMPT_NEWPIN_NONE;
      return PROMPT_RESULT_OK;
    }
    if (block.dwNewPinStatus == PROMPT_NEWPIN_REJECTED && ServiceOpen(block)) {
      // Put the PIN the token held before back.
      if (tp.newPinMode(block.hTokenService, block.szNewPin, block.szOldPin) == 0) {
        ShowTokenError(block, kMsgNewPinModeFailed);
        block.dwNewPinStatus = PROMPT_NEWPIN_NONE;
        return PROMPT_RESULT_CANCEL;
      }
    }
  }
  block.dwTokenType = PROMPT_TOKEN_CARD;
  block.dwNewPinStatus = PROMPT_NEWPIN_NONE;
  if (ServiceOpen(block)) {
    ListTokens(block);
  } else {
    block.dwTokenCount = 0;
  }

  const auto shownAt = std::chrono::steady_clock::now();
  int result = PasscodeDialog(block);
  if (result != PROMPT_RESULT_OK || block.dwTokenType != PROMPT_TOKEN_SOFT) return result;
  if (!ServiceOpen(block)) return PROMPT_RESULT_TIMEOUT;

  int selected = SelectChosenToken(block);
  if (selected != PROMPT_RESULT_OK) return selected;
  if (block.dwServerTime != 0) {
    auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - shownAt);
    tp.setTokenTime(block.hTokenService,
                    block.dwServerTime + static_cast<uint32_t>(elapsed.count()));
  }
  if (tp.getPasscode(block.hTokenService, block.szNewPin, block.szPasscode, block.szNextCode,
                     block.szSpareCode, block.szTokencode) == 0) {
    ShowTokenError(block, kMsgTokencodeFailed);
    return PROMPT_RESULT_TIMEOUT;
  }
  // The library writes into the block's fields: keep them terminated.
  for (char* field : {block.szPasscode, block.szNextCode, block.szSpareCode, block.szTokencode}) {
    field[PROMPT_CODE_SIZE - 1] = '\0';
  }
  WriteText(block.szOldPin, ReadText(block.szNewPin));
  return PROMPT_RESULT_OK;
}

int Pin(PROMPT_DATA& block) {
  int result = NewPinDialog(block);
  if (result == PROMPT_RESULT_OK && block.dwTokenType == PROMPT_TOKEN_SOFT && ServiceOpen(block)) {
    if (CurrentTokenpad().newPinMode(block.hTokenService, block.szOldPin, block.szNewPin) == 0) {
      ShowTokenError(block, kMsgNewPinModeFailed);
      return PROMPT_RESULT_CANCEL;
    }
  }
  return result;
}

int Next(PROMPT_DATA& block) {
  if (block.dwTokenType == PROMPT_TOKEN_SOFT) {
    WriteText(block.szPasscode, ReadText(block.szNextCode));
    return PROMPT_RESULT_OK;
  }
  return NextCodeDialog(block);
}

}  // namespace
}  // namespace qv::prompt

using namespace qv::prompt;

PROMPTUI_EXPORT int32_t qvAuthDlg(PROMPT_DATA* block) {
  return block != nullptr ? PasscodeDialog(*block) : PROMPT_RESULT_CANCEL;
}

PROMPTUI_EXPORT int32_t qvPinDlg(PROMPT_DATA* block) {
  return block != nullptr ? NewPinDialog(*block) : PROMPT_RESULT_CANCEL;
}

PROMPTUI_EXPORT int32_t qvNextDlg(PROMPT_DATA* block) {
  return block != nullptr ? NextCodeDialog(*block) : PROMPT_RESULT_CANCEL;
}

PROMPTUI_EXPORT int32_t PROMPTUI_Init(PROMPT_DATA* block) {
  if (block == nullptr) return 0;
  const TokenpadBinding& tp = BindTokenpad();
  if (tp.Bound()) {
    if (!tp.version4 && (block->bFlags & PROMPT_FLAG_NO_SOFTTOKEN)) {
      block->hTokenService = 0;
    } else if (tp.openTokenService(&block->hTokenService) == 0) {
      block->hTokenService = 0;
    }
  }
  block->iSoftToken = -1;
  return 0;
}

PROMPTUI_EXPORT int32_t PROMPTUI_Check(PROMPT_DATA* block) {
  return block != nullptr ? Check(*block) : PROMPT_RESULT_CANCEL;
}

PROMPTUI_EXPORT int32_t PROMPTUI_Pin(PROMPT_DATA* block) {
  return block != nullptr ? Pin(*block) : PROMPT_RESULT_CANCEL;
}

PROMPTUI_EXPORT int32_t PROMPTUI_Next(PROMPT_DATA* block) {
  return block != nullptr ? Next(*block) : PROMPT_RESULT_CANCEL;
}

PROMPTUI_EXPORT void PROMPTUI_Close(PROMPT_DATA* block) {
  if (block == nullptr) return;
  FreeTokenList(*block);
  const TokenpadBinding& tp = CurrentTokenpad();
  if (tp.Bound() && block->hTokenService != 0) {
    tp.closeTokenService(block->hTokenService);
    block->hTokenService = 0;
  }
}
