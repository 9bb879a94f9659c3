#include "tools/passprobe/direct_test.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "authclient/record.h"
#include "authclient/storefile.h"
#include "kelclient.h"
#include "promptui.h"
#include "tools/passprobe/probe.h"

namespace qv::probe {

namespace {

void FillBlock(PROMPT_DATA& block, const std::string& user) {
  if (block.wVersion != 0) return;
  std::memset(&block, 0, sizeof block);
  block.wVersion = 1;
  block.bFlags = PROMPT_FLAG_EDIT_USERNAME | PROMPT_FLAG_TIMEOUTS;
  // At most 33 characters: the field keeps its terminating zero.
  std::snprintf(block.szUsername, sizeof block.szUsername, "%.*s",
                static_cast<int>(sizeof block.szUsername - 1), user.c_str());
}

// The server's PIN rules into the block, as the server gave them.
void CopyPinRules(KEL_HANDLE handle, PROMPT_DATA& block) {
  KEL_PIN_PARAMS params{};
  (void)KelGetPinParams(handle, &params);
  block.bMinPinLen = params.cMinPinLen;
  block.bMaxPinLen = params.cMaxPinLen;
  block.bPinSelectable = params.bSelectable;
  block.bAlphanumeric = params.bAlphanumeric;
  std::snprintf(block.szSystemPin, sizeof block.szSystemPin, "%.*s",
                static_cast<int>(sizeof block.szSystemPin - 1), params.szSystemPin);
  std::memset(&params, 0, sizeof params);
}

void Wipe(char* text, size_t size) { std::memset(text, 0, size); }

}  // namespace

int DirectTest(PROMPT_DATA& block, const std::string& user) {
  FillBlock(block, user);
  (void)PROMPTUI_Init(&block);
  KEL_HANDLE handle = 0;
  if (QV_Init(&handle) != ACM_OK) {
    PROMPTUI_Close(&block);
    ShowMessage(kMsgNoServer, kIconStop);
    return 3;
  }
  uint32_t serverTime = 0;
  int64_t offset = 0;
  if (KelGetTime(handle, &serverTime) == ACM_OK)
    offset = static_cast<int64_t>(serverTime) - static_cast<int64_t>(std::time(nullptr));

  int result = 1;
  int failures = 0;
  bool done = false;
  while (!done && failures < 3) {
    block.dwServerTime = static_cast<uint32_t>(std::time(nullptr) + offset);
    int prompt = PROMPTUI_Check(&block);
    if (prompt == PROMPT_RESULT_CANCEL) {
      ShowMessage(kMsgDenied, kIconStop);
      break;
    }
    if (prompt != PROMPT_RESULT_OK) {
      ShowMessage(kMsgDialogFailed, kIconStop);
      result = 3;
      break;
    }
    int status = QV_Check(handle, block.szPasscode, block.szUsername);
    Wipe(block.szPasscode, sizeof block.szPasscode);
    if (status == ACM_NEXT_CODE_REQUIRED) {
      if (PROMPTUI_Next(&block) != PROMPT_RESULT_OK) break;  // ends silently
      status = QV_Next(handle, block.szNextCode);
      Wipe(block.szNextCode, sizeof block.szNextCode);
      if (status != ACM_OK) status = ACM_ACCESS_DENIED;
    }
    switch (status) {
      case ACM_OK:
        ShowMessage(kMsgSuccess, kIconInformation);
        result = 0;
        done = true;
        break;
      case ACM_ACCESS_DENIED:
      case ACM_SYNTAX_ERR_3:
        ShowMessage(kMsgDenied, kIconStop);
        ++failures;
        break;
      case ACM_NEW_PIN_REQUIRED: {
        CopyPinRules(handle, block);
        if (PROMPTUI_Pin(&block) != PROMPT_RESULT_OK) {
          (void)QV_Pin(handle, "");
          done = true;  // ends silently
          break;
        }
        int pin = QV_Pin(handle, block.szNewPin);
        Wipe(block.szNewPin, sizeof block.szNewPin);
        if (pin == ACM_NEW_PIN_ACCEPTED) {
          ShowMessage(kMsgPinAccepted, kIconInformation);
          block.dwNewPinStatus = PROMPT_NEWPIN_ACCEPTED;
        } else if (pin == ACM_NEW_PIN_REJECTED) {
          ShowMessage(kMsgPinRejected, kIconStop);
          block.dwNewPinStatus = PROMPT_NEWPIN_REJECTED;
        } else {
          ShowMessage(kMsgDenied, kIconStop);
        }
        break;  // the next passcode prompt follows
      }
      case ACM_INVALID_SERVER:
        ShowMessage(kMsgInvalidServer, kIconStop);
        ++failures;
        result = 3;
        break;
      default:
        ShowMessage(kMsgUnexpected, kIconExclamation);
        result = 3;
        done = true;
        break;
    }
  }
  (void)QV_Close(handle);
  PROMPTUI_Close(&block);
  return result;
}

bool ShowConfiguration() {
  const std::string dir = kel::StoreDir();
  kel::Store store;
  std::string error;
  if (kel::ReadStore(dir, &store, &error) != kel::StoreResult::kOk) {
    ShowMessage(kMsgCannotReadConf, kIconStop);
    return false;
  }
  std::printf("Vexa Quillon Authentication Information\n");
  std::printf("  Vexa KEL/Server Limits\n");
  std::printf("    Number of Bad Tokencodes:  %d (then the next tokencode is required)\n",
              store.settings.next_after);
  std::printf("    Disabled after failures:   %d\n", store.settings.disable_after);
  std::printf("    Time steps accepted:       %d either side (%d with a next tokencode)\n",
              store.settings.window, store.settings.far_window);
  std::printf("  Vexa KEL/Server Definitions\n");
  std::printf("    Service Name:              embedded token server\n");
  std::printf("    Token store:               %s\n", dir.c_str());
  std::printf("    Users:                     %zu\n", store.users.size());
  return true;
}

}  // namespace qv::probe
