#include "authclient/record.h"

#include <gtest/gtest.h>

#include "authclient/pinhash.h"

namespace kel {
namespace {

UserRecord Named(const char* name) {
  UserRecord u;
  u.name = name;
  return u;
}

TEST(StoreText, RoundTripsEveryField) {
  Store s;
  s.settings.next_after = 4;
  s.settings.far_window = 7;
  UserRecord u;
  u.name = "EXAMPLE\\jo smith=%";
  u.kind = TokenKind::kPinPad;
  u.seed = std::string("\x00\x01\xff", 3);
  u.step = 60;
  u.digits = 8;
  u.pin_hash = HashPin("1234", 10);
  u.rules = {4, 6, 2, false};
  u.shell = "admins users";
  u.new_pin = u.next_code = u.disabled = true;
  u.fails = 9;
  u.last = 123456;
  u.drift = -3;
  u.grace = 123450;
  s.users.push_back(u);
  s.users.push_back(Named("plain"));

  Store back;
  std::string error;
  ASSERT_TRUE(ParseStore(SerializeStore(s), &back, &error)) << error;
  EXPECT_EQ(back.settings.next_after, 4);
  EXPECT_EQ(back.settings.far_window, 7);
  ASSERT_EQ(back.users.size(), 2u);
  EXPECT_TRUE(back.users[0] == u);
  EXPECT_TRUE(back.users[1] == s.users[1]);
}

TEST(StoreText, RefusesMalformedStores) {
  const std::string head = "tavrik-token-store 1\n";
  const std::string bad[] = {
      "",
      "not-a-store 1\n",
      "user name=a\n" + head,  // record before the header
      head + "user name=a colour=red\n",
      head + "user name=a step=45\n",
      head + "user name=a digits=7\n",
      head + "user name=a seed=abc\n",
      head + "user name=a seed=zz\n",
      head + "user name=a%zz\n",
      head + "user name=a pin=plaintext\n",
      head + "user name=a minpin=6 maxpin=4\n",
      head + "user name=a kind=pinpad alnum=1\n",
      head + "user name=a kind=pinpad digits=6 maxpin=8\n",
      head + "user kind=pinpad\n",
      head + "user name=a\nuser name=a\n",
      head + "user name=a fails\n",
      head + "settings window=99\n",
      head + "settings window=1\nsettings window=1\n",
      head + "group name=a\n",
  };
  for (const auto& text : bad) {
    Store s;
    EXPECT_FALSE(ParseStore(text, &s, nullptr)) << text;
  }
}

TEST(StoreText, FindsUsersWithoutCaseAndWithoutDomain) {
  Store s;
  s.users.push_back(Named("alice"));
  s.users.push_back(Named("Bob"));
  EXPECT_EQ(FindUser(s, "alice")->name, "alice");
  EXPECT_EQ(FindUser(s, "BOB")->name, "Bob");
  EXPECT_EQ(FindUser(s, "CORP\\Alice")->name, "alice");
  EXPECT_EQ(FindUser(s, "carol"), nullptr);
  EXPECT_EQ(FindUser(s, "CORP\\"), nullptr);
}

}  // namespace
}  // namespace kel
