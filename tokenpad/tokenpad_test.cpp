#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <vector>

#include "authclient/otp.h"
#include "authclient/testsupport.h"
#include "authclient/textcodec.h"
#include "kelclient.h"
#include "tokenpad/tokenfile.h"
#include "tokenpad32.h"

namespace tokenpad {
namespace {

using kel::test::kSeed;
using kel::test::kTime;

static_assert(sizeof(TOKENPAD_ENTRY) == 124);
static_assert(offsetof(TOKENPAD_ENTRY, szName) == 4);
static_assert(offsetof(TOKENPAD_ENTRY, szSerial) == 28);
static_assert(offsetof(TOKENPAD_ENTRY, szSelector) == 52);
static_assert(offsetof(TOKENPAD_ENTRY, szPasswordMode) == 76);

class TokenPadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = root.path() + "/tokens";
    setenv("TAVRIK_TOKENPAD_FILE", path.c_str(), 1);
    kel::test::SetTime(kTime);
    TokenFile f;
    f.default_serial = "000222";
    f.tokens.push_back(SoftToken{"000111", "alice", true, 6, 30, PasswordMode::kNone, kSeed, ""});
    f.tokens.push_back(
        SoftToken{"000222", "alice work", true, 6, 30, PasswordMode::kAny, "", SealSeed(kSeed, "s3cret pw", "000222", 1000)});
    f.tokens.push_back(
        SoftToken{"000333", "alice pin", true, 6, 30, PasswordMode::kNumeric, "", SealSeed(kSeed, "2468", "000333", 1000)});
    std::ofstream(path) << SerializeTokenFile(f);
    ASSERT_EQ(OpenTokenService(&service), 1);
  }
  void TearDown() override {
    CloseTokenService(service);
    unsetenv("TAVRIK_TOKENPAD_FILE");
  }
  uint32_t Error() {
    uint32_t e = 99;
    EXPECT_EQ(GetTokenError(service, &e), e);
    return e;
  }
  kel::test::TempRoot root;
  std::string path;
  uint32_t service = 0;
};

TEST_F(TokenPadTest, ListsTokensInTheEntryLayout) {
  uint32_t count = 0, def = 9, size = 0;
  EXPECT_EQ(EnumToken(service, &count, &def, nullptr, &size), 0);
  ASSERT_EQ(size, 3 * 124u);
  std::vector<char> list(size);
  ASSERT_EQ(EnumToken(service, &count, &def, list.data(), &size), 1);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(def, 1u);
  const char* e = list.data();
  EXPECT_STREQ(e + 4, "alice");
  EXPECT_STREQ(e + 28, "000111");
  EXPECT_STREQ(e + 52, "000111");
  EXPECT_STREQ(e + 76, "");
  EXPECT_STREQ(e + 124 + 4, "alice work");
  EXPECT_STREQ(e + 124 + 76, "PASSWORD");
  EXPECT_STREQ(e + 248 + 76, "NPASSWORD");
  uint32_t info[2] = {};
  ASSERT_EQ(GetDLLInfo(info), 1);
  EXPECT_EQ(info[0], 4u);
}

TEST_F(TokenPadTest, PasswordModes) {
  struct Case {
    const char *name, *serial, *password;
    int ok;
  } cases[] = {
      {"alice", "000111", nullptr, 1},
      {"alice work", "000222", nullptr, 0},
      {"alice work", "000222", "wrong", 0},
      {"alice work", "000222", "s3cret pw", 1},
      {"alice pin", "000333", "1357", 0},
      {"alice pin", "000333", "24x8", 0},
      {"alice pin", "000333", "2468", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SelectToken(service, c.name, c.serial, c.password), c.ok) << c.name << " " << (c.password ? c.password : "-");
    EXPECT_EQ(Error(), c.ok ? TOKENPAD_ERR_NONE : TOKENPAD_ERR_BAD_PASSWORD);
  }
  EXPECT_EQ(SelectToken(service, "alice", "000999", nullptr), 0);
  EXPECT_EQ(Error(), TOKENPAD_ERR_NO_TOKEN);
}

TEST_F(TokenPadTest, CodesFromTheTokenTimeAndThePin) {
  char pass[18], next[18], spare[18], code[18];
  EXPECT_EQ(GetPasscode(service, "1234", pass, next, spare, code), 0);
  EXPECT_EQ(Error(), TOKENPAD_ERR_NOT_SELECTED);
  ASSERT_EQ(SelectToken(service, "alice", "000111", nullptr), 1);
  SetTokenTime(service, kTime + 300);
  ASSERT_EQ(GetPasscode(service, "1234", pass, next, spare, code), 1);
  std::string c0 = kel::test::Code(10), c1 = kel::test::Code(11), c2 = kel::test::Code(12);
  EXPECT_EQ(code, c0);
  EXPECT_EQ(pass, kel::CombinePinPad(c0, "1234"));
  EXPECT_EQ(next, kel::CombinePinPad(c1, "1234"));
  EXPECT_EQ(spare, kel::CombinePinPad(c2, "1234"));
  EXPECT_EQ(GetPasscode(service, "12a4", pass, next, spare, code), 0);
  EXPECT_EQ(Error(), TOKENPAD_ERR_BAD_PIN);
  EXPECT_EQ(NewPinMode(service, "1234", "9876"), 1);
  EXPECT_EQ(NewPinMode(service, "9876", "1234567"), 0);  // longer than the tokencode
}

TEST_F(TokenPadTest, PasscodesAreAcceptedByTheServer) {
  kel::test::PutUser("alice", "", true, kel::PinRules{4, 6, 2, false}, kel::TokenKind::kPinPad);
  ASSERT_EQ(SelectToken(service, "alice", "000111", nullptr), 1);
  SetTokenTime(service, kTime);
  char pass[18], next[18], spare[18], code[18];
  // No PIN yet: the PIN-pad form of an empty PIN is zeros.
  ASSERT_EQ(GetPasscode(service, "0000", pass, next, spare, code), 1);
  KEL_HANDLE h = 0;
  ASSERT_EQ(QV_Init(&h), ACM_OK);
  ASSERT_EQ(QV_Check(h, pass, "alice"), ACM_NEW_PIN_REQUIRED);
  ASSERT_EQ(NewPinMode(service, "0000", "4321"), 1);
  ASSERT_EQ(QV_Pin(h, "4321"), ACM_NEW_PIN_ACCEPTED);
  // The caller combines the stored tokencode with the new PIN without a new code.
  EXPECT_EQ(QV_Check(h, kel::CombinePinPad(code, "4321").c_str(), "alice"), ACM_OK);
  kel::test::SetTime(kTime + 30);
  SetTokenTime(service, kTime + 30);
  ASSERT_EQ(GetPasscode(service, "4321", pass, next, spare, code), 1);
  EXPECT_EQ(QV_Check(h, pass, "alice"), ACM_OK);
  QV_Close(h);
}

TEST(TokenPadService, MissingOrBadFileOpensNothing) {
  kel::test::TempRoot root;
  std::string path = root.path() + "/none";
  setenv("TAVRIK_TOKENPAD_FILE", path.c_str(), 1);
  uint32_t h = 5, e = 0;
  EXPECT_EQ(OpenTokenService(&h), 0);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(GetTokenError(0, &e), static_cast<uint32_t>(TOKENPAD_ERR_NO_FILE));
  std::ofstream(path) << "tavrik-tokens 1\ntoken serial=1 name=x seed=zz\n";
  EXPECT_EQ(OpenTokenService(&h), 0);
  EXPECT_EQ(GetTokenError(0, &e), static_cast<uint32_t>(TOKENPAD_ERR_BAD_FILE));
  unsetenv("TAVRIK_TOKENPAD_FILE");
}

TEST(TokenFileText, RoundTripsAndRefusesMalformedFiles) {
  TokenFile f;
  f.default_serial = "a b";
  f.tokens.push_back(SoftToken{"a b", "n=%", false, 8, 60, PasswordMode::kNone, "\x01\x02", ""});
  TokenFile back;
  std::string error;
  ASSERT_TRUE(ParseTokenFile(SerializeTokenFile(f), &back, &error)) << error;
  ASSERT_EQ(back.tokens.size(), 1u);
  EXPECT_EQ(back.tokens[0].name, "n=%");
  EXPECT_EQ(back.tokens[0].seed, "\x01\x02");
  EXPECT_FALSE(back.tokens[0].pinpad);

  const std::string head = "tavrik-tokens 1\n";
  const std::string bad[] = {
      "",
      head + "token serial=1 name=x\n",                                   // no seed
      head + "token serial=1 name=x seed=0102 password=any\n",            // protected but plain
      head + "token serial=1 name=x sealed=aes256gcm-pbkdf2$1$00$00$00$00\n",
      head + "token serial=1 name=x seed=0102 digits=7\n",
      head + "token serial=1 name=x seed=0102\ntoken serial=1 name=y seed=0102\n",
      head + "token serial=123456789012345678901234 name=x seed=0102\n",  // longer than its field
      head + "tokens serial=1\n",
  };
  for (const auto& text : bad) EXPECT_FALSE(ParseTokenFile(text, &back, nullptr)) << text;
}

TEST(TokenFileSeal, OpensOnlyWithThePasswordAndSerial) {
  std::string sealed = SealSeed(kSeed, "pw", "S1", 1000);
  ASSERT_FALSE(sealed.empty());
  std::string seed;
  EXPECT_FALSE(UnsealSeed(sealed, "pW", "S1", &seed));
  EXPECT_FALSE(UnsealSeed(sealed, "pw", "S2", &seed));
  ASSERT_TRUE(UnsealSeed(sealed, "pw", "S1", &seed));
  EXPECT_EQ(seed, kSeed);
  EXPECT_EQ(sealed.find(kel::HexEncode(kSeed)), std::string::npos);
}

}  // namespace
}  // namespace tokenpad
