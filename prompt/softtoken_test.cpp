// The software-token steps against a stand-in token library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "prompt/dialogs.h"
#include "prompt/testing/fake_backend.h"
#include "prompt/testing/fake_tokenpad32.h"
#include "prompt/tokenpad_binding.h"
#include "promptui.h"

namespace qv::prompt {
namespace {

using testing::Answer;
using testing::ChoiceOf;
using testing::FakeBackend;
using testing::FieldOf;
using testing::TextOf;

constexpr uint32_t kServerTime = 1800000000u;

class SoftTokenTest : public ::testing::Test {
 protected:
  void SetUp() override { Use(FAKE_TOKENPAD_PATH); }

  void Use(const char* path) {
    UnbindTokenpad();
    setenv("TAVRIK_TOKENPAD_LIBRARY", path, 1);
    library_ = dlopen(FAKE_TOKENPAD_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    auto state = reinterpret_cast<FakeTokenpadState* (*)()>(dlsym(library_, "FakeTokenpad_State"));
    fake_ = state();
    std::memset(fake_, 0, sizeof *fake_);
    fake_->majorVersion = 4;
    fake_->tokenCount = 2;
    fake_->defaultToken = 1;
    std::strcpy(fake_->names[0], "first");
    std::strcpy(fake_->serials[0], "000111");
    std::strcpy(fake_->selectors[0], "sel-first");
    std::strcpy(fake_->names[1], "second");
    std::strcpy(fake_->serials[1], "000222");
    std::strcpy(fake_->selectors[1], "sel-second");
    std::strcpy(fake_->tokencode, "123456");
    std::strcpy(fake_->nextTokencode, "654321");
  }

  void TearDown() override {
    UnbindTokenpad();
    unsetenv("TAVRIK_TOKENPAD_LIBRARY");
    if (library_ != nullptr) dlclose(library_);
  }

  PROMPT_DATA Block(uint8_t flags = 10) {
    PROMPT_DATA b;
    std::memset(&b, 0, sizeof b);
    b.wVersion = 1;
    b.bFlags = flags;
    std::strcpy(b.szUsername, "alice");
    b.dwServerTime = kServerTime;
    EXPECT_EQ(PROMPTUI_Init(&b), 0);
    return b;
  }

  // Passcode prompt answered with the software token `index` and PIN `pin`.
  static FakeBackend::DialogHandler SoftAnswer(int index, const char* pin) {
    return Answer(qv::ui::kIdOk, {{kIdCode, pin}},
                  {{kIdKindList, PROMPT_TOKEN_SOFT}, {kIdTokenList, index}});
  }

  void* library_ = nullptr;
  FakeTokenpadState* fake_ = nullptr;
};

TEST_F(SoftTokenTest, InitOpensTheServiceUnlessAnOldLibraryIsNotWanted) {
  struct Case {
    uint32_t version;
    uint8_t flags;
    bool opened;
  } cases[] = {
      {4, 10, true},
      {4, 14, true},  // version 4 and later ignore the flag
      {3, 10, true},
      {3, 14, false},  // older library, software tokens not requested
  };
  for (const Case& c : cases) {
    Use(FAKE_TOKENPAD_PATH);
    fake_->majorVersion = c.version;
    PROMPT_DATA b = Block(c.flags);
    EXPECT_EQ(b.hTokenService != 0, c.opened) << c.version << "/" << int(c.flags);
    EXPECT_EQ(b.iSoftToken, -1);
    PROMPTUI_Close(&b);
  }
}

TEST_F(SoftTokenTest, MissingOrIncompleteLibraryOffersOnlyTheCard) {
  for (const char* path : {"/nonexistent/libtokenpad32.so", FAKE_TOKENPAD_INCOMPLETE_PATH}) {
    Use(path);
    FakeBackend ui;
    PROMPT_DATA b = Block();
    EXPECT_EQ(b.hTokenService, 0u);
    ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdCode, "11112222"}}));
    EXPECT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_OK) << path;
    EXPECT_STREQ(b.szPasscode, "11112222");
    EXPECT_EQ(ChoiceOf(ui.shownDialogs[0], kIdKindList)->items.size(), 1u);
    EXPECT_EQ(fake_->openCalls, 0);
    PROMPTUI_Close(&b);
  }
}

TEST_F(SoftTokenTest, ListedTokensOpenOnTheDefaultToken) {
  FakeBackend ui;
  PROMPT_DATA b = Block();
  ui.OnDialog(Answer(qv::ui::kIdCancel));
  EXPECT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_CANCEL);
  EXPECT_EQ(b.dwTokenType, 3u);
  EXPECT_EQ(b.dwTokenCount, 2u);
  EXPECT_EQ(b.cbTokenList, 2u * 124u);
  EXPECT_NE(b.pTokenList, 0u);
  qv::ui::Dialog& d = ui.shownDialogs[0];
  qv::ui::Choice& kind = *ChoiceOf(d, kIdKindList);
  ASSERT_EQ(kind.items.size(), 2u);
  EXPECT_EQ(kind.items[kind.selected].text, "Vexa Quillon Software Token");
  qv::ui::Choice& tokens = *ChoiceOf(d, kIdTokenList);
  EXPECT_TRUE(tokens.visible);
  EXPECT_EQ(tokens.label, "Select a software token :");
  ASSERT_EQ(tokens.items.size(), 2u);
  EXPECT_EQ(tokens.items[0].text, "first - 000111");
  EXPECT_EQ(tokens.items[tokens.selected].text, "second - 000222");
  EXPECT_EQ(TextOf(d, kIdInstruction)->text,
            "Enter your Vexa Quillon Software Token PIN to authenticate.");
  EXPECT_EQ(FieldOf(d, kIdCode)->label, "Enter PIN.");

  PROMPTUI_Close(&b);
  EXPECT_EQ(b.pTokenList, 0u);
  EXPECT_EQ(b.hTokenService, 0u);
  EXPECT_EQ(fake_->closeCalls, 1);
}

TEST_F(SoftTokenTest, PasscodeComesFromTheTokenWithTheServerTime) {
  FakeBackend ui;
  PROMPT_DATA b = Block();
  ui.OnDialog(SoftAnswer(0, "1111"));
  EXPECT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_OK);
  EXPECT_EQ(b.dwTokenType, 2u);
  EXPECT_EQ(b.dwPreferredType, 2u);
  EXPECT_EQ(b.iSoftToken, 0);
  EXPECT_STREQ(fake_->lastName, "first");
  EXPECT_STREQ(fake_->lastSelector, "sel-first");
  EXPECT_TRUE(fake_->lastPasswordNull);
  EXPECT_EQ(fake_->setTimeCalls, 1);
  EXPECT_GE(fake_->lastTime, kServerTime);
  EXPECT_LT(fake_->lastTime, kServerTime + 600);
  EXPECT_STREQ(fake_->lastPin, "1111");
  EXPECT_STREQ(b.szPasscode, "124567");
  EXPECT_STREQ(b.szTokencode, "123456");
  EXPECT_STREQ(b.szOldPin, "1111");
  EXPECT_TRUE(ui.shownBoxes.empty());

  // The next tokencode was computed by the same call: no dialog.
  EXPECT_EQ(PROMPTUI_Next(&b), PROMPT_RESULT_OK);
  EXPECT_STREQ(b.szPasscode, "655432");
  EXPECT_EQ(ui.shownDialogs.size(), 1u);
  PROMPTUI_Close(&b);
}

TEST_F(SoftTokenTest, NoServerTimeLeavesTheTokenClockAlone) {
  FakeBackend ui;
  PROMPT_DATA b = Block();
  b.dwServerTime = 0;
  ui.OnDialog(SoftAnswer(1, "1"));
  EXPECT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_OK);
  EXPECT_EQ(fake_->setTimeCalls, 0);
  PROMPTUI_Close(&b);
}

TEST_F(SoftTokenTest, PasswordIsAskedAtMostThreeTimes) {
  struct Case {
    const char* mode;
    int wrongAnswers;
    int result;
  } cases[] = {
      {"PASSWORD", 0, PROMPT_RESULT_OK},
      {"NPASSWORD", 2, PROMPT_RESULT_OK},
      {"PASSWORD", 3, PROMPT_RESULT_TIMEOUT},
  };
  for (const Case& c : cases) {
    Use(FAKE_TOKENPAD_PATH);
    std::strcpy(fake_->modes[0], c.mode);
    std::strcpy(fake_->password, "2468");
    FakeBackend ui;
    PROMPT_DATA b = Block();
    ui.OnDialog(SoftAnswer(0, "1111"));
    for (int i = 0; i < c.wrongAnswers; ++i) {
      ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdTokenPassword, "1357"}}));
    }
    if (c.wrongAnswers < 3) ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdTokenPassword, "2468"}}));
    EXPECT_EQ(PROMPTUI_Check(&b), c.result) << c.mode << " " << c.wrongAnswers;

    int tries = c.wrongAnswers < 3 ? c.wrongAnswers + 1 : 3;
    ASSERT_EQ(ui.shownDialogs.size(), static_cast<size_t>(1 + tries));
    const qv::ui::Dialog& password = ui.shownDialogs[1];
    EXPECT_EQ(password.templateId, 105);
    EXPECT_EQ(password.caption, "Enter Password");
    EXPECT_EQ(password.timeoutSeconds, 180u);
    EXPECT_EQ(password.fields[0].numericOnly, std::string(c.mode) == "NPASSWORD");
    EXPECT_EQ(fake_->selectCalls, tries);
    ASSERT_EQ(ui.shownBoxes.size(), static_cast<size_t>(c.wrongAnswers));
    for (const auto& box : ui.shownBoxes) EXPECT_EQ(box.text, "Invalid password.");
    PROMPTUI_Close(&b);
  }
}

TEST_F(SoftTokenTest, PasswordPromptNotConfirmedCancels) {
  std::strcpy(fake_->modes[0], "PASSWORD");
  FakeBackend ui;
  PROMPT_DATA b = Block();
  ui.OnDialog(SoftAnswer(0, "1111"));
  ui.OnDialog(Answer(qv::ui::kIdCancel));
  EXPECT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_CANCEL);
  EXPECT_EQ(fake_->selectCalls, 0);
  PROMPTUI_Close(&b);
}

TEST_F(SoftTokenTest, TokenFailuresShowTheLibraryError) {
  struct Case {
    uint32_t selectError;
    int passcodeFails;
    const char* message;
  } cases[] = {
      {TOKENPAD_ERR_NO_FILE, 0, "SelectToken operation failed.\nError: 3"},
      {0, 1, "Tokencode generation failed.\nError: 6"},
  };
  for (const Case& c : cases) {
    Use(FAKE_TOKENPAD_PATH);
    fake_->selectError = c.selectError;
    fake_->passcodeFails = c.passcodeFails;
    FakeBackend ui;
    PROMPT_DATA b = Block();
    ui.OnDialog(SoftAnswer(0, "1111"));
    EXPECT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_TIMEOUT);
    ASSERT_EQ(ui.shownBoxes.size(), 1u);
    EXPECT_EQ(ui.shownBoxes[0].text, c.message);
    EXPECT_EQ(ui.shownBoxes[0].style & qv::ui::kMbIconMask, qv::ui::kMbIconStop);
    PROMPTUI_Close(&b);
  }
}

TEST_F(SoftTokenTest, AcceptedNewPinGivesThePasscodeWithoutADialog) {
  FakeBackend ui;
  PROMPT_DATA b = Block();
  ui.OnDialog(SoftAnswer(0, "1111"));
  ASSERT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_OK);

  b.bMinPinLen = 2;
  b.bMaxPinLen = 8;
  b.bPinSelectable = 2;
  ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdPin, "22"}, {kIdConfirm, "22"}}));
  ASSERT_EQ(PROMPTUI_Pin(&b), PROMPT_RESULT_OK);
  EXPECT_STREQ(fake_->newPinFrom, "1111");
  EXPECT_STREQ(fake_->newPinTo, "22");

  b.dwNewPinStatus = PROMPT_NEWPIN_ACCEPTED;
  EXPECT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_OK);
  EXPECT_EQ(ui.shownDialogs.size(), 2u);
  EXPECT_EQ(b.dwNewPinStatus, 0u);
  // Tokencode 123456 with PIN 22: the leading digits stay.
  EXPECT_STREQ(b.szPasscode, "123478");
  PROMPTUI_Close(&b);
}

TEST_F(SoftTokenTest, RejectedNewPinPutsTheOldPinBackFirst) {
  FakeBackend ui;
  PROMPT_DATA b = Block();
  ui.OnDialog(SoftAnswer(0, "1111"));
  ASSERT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_OK);
  std::strcpy(b.szNewPin, "9999");  // the PIN the server refused
  b.dwNewPinStatus = PROMPT_NEWPIN_REJECTED;
  ui.OnDialog(Answer(qv::ui::kIdCancel));
  EXPECT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_CANCEL);
  EXPECT_EQ(fake_->newPinCalls, 1);
  EXPECT_STREQ(fake_->newPinFrom, "9999");
  EXPECT_STREQ(fake_->newPinTo, "1111");
  EXPECT_EQ(ui.shownDialogs.size(), 2u);  // then the passcode prompt

  // When the token refuses, the operation ends without a prompt.
  fake_->newPinFails = 1;
  b.dwTokenType = PROMPT_TOKEN_SOFT;
  b.dwNewPinStatus = PROMPT_NEWPIN_REJECTED;
  EXPECT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_CANCEL);
  EXPECT_EQ(b.dwNewPinStatus, 0u);
  ASSERT_EQ(ui.shownBoxes.size(), 1u);
  EXPECT_EQ(ui.shownBoxes[0].text, "New PIN mode call failed.\nError: 7");
  EXPECT_EQ(ui.shownDialogs.size(), 2u);
  PROMPTUI_Close(&b);
}

TEST_F(SoftTokenTest, TokenRefusingTheNewPinCancels) {
  FakeBackend ui;
  PROMPT_DATA b = Block();
  ui.OnDialog(SoftAnswer(0, "1111"));
  ASSERT_EQ(PROMPTUI_Check(&b), PROMPT_RESULT_OK);
  fake_->newPinFails = 1;
  b.bMinPinLen = 4;
  b.bMaxPinLen = 4;
  b.bPinSelectable = 2;
  ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdPin, "2222"}, {kIdConfirm, "2222"}}));
  EXPECT_EQ(PROMPTUI_Pin(&b), PROMPT_RESULT_CANCEL);
  ASSERT_EQ(ui.shownBoxes.size(), 1u);
  EXPECT_EQ(ui.shownBoxes[0].text, "New PIN mode call failed.\nError: 7");
  PROMPTUI_Close(&b);
}

TEST_F(SoftTokenTest, ListSizeBeyondTheBufferIsNotRead) {
  // The library claims more tokens than its list holds.
  fake_->tokenCount = 1;
  FakeBackend ui;
  PROMPT_DATA b = Block();
  ui.OnDialog(Answer(qv::ui::kIdCancel));
  (void)PROMPTUI_Check(&b);
  b.dwTokenCount = 5;
  ui.OnDialog(Answer(qv::ui::kIdCancel));
  (void)qvAuthDlg(&b);
  EXPECT_EQ(ChoiceOf(ui.shownDialogs[1], kIdTokenList)->items.size(), 1u);
  PROMPTUI_Close(&b);
}

}  // namespace
}  // namespace qv::prompt
