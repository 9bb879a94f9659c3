#include "platform/eventtext/event_record.h"

#include <gtest/gtest.h>

namespace {

using qv::eventtext::ExpandInserts;
using qv::eventtext::JsonEscape;

TEST(ExpandInserts, ReplacesNumberedInserts) {
  std::vector<std::string> three = {"a", "b", "c"};
  std::vector<std::string> twelve = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "L"};
  struct Case {
    const char* text;
    const std::vector<std::string>* inserts;
    const char* expected;
  } cases[] = {
      {"%1\\%2 at %3", &three, "a\\b at c"},
      {"%3%2%1", &three, "cba"},
      {"missing %4 and %9.", &three, "missing  and ."},
      {"%12 two digits", &twelve, "L two digits"},
      {"%12 beyond", &three, " beyond"},
      {"100% and %", &three, "100% and %"},
      {"%0 stays", &three, "%0 stays"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandInserts(c.text, *c.inserts), c.expected) << c.text;
}

TEST(WithoutInserts, DropsMarkersAndTheirParentheses) {
  using qv::eventtext::WithoutInserts;
  EXPECT_EQ(WithoutInserts("Failed (user %1, domain %2)"), "Failed");
  EXPECT_EQ(WithoutInserts("Failed (see the log)"), "Failed (see the log)");
  EXPECT_EQ(WithoutInserts("Passcode accepted for user %1"), "Passcode accepted for user ");
  EXPECT_EQ(WithoutInserts("(%1)"), "()");
}

TEST(EventText, DropsATrailingGroupOfEmptyInserts) {
  using qv::eventtext::EventText;
  EXPECT_EQ(EventText(QVS_DIAL_REQUEST_FAILED, {""}), "The authentication request cannot be started");
  EXPECT_EQ(EventText(QVS_DIAL_REQUEST_FAILED, {"eve"}),
            "The authentication request cannot be started (user eve)");
  EXPECT_EQ(EventText(QVS_AM_NO_HOST_NAME, {"", "7"}),
            "The workstation address has no host name (address , error 7)");
}

TEST(JsonEscape, ControlCharactersAndBrokenUtf8) {
  EXPECT_EQ(JsonEscape(std::string("a\0b", 3)), "a\\u0000b");
  EXPECT_EQ(JsonEscape("\x7f"), "\\u007f");
  EXPECT_EQ(JsonEscape("\xE2\x82\xAC"), "\xE2\x82\xAC");          // euro sign kept
  EXPECT_EQ(JsonEscape("\xE2\x82"), "\\ufffd\\ufffd");           // cut sequence
  EXPECT_EQ(JsonEscape("\xC0\xAF"), "\\ufffd\\ufffd");           // overlong
  EXPECT_EQ(JsonEscape("\xED\xA0\x80"), "\\ufffd\\ufffd\\ufffd");  // surrogate
}

}  // namespace
