#include "promptdata.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstddef>

namespace {

TEST(PromptData, LayoutMatchesTheSharedBlock) {
  struct Offset {
    const char* name;
    size_t actual;
    size_t expected;
  } offsets[] = {
      {"wVersion", offsetof(PROMPT_DATA, wVersion), 0},
      {"bFlags", offsetof(PROMPT_DATA, bFlags), 2},
      {"hwndParent", offsetof(PROMPT_DATA, hwndParent), 4},
      {"dwTokenType", offsetof(PROMPT_DATA, dwTokenType), 8},
      {"dwPreferredType", offsetof(PROMPT_DATA, dwPreferredType), 12},
      {"iSoftToken", offsetof(PROMPT_DATA, iSoftToken), 16},
      {"dwServerTime", offsetof(PROMPT_DATA, dwServerTime), 20},
      {"dwNewPinStatus", offsetof(PROMPT_DATA, dwNewPinStatus), 24},
      {"szUsername", offsetof(PROMPT_DATA, szUsername), 28},
      {"szPasscode", offsetof(PROMPT_DATA, szPasscode), 62},
      {"szNextCode", offsetof(PROMPT_DATA, szNextCode), 80},
      {"szOldPin", offsetof(PROMPT_DATA, szOldPin), 98},
      {"szNewPin", offsetof(PROMPT_DATA, szNewPin), 116},
      {"szSpareCode", offsetof(PROMPT_DATA, szSpareCode), 134},
      {"szTokencode", offsetof(PROMPT_DATA, szTokencode), 152},
      {"bMinPinLen", offsetof(PROMPT_DATA, bMinPinLen), 170},
      {"bMaxPinLen", offsetof(PROMPT_DATA, bMaxPinLen), 171},
      {"bPinSelectable", offsetof(PROMPT_DATA, bPinSelectable), 172},
      {"bAlphanumeric", offsetof(PROMPT_DATA, bAlphanumeric), 173},
      {"szSystemPin", offsetof(PROMPT_DATA, szSystemPin), 174},
      {"dwTokenCount", offsetof(PROMPT_DATA, dwTokenCount), 212},
      {"dwDefaultToken", offsetof(PROMPT_DATA, dwDefaultToken), 216},
      {"hTokenService", offsetof(PROMPT_DATA, hTokenService), 220},
      {"cbTokenList", offsetof(PROMPT_DATA, cbTokenList), 224},
      {"pTokenList", offsetof(PROMPT_DATA, pTokenList), 228},
  };
  for (const Offset& o : offsets) EXPECT_EQ(o.actual, o.expected) << o.name;
  EXPECT_EQ(sizeof(PROMPT_DATA), 232u);
  EXPECT_EQ(sizeof(PROMPT_DATA::pTokenList), 4u);
}

TEST(PromptData, LibraryExportsTheOperationsByName) {
  void* library = dlopen(PROMPTUI_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name : {"qvAuthDlg", "qvPinDlg", "qvNextDlg", "PROMPTUI_Init", "PROMPTUI_Check",
                           "PROMPTUI_Pin", "PROMPTUI_Next", "PROMPTUI_Close"}) {
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  }
  // Internal helpers stay private to the library.
  EXPECT_EQ(dlsym(library, "_ZN2qv6prompt14PasscodeDialogER11PROMPT_DATA"), nullptr);
  dlclose(library);
}

}  // namespace
