#include "authclient/judge.h"

#include <gtest/gtest.h>

#include "authclient/otp.h"
#include "authclient/pinhash.h"
#include "kelclient.h"

namespace kel {
namespace {

constexpr int64_t kNow = 1111111111;

class JudgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    user.name = "alice";
    user.seed = "12345678901234567890";
    user.pin_hash = HashPin("1234");
    user.rules = {4, 8, 1, false};
  }
  // Tokencode `steps` away from kNow.
  std::string Code(int64_t steps) const { return TokenCode(user.seed, CounterAt(kNow, 30) + steps, 6); }
  int Check(const std::string& passcode, int64_t now = kNow) { return JudgePasscode(user, settings, passcode, now, &pending); }

  UserRecord user;
  StoreSettings settings;
  Pending pending;
};

TEST_F(JudgeTest, PinAndCodeAcceptedOnceWithinTheWindow) {
  EXPECT_EQ(Check("1234" + Code(0)), ACM_OK);
  EXPECT_EQ(Check("1234" + Code(0)), ACM_ACCESS_DENIED);  // replay
  EXPECT_EQ(user.fails, 1);                                // counts as a failure
  EXPECT_EQ(Check("1234" + Code(1)), ACM_OK);             // one step ahead: still direct
  EXPECT_EQ(user.drift, 1);
  EXPECT_EQ(user.fails, 0);
}

TEST_F(JudgeTest, WrongInputsAreDenied) {
  struct Case {
    std::string passcode;
    int status;
  } cases[] = {
      {"1235" + Code(0), ACM_ACCESS_DENIED},  // wrong PIN
      {"1234" + Code(-30), ACM_ACCESS_DENIED},  // far outside every window
      {Code(0), ACM_ACCESS_DENIED},           // PIN missing
      {"12", ACM_ACCESS_DENIED},
      {"", ACM_SYNTAX_ERR_3},
      {"1234-" + Code(0), ACM_SYNTAX_ERR_3},
      {"12345678901234567", ACM_SYNTAX_ERR_3},
  };
  for (const auto& c : cases) EXPECT_EQ(Check(c.passcode), c.status) << c.passcode;
  EXPECT_EQ(Check("1234" + Code(0)), ACM_NEXT_CODE_REQUIRED);  // after three failures
}

TEST_F(JudgeTest, NextTokencodeAfterRepeatedFailures) {
  for (int i = 0; i < settings.next_after; ++i) EXPECT_EQ(Check("9999" + Code(0)), ACM_ACCESS_DENIED);
  EXPECT_TRUE(user.next_code);
  ASSERT_EQ(Check("1234" + Code(0)), ACM_NEXT_CODE_REQUIRED);
  EXPECT_EQ(JudgeNext(user, settings, &pending, Code(2), kNow), ACM_NEXT_CODE_REJECTED);
  EXPECT_EQ(pending.kind, Pending::kNone);  // the handle leaves the mode, the user keeps it
  EXPECT_TRUE(user.next_code);
  ASSERT_EQ(Check("1234" + Code(1)), ACM_NEXT_CODE_REQUIRED);
  EXPECT_EQ(JudgeNext(user, settings, &pending, Code(2), kNow), ACM_OK);
  EXPECT_FALSE(user.next_code);
  EXPECT_EQ(user.fails, 0);
  EXPECT_EQ(Check("1234" + Code(2)), ACM_ACCESS_DENIED);  // the next tokencode is used up
}

TEST_F(JudgeTest, FarMatchResynchronisesThroughNextTokencode) {
  ASSERT_EQ(Check("1234" + Code(5)), ACM_NEXT_CODE_REQUIRED);
  EXPECT_EQ(JudgeNext(user, settings, &pending, Code(6), kNow), ACM_OK);
  EXPECT_EQ(user.drift, 6);
  EXPECT_EQ(Check("1234" + Code(7)), ACM_OK);  // now within the tracked window
}

TEST_F(JudgeTest, DisabledAfterTooManyFailures) {
  for (int i = 0; i < settings.disable_after; ++i) Check("0000" + Code(0));
  EXPECT_TRUE(user.disabled);
  EXPECT_EQ(Check("1234" + Code(0)), ACM_ACCESS_DENIED);
  EXPECT_EQ(Check("1234" + Code(1)), ACM_ACCESS_DENIED);
}

TEST_F(JudgeTest, NewPinForNewTokenThenGraceForTheSameTokencode) {
  user.pin_hash.clear();
  user.new_pin = true;
  ASSERT_EQ(Check(Code(0)), ACM_NEW_PIN_REQUIRED);
  EXPECT_EQ(pending.kind, Pending::kNewPin);
  EXPECT_EQ(JudgeNewPin(user, pending, "567890", ""), ACM_NEW_PIN_ACCEPTED);
  EXPECT_FALSE(user.new_pin);
  EXPECT_TRUE(VerifyPin(user.pin_hash, "567890"));
  EXPECT_EQ(Check("567890" + Code(0)), ACM_OK);             // the exchange's tokencode, once more
  EXPECT_EQ(Check("567890" + Code(0)), ACM_ACCESS_DENIED);  // but only once
}

TEST_F(JudgeTest, NewPinRulesByMode) {
  struct Case {
    int mode;
    bool alnum;
    const char* pin;
    int status;
  } cases[] = {
      {1, false, "123", ACM_NEW_PIN_REJECTED},        // too short
      {1, false, "123456789", ACM_NEW_PIN_REJECTED},  // too long
      {1, false, "12a4", ACM_NEW_PIN_REJECTED},       // letters not allowed
      {1, true, "12a4", ACM_NEW_PIN_ACCEPTED},
      {1, false, "", ACM_NEW_PIN_REJECTED},
      {0, false, "4321", ACM_NEW_PIN_REJECTED},  // server mode: only the system PIN
      {0, false, "87654321", ACM_NEW_PIN_ACCEPTED},
      {1, false, "87654321", ACM_NEW_PIN_ACCEPTED},
      {2, false, "4321", ACM_NEW_PIN_ACCEPTED},
  };
  for (const auto& c : cases) {
    user.new_pin = true;
    user.rules.mode = c.mode;
    user.rules.alphanumeric = c.alnum;
    Pending p{Pending::kNewPin, 5, ""};
    EXPECT_EQ(JudgeNewPin(user, p, c.pin, "87654321"), c.status) << c.mode << " " << c.pin;
    EXPECT_EQ(user.new_pin, c.status != ACM_NEW_PIN_ACCEPTED);
  }
}

TEST_F(JudgeTest, SystemPinFitsTheRules) {
  for (PinRules r : {PinRules{4, 8, 0, false}, PinRules{4, 6, 1, true}, PinRules{10, 12, 0, false}}) {
    std::string pin = GenerateSystemPin(r);
    EXPECT_TRUE(PinFitsRules(r, pin)) << pin;
  }
  EXPECT_EQ(GenerateSystemPin(PinRules{4, 8, 2, false}), "");
}

TEST_F(JudgeTest, PinPadPasscodeIsTheCodeWithThePinAdded) {
  user.kind = TokenKind::kPinPad;
  user.pin_hash = HashPin("0042");
  EXPECT_EQ(Check(CombinePinPad(Code(0), "0043")), ACM_ACCESS_DENIED);
  EXPECT_EQ(Check(CombinePinPad(Code(0), "0042")), ACM_OK);
  user.pin_hash = HashPin("98765");
  EXPECT_EQ(Check(CombinePinPad(Code(1), "98765")), ACM_OK);
  EXPECT_EQ(Check("1234" + Code(2)), ACM_ACCESS_DENIED);  // standard form is not accepted
}

TEST_F(JudgeTest, PinPadNextTokencodeInEitherForm) {
  user.kind = TokenKind::kPinPad;
  user.next_code = true;
  ASSERT_EQ(Check(CombinePinPad(Code(0), "1234")), ACM_NEXT_CODE_REQUIRED);
  EXPECT_EQ(JudgeNext(user, settings, &pending, CombinePinPad(Code(1), "1234"), kNow), ACM_OK);
  user.next_code = true;
  ASSERT_EQ(Check(CombinePinPad(Code(2), "1234")), ACM_NEXT_CODE_REQUIRED);
  EXPECT_EQ(JudgeNext(user, settings, &pending, Code(3), kNow), ACM_OK);
}

TEST_F(JudgeTest, NewPinStillRequiredAfterAResynchronisation) {
  user.new_pin = true;
  ASSERT_EQ(Check("1234" + Code(5)), ACM_NEXT_CODE_REQUIRED);
  EXPECT_EQ(JudgeNext(user, settings, &pending, Code(6), kNow), ACM_NEW_PIN_REQUIRED);
  EXPECT_EQ(pending.kind, Pending::kNewPin);
}

}  // namespace
}  // namespace kel
