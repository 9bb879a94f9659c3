// The dialogs' logic through an in-process back end.
#include "prompt/dialogs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "prompt/testing/fake_backend.h"
#include "promptui.h"

namespace qv::prompt {
namespace {

using testing::Answer;
using testing::ChoiceOf;
using testing::FakeBackend;
using testing::FieldOf;
using testing::TextOf;

PROMPT_DATA Block(uint8_t flags, const char* user = "alice") {
  PROMPT_DATA b;
  std::memset(&b, 0, sizeof b);
  b.wVersion = 1;
  b.bFlags = flags;
  b.iSoftToken = -1;
  std::strncpy(b.szUsername, user, sizeof b.szUsername - 1);
  return b;
}

// --- passcode dialog -------------------------------------------------------

TEST(PasscodeDialog, CardCodeGoesToThePasscode) {
  FakeBackend ui;
  PROMPT_DATA b = Block(10);
  ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdCode, "12345678"}}));
  EXPECT_EQ(qvAuthDlg(&b), PROMPT_RESULT_OK);
  EXPECT_STREQ(b.szPasscode, "12345678");
  EXPECT_EQ(b.dwTokenType, 1u);
  EXPECT_EQ(b.dwPreferredType, 1u);

  ASSERT_EQ(ui.shownDialogs.size(), 1u);
  qv::ui::Dialog& d = ui.shownDialogs[0];
  EXPECT_EQ(d.caption, "Vexa Quillon Authentication");
  EXPECT_EQ(TextOf(d, kIdKindGroup)->text, "Vexa Quillon Card");
  EXPECT_EQ(TextOf(d, kIdInstruction)->text,
            "Enter your PASSCODE to authenticate with your Vexa Quillon card.");
  EXPECT_EQ(FieldOf(d, kIdCode)->label, "Enter PASSCODE.");
  EXPECT_TRUE(FieldOf(d, kIdCode)->secret);
  EXPECT_EQ(FieldOf(d, kIdCode)->maxLength, 16u);
  EXPECT_TRUE(FieldOf(d, kIdUsername)->readOnly);
  EXPECT_EQ(d.focus, kIdCode);
  EXPECT_TRUE(d.topmost);
  EXPECT_EQ(d.timeoutSeconds, 120u);
  ASSERT_EQ(ChoiceOf(d, kIdKindList)->items.size(), 1u);  // no software tokens listed
  EXPECT_FALSE(ChoiceOf(d, kIdTokenList)->visible);
}

TEST(PasscodeDialog, MissingAnswersAreAskedForAgain) {
  struct Case {
    const char* user;
    const char* code;
    const char* message;
    int focus;
  } cases[] = {
      {"", "123456", "Enter a valid username.", kIdUsername},
      {"bob", "", "Enter a code in the field.", kIdCode},
  };
  for (const Case& c : cases) {
    FakeBackend ui;
    PROMPT_DATA b = Block(9, "");
    ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdUsername, c.user}, {kIdCode, c.code}}));
    ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdUsername, "bob"}, {kIdCode, "123456"}}));
    EXPECT_EQ(qvAuthDlg(&b), PROMPT_RESULT_OK);
    ASSERT_EQ(ui.shownBoxes.size(), 1u);
    EXPECT_EQ(ui.shownBoxes[0].text, c.message);
    EXPECT_EQ(ui.shownBoxes[0].style & qv::ui::kMbIconMask, qv::ui::kMbIconExclamation);
    EXPECT_EQ(ui.shownBoxes[0].caption, "Vexa Quillon Authentication");
    ASSERT_EQ(ui.shownDialogs.size(), 2u);
    EXPECT_EQ(ui.shownDialogs[0].focus, kIdUsername);  // editable and empty
    EXPECT_EQ(ui.shownDialogs[1].focus, c.focus);
    EXPECT_STREQ(b.szUsername, "bob");
    EXPECT_STREQ(b.szPasscode, "123456");
  }
}

TEST(PasscodeDialog, EndsWithCancelOrTimeOut) {
  struct Case {
    int answer;
    int box;  // 0: no message box
    int result;
  } cases[] = {
      {qv::ui::kIdCancel, 0, PROMPT_RESULT_CANCEL},
      {qv::ui::kIdClosed, 0, PROMPT_RESULT_CANCEL},
      {qv::ui::kIdTimedOut, 0, PROMPT_RESULT_TIMEOUT},
      // OK with an empty code, and the time-out reaches the message box.
      {qv::ui::kIdOk, qv::ui::kIdTimedOut, PROMPT_RESULT_TIMEOUT},
  };
  for (const Case& c : cases) {
    FakeBackend ui;
    PROMPT_DATA b = Block(10);
    ui.OnDialog(Answer(c.answer));
    if (c.box != 0) ui.OnBox(c.box);
    EXPECT_EQ(qvAuthDlg(&b), c.result) << c.answer;
    EXPECT_EQ(ui.shownDialogs.size(), 1u);
    EXPECT_STREQ(b.szPasscode, "");
  }
}

TEST(PasscodeDialog, WithoutTheTimeOutFlagWaitsWithoutLimit) {
  FakeBackend ui;
  PROMPT_DATA b = Block(1);
  ui.OnDialog(Answer(qv::ui::kIdCancel));
  EXPECT_EQ(qvAuthDlg(&b), PROMPT_RESULT_CANCEL);
  EXPECT_EQ(ui.shownDialogs[0].timeoutSeconds, 0u);
  EXPECT_FALSE(ui.shownDialogs[0].topmost);
  EXPECT_FALSE(FieldOf(ui.shownDialogs[0], kIdUsername)->readOnly);
}

TEST(PasscodeDialog, LongUserNamesAreCutToTheFieldAndStayTerminated) {
  FakeBackend ui;
  PROMPT_DATA b = Block(10);
  // A caller that filled all 34 bytes without a terminating zero.
  std::memset(b.szUsername, 'u', sizeof b.szUsername);
  ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdCode, "1"}}));
  EXPECT_EQ(qvAuthDlg(&b), PROMPT_RESULT_OK);
  EXPECT_EQ(FieldOf(ui.shownDialogs[0], kIdUsername)->value, std::string(31, 'u'));
  EXPECT_EQ(FieldOf(ui.shownDialogs[0], kIdUsername)->maxLength, 31u);
  EXPECT_EQ(std::string(b.szUsername), std::string(31, 'u'));

  // An editable name typed longer than the field.
  PROMPT_DATA e = Block(9, "");
  ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdUsername, std::string(40, 'x')}, {kIdCode, "1"}}));
  EXPECT_EQ(qvAuthDlg(&e), PROMPT_RESULT_OK);
  EXPECT_EQ(std::string(e.szUsername), std::string(31, 'x'));
}

// --- new PIN dialog --------------------------------------------------------

PROMPT_DATA PinBlock(int min, int max, int alpha, int selectable) {
  PROMPT_DATA b = Block(10);
  b.bMinPinLen = static_cast<int8_t>(min);
  b.bMaxPinLen = static_cast<int8_t>(max);
  b.bAlphanumeric = static_cast<uint8_t>(alpha);
  b.bPinSelectable = static_cast<uint8_t>(selectable);
  std::strcpy(b.szSystemPin, "87654321");
  return b;
}

TEST(NewPinDialog, RuleTextsFollowThePinParameters) {
  struct Case {
    int min, max, alpha;
    const char* instruction;
    const char* error;
  } cases[] = {
      {4, 8, 0, "Enter a new PIN that has at least 4 but no more than 8 digits.",
       "PIN must be 4 to 8 digits."},
      {4, 8, 1, "Enter a new PIN that has at least 4 but no more than 8 characters.",
       "PIN must be 4 to 8 characters."},
      {6, 6, 0, "Enter a new PIN that has 6 digits.", "PIN must be 6 digits."},
      {6, 6, 1, "Enter a new PIN that has 6 characters.", "PIN must be 6 characters."},
  };
  for (const Case& c : cases) {
    FakeBackend ui;
    PROMPT_DATA b = PinBlock(c.min, c.max, c.alpha, 2);
    // Too short, then a good PIN.
    ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdPin, "12"}, {kIdConfirm, "12"}}));
    ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdPin, "123456"}, {kIdConfirm, "123456"}}));
    EXPECT_EQ(qvPinDlg(&b), PROMPT_RESULT_OK);
    EXPECT_STREQ(b.szNewPin, "123456");
    ASSERT_EQ(ui.shownDialogs.size(), 2u);
    EXPECT_EQ(TextOf(ui.shownDialogs[0], kIdPinInstruction)->text, c.instruction);
    ASSERT_EQ(ui.shownBoxes.size(), 1u);
    EXPECT_EQ(ui.shownBoxes[0].text, c.error);
    EXPECT_EQ(ui.shownBoxes[0].style & qv::ui::kMbIconMask, qv::ui::kMbIconStop);
    // Both entries cleared, focus on the PIN.
    EXPECT_EQ(FieldOf(ui.shownDialogs[1], kIdPin)->value, "");
    EXPECT_EQ(FieldOf(ui.shownDialogs[1], kIdConfirm)->value, "");
    EXPECT_EQ(ui.shownDialogs[1].focus, kIdPin);
    EXPECT_EQ(FieldOf(ui.shownDialogs[0], kIdPin)->numericOnly, c.alpha == 0);
  }
}

TEST(NewPinDialog, EntriesMustMatch) {
  FakeBackend ui;
  PROMPT_DATA b = PinBlock(4, 8, 0, 1);
  ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdPin, "1234"}, {kIdConfirm, "1235"}},
                     {{kIdServerPin, kIdCreatePin}}));
  ui.OnDialog(Answer(qv::ui::kIdCancel));
  EXPECT_EQ(qvPinDlg(&b), PROMPT_RESULT_CANCEL);
  ASSERT_EQ(ui.shownBoxes.size(), 1u);
  EXPECT_EQ(ui.shownBoxes[0].text, "PIN and confirmation do not match.");
  EXPECT_STREQ(b.szNewPin, "");
}

TEST(NewPinDialog, SelectableModeSetsTheChoices) {
  struct Case {
    int selectable;
    int selected;  // value of the chosen radio button, 0 for none
    bool serverEnabled, createEnabled;
  } cases[] = {
      {0, kIdServerPin, true, false},
      {1, kIdServerPin, true, true},
      {2, kIdCreatePin, false, true},
  };
  for (const Case& c : cases) {
    FakeBackend ui;
    PROMPT_DATA b = PinBlock(4, 8, 0, c.selectable);
    ui.OnDialog(Answer(qv::ui::kIdCancel));
    EXPECT_EQ(qvPinDlg(&b), PROMPT_RESULT_CANCEL);
    qv::ui::Dialog& d = ui.shownDialogs[0];
    qv::ui::Choice& mode = *ChoiceOf(d, kIdServerPin);
    EXPECT_EQ(mode.items[mode.selected].value, c.selected);
    EXPECT_EQ(mode.items[0].enabled, c.serverEnabled);
    EXPECT_EQ(mode.items[1].enabled, c.createEnabled);
    // The entries are usable only while the user creates the PIN.
    EXPECT_EQ(FieldOf(d, kIdPin)->enabled, c.selected == kIdCreatePin);
    EXPECT_EQ(d.timeoutSeconds, 180u);
    EXPECT_EQ(d.caption, "New PIN");
  }
}

TEST(NewPinDialog, ServerPinNeedsConfirmationAndIsShown) {
  FakeBackend ui;
  PROMPT_DATA b = PinBlock(4, 8, 0, 1);
  ui.OnDialog(Answer(qv::ui::kIdOk));
  ui.OnBox(qv::ui::kIdNo);  // No: the dialog stays
  ui.OnDialog(Answer(qv::ui::kIdOk));
  ui.OnBox(qv::ui::kIdYes);
  ui.OnDialog(Answer(qv::ui::kIdTimedOut));  // the display closes itself: as OK
  EXPECT_EQ(qvPinDlg(&b), PROMPT_RESULT_OK);
  EXPECT_STREQ(b.szNewPin, "87654321");

  ASSERT_EQ(ui.shownBoxes.size(), 2u);
  EXPECT_EQ(ui.shownBoxes[0].text, "PIN will be displayed for 10 seconds.\n\nAre you sure?");
  EXPECT_EQ(ui.shownBoxes[0].style &
                (qv::ui::kMbButtonsMask | qv::ui::kMbIconMask | qv::ui::kMbDefButtonMask),
            qv::ui::kMbYesNo | qv::ui::kMbIconQuestion | qv::ui::kMbDefButton2);
  ASSERT_EQ(ui.shownDialogs.size(), 3u);
  const qv::ui::Dialog& shown = ui.shownDialogs[2];
  EXPECT_EQ(shown.templateId, 104);
  EXPECT_EQ(TextOf(shown, kIdSystemPinText)->text, "New PIN: 87654321");
  EXPECT_EQ(TextOf(shown, kIdSystemPinText)->recordText.find("87654321"), std::string::npos);
  EXPECT_EQ(shown.timeoutSeconds, 10u);
}

TEST(NewPinDialog, EntriesHoldNoMoreThanThePinField) {
  FakeBackend ui;
  PROMPT_DATA b = PinBlock(4, 100, 1, 2);
  ui.OnDialog(Answer(qv::ui::kIdCancel));
  (void)qvPinDlg(&b);
  EXPECT_EQ(FieldOf(ui.shownDialogs[0], kIdPin)->maxLength, 17u);
}

// --- next tokencode dialog -------------------------------------------------

TEST(NextCodeDialog, AsksUntilACodeIsGiven) {
  FakeBackend ui;
  PROMPT_DATA b = Block(10);
  ui.OnDialog(Answer(qv::ui::kIdOk));
  ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdNextCode, "654321"}}));
  EXPECT_EQ(PROMPTUI_Next(&b), PROMPT_RESULT_OK);
  EXPECT_STREQ(b.szNextCode, "654321");
  ASSERT_EQ(ui.shownBoxes.size(), 1u);
  EXPECT_EQ(ui.shownBoxes[0].text, "Enter the next code.");
  EXPECT_EQ(ui.shownDialogs[0].caption, "Next Tokencode");
  EXPECT_EQ(ui.shownDialogs[0].timeoutSeconds, 120u);
}

TEST(NextCodeDialog, SoftTokenBlockThroughTheDialogCopiesNothing) {
  FakeBackend ui;
  PROMPT_DATA b = Block(10);
  b.dwTokenType = PROMPT_TOKEN_SOFT;
  ui.OnDialog(Answer(qv::ui::kIdOk, {{kIdNextCode, "654321"}}));
  EXPECT_EQ(qvNextDlg(&b), PROMPT_RESULT_OK);
  EXPECT_STREQ(b.szNextCode, "");
}

}  // namespace
}  // namespace qv::prompt
