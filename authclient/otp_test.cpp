#include "authclient/otp.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

TEST(TokenCode, MatchesTimeBasedVectors) {
  const std::string seed = "12345678901234567890";
  struct Case {
    int64_t time;
    const char* code;
  } cases[] = {
      {59, "94287082"},         {1111111109, "07081804"}, {1111111111, "14050471"},
      {1234567890, "89005924"}, {2000000000, "69279037"}, {20000000000, "65353130"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TokenCode(seed, CounterAt(c.time, 30), 8), c.code) << c.time;
    EXPECT_EQ(TokenCode(seed, CounterAt(c.time, 30), 6), std::string(c.code).substr(2)) << c.time;
  }
  EXPECT_EQ(TokenCode(seed, 1, 5), "");
}

TEST(PinPad, CombinesAtTheRightAndInverts) {
  struct Case {
    const char *code, *pin, *passcode;
  } cases[] = {
      {"123456", "1234", "124680"},  // PIN shorter: leading digits kept
      {"999999", "11", "999900"},    // carries are dropped
      {"123456", "999999", "012345"},
      {"12", "345", "57"},  // PIN longer than the code: its left digits dropped
      {"", "1234", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CombinePinPad(c.code, c.pin), c.passcode) << c.code << "+" << c.pin;
  }
  EXPECT_EQ(SubtractPinPad("124680", "123456"), "001234");
  EXPECT_EQ(SubtractPinPad("12468", "123456"), "");
  EXPECT_EQ(SubtractPinPad("12468x", "123456"), "");
}

TEST(Base32, EncodesWithoutPadding) {
  EXPECT_EQ(Base32("12345678901234567890"), "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ");
  EXPECT_EQ(Base32("f"), "MY");
}

}  // namespace
}  // namespace kel
