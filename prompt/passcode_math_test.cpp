#include "prompt/passcode_math.h"

#include <gtest/gtest.h>

namespace qv::prompt {
namespace {

TEST(CombineTokencodeAndPin, AddsDigitsFromTheRightModuloTen) {
  struct Case {
    const char* tokencode;
    const char* pin;
    const char* passcode;
  } cases[] = {
      {"123456", "1111", "124567"},    // digits left of the PIN kept
      {"999999", "123456", "012345"},  // each place wraps at 10
      {"000000", "", "000000"},        // no PIN: the tokencode itself
      {"4321", "987654321", "8642"},   // PIN digits left of the tokencode dropped
      {"", "1234", ""},                // no tokencode: no result
      {"555555", "AB", "555556"},      // letters read as hexadecimal: 5+10, 5+11
      {"99", "FF", "44"},              // 9+15 = 24: still one decimal digit
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CombineTokencodeAndPin(c.tokencode, c.pin), c.passcode)
        << c.tokencode << " + " << c.pin;
  }
}

}  // namespace
}  // namespace qv::prompt
