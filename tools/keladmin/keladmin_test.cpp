#include "tools/keladmin/keladmin.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <grp.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "authclient/storefile.h"
#include "authclient/testsupport.h"
#include "authclient/textcodec.h"
#include "kelclient.h"
#include "tokenpad32.h"

namespace keladmin {
namespace {

using kel::test::kSeed;
using kel::test::kTime;

struct Result {
  int rc;
  std::string out, err;
};

Result Admin(std::vector<std::string> args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  int rc = Run(args, in, out, err);
  return {rc, out.str(), err.str()};
}

class KelAdminTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kel::test::SetTime(kTime);
    ASSERT_EQ(Admin({"add", "alice", "--shell", "staff"}).rc, 0);
    ASSERT_EQ(Admin({"add", "bob"}).rc, 0);
  }
  std::string StoreText() {
    std::ifstream f(kel::StoreDir() + "/store");
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }
  kel::test::TempRoot root;
};

TEST_F(KelAdminTest, BadInputChangesNothing) {
  struct Case {
    std::vector<std::string> args;
    int rc;
    const char* message;
  } cases[] = {
      {{}, 2, "no command"},
      {{"frobnicate"}, 2, "unknown command"},
      {{"add"}, 1, "expected a user name"},
      {{"add", "alice"}, 1, "exists"},
      {{"add", "carol", "--min", "9", "--max", "4"}, 1, "minimum PIN length"},
      {{"add", "carol", "--mode", "3"}, 1, "--mode must be a number from 0 to 2"},
      {{"add", "carol", "--colour", "red"}, 2, "unknown option --colour"},
      {{"add", "carol", "--min"}, 2, "needs a value"},
      {{"add", "carol", "--shell", std::string(65, 's')}, 1, "longer than 64"},
      {{"delete", "nobody"}, 1, "no user \"nobody\""},
      {{"assign", "nobody"}, 1, "no user"},
      {{"assign", "alice", "--digits", "7"}, 1, "6 or 8"},
      {{"assign", "alice", "--step", "45"}, 1, "30 or 60"},
      {{"assign", "alice", "--kind", "usb"}, 1, "standard or pinpad"},
      {{"assign", "alice", "--seed", "xyz"}, 1, "hex"},
      {{"rules", "alice", "--max", "16"}, 1, "from 1 to 15"},
      {{"new-pin", "alice"}, 1, "has no token"},
      {{"code", "alice"}, 1, "has no token"},
      {{"export", "alice", "--numeric"}, 1, "--password-stdin"},
      {{"settings", "--window", "11"}, 1, "--window"},
  };
  const std::string before = StoreText();
  for (const auto& c : cases) {
    Result r = Admin(c.args);
    EXPECT_EQ(r.rc, c.rc) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(StoreText(), before) << r.err;
  }
}

TEST_F(KelAdminTest, DamagedStoreIsReportedAndKept) {
  std::ofstream(kel::StoreDir() + "/store", std::ios::app) << "user name=x colour=red\n";
  const std::string before = StoreText();
  Result r = Admin({"reset", "alice"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("damaged"), std::string::npos);
  EXPECT_EQ(StoreText(), before);
}

TEST_F(KelAdminTest, AssignedTokenWorksWithTheLibrary) {
  Result r = Admin({"assign", "alice", "--seed", kel::HexEncode(kSeed)});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("seed (base32): GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"), std::string::npos);
  EXPECT_NE(r.out.find("otpauth://totp/Tavrik:alice?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&issuer=Tavrik"),
            std::string::npos);
  r = Admin({"code", "alice"});
  EXPECT_EQ(r.out, kel::test::Code() + "\n");
  EXPECT_NE(Admin({"list"}).out.find("alice\tstandard/6/30s\tpin 4-8 mode 1\tnew-pin no-pin"), std::string::npos);

  KEL_HANDLE h = 0;
  ASSERT_EQ(QV_Init(&h), ACM_OK);
  ASSERT_EQ(QV_Check(h, kel::test::Code().c_str(), "alice"), ACM_NEW_PIN_REQUIRED);
  ASSERT_EQ(QV_Pin(h, "2468"), ACM_NEW_PIN_ACCEPTED);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(QV_Check(h, ("0000" + kel::test::Code(i)).c_str(), "alice"), ACM_ACCESS_DENIED);
  ASSERT_EQ(Admin({"settings", "--disable-after", "3"}).rc, 0);
  EXPECT_EQ(QV_Check(h, ("0000" + kel::test::Code(1)).c_str(), "alice"), ACM_ACCESS_DENIED);
  EXPECT_NE(Admin({"list"}).out.find("disabled"), std::string::npos);
  EXPECT_EQ(QV_Check(h, ("2468" + kel::test::Code(1)).c_str(), "alice"), ACM_ACCESS_DENIED);
  ASSERT_EQ(Admin({"reset", "alice"}).rc, 0);
  EXPECT_EQ(QV_Check(h, ("2468" + kel::test::Code(1)).c_str(), "alice"), ACM_OK);
  char shell[KEL_SHELL_SIZE];
  ASSERT_EQ(KelGetShell(h, shell), 1);
  EXPECT_STREQ(shell, "staff");

  ASSERT_EQ(Admin({"new-pin", "alice"}).rc, 0);
  EXPECT_EQ(QV_Check(h, ("2468" + kel::test::Code(2)).c_str(), "alice"), ACM_NEW_PIN_REQUIRED);
  ASSERT_EQ(Admin({"delete", "alice"}).rc, 0);
  EXPECT_EQ(QV_Check(h, ("2468" + kel::test::Code(3)).c_str(), "alice"), ACM_ACCESS_DENIED);
  QV_Close(h);
}

TEST_F(KelAdminTest, ExportedTokenOpensWithItsPassword) {
  ASSERT_EQ(Admin({"assign", "bob", "--kind", "pinpad", "--seed", kel::HexEncode(kSeed)}).rc, 0);
  std::string file = root.path() + "/home/bob/tokens";
  Result r = Admin({"export", "bob", "--file", file, "--serial", "777", "--password-stdin", "--numeric"}, "1357\n");
  ASSERT_EQ(r.rc, 0) << r.err;
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Admin({"export", "bob", "--file", file, "--password-stdin", "--numeric"}, "abc\n").rc, 1);

  setenv("TAVRIK_TOKENPAD_FILE", file.c_str(), 1);
  uint32_t service = 0;
  ASSERT_EQ(OpenTokenService(&service), 1);
  TOKENPAD_ENTRY e[2];
  uint32_t count = 0, def = 0, size = sizeof e;
  ASSERT_EQ(EnumToken(service, &count, &def, e, &size), 1);
  ASSERT_EQ(count, 1u);
  EXPECT_STREQ(e[0].szName, "bob");
  EXPECT_STREQ(e[0].szPasswordMode, "NPASSWORD");
  EXPECT_EQ(SelectToken(service, "bob", "777", "1358"), 0);
  ASSERT_EQ(SelectToken(service, "bob", "777", "1357"), 1);
  SetTokenTime(service, static_cast<uint32_t>(kTime));
  char pass[18], next[18], spare[18], code[18];
  ASSERT_EQ(GetPasscode(service, "0000", pass, next, spare, code), 1);
  EXPECT_STREQ(code, kel::test::Code().c_str());
  CloseTokenService(service);
  unsetenv("TAVRIK_TOKENPAD_FILE");
}

TEST(KelAdminGroup, PrivateRootLeavesTheGroupDatabaseAlone) {
  bool had_group = getgrnam("tavrik") != nullptr;
  kel::test::TempRoot root;
  ASSERT_EQ(Admin({"init"}).rc, 0);
  struct stat st {};
  ASSERT_EQ(stat(kel::StoreDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 02770u);
  EXPECT_EQ(getgrnam("tavrik") != nullptr, had_group);
}

TEST(KelAdminHelp, IsAManualPage) {
  Result r = Admin({"--help"});
  EXPECT_EQ(r.rc, 0);
  for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "EXIT STATUS"})
    EXPECT_NE(r.out.find(section), std::string::npos) << section;
}

}  // namespace
}  // namespace keladmin
