#include "authclient/testsupport.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "authclient/otp.h"
#include "authclient/pinhash.h"
#include "authclient/storefile.h"
#include "platform/paths/paths.h"

namespace kel::test {

TempRoot::TempRoot() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kelXXXXXX").string();
  char* dir = mkdtemp(tmpl.data());
  if (!dir) ADD_FAILURE() << "mkdtemp";
  path_ = tmpl;
  setenv("TAVRIK_ROOT", path_.c_str(), 1);
  qv::paths::SetRootForProcess(path_);
  SetStoreDirForProcess("");
}

TempRoot::~TempRoot() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  qv::paths::SetRootForProcess("");
  unsetenv("TAVRIK_ROOT");
}

void SetTime(int64_t seconds) { setenv("TAVRIK_FAKE_TIME", std::to_string(seconds).c_str(), 1); }

void PutUser(const std::string& name, const std::string& pin, bool new_pin, PinRules rules, TokenKind kind) {
  UserRecord u;
  u.name = name;
  u.kind = kind;
  u.seed = kSeed;
  u.pin_hash = pin.empty() ? "" : HashPin(pin);
  u.new_pin = new_pin;
  u.rules = rules;
  u.shell = "shell-of-" + name;
  std::string error;
  auto r = UpdateStore(
      StoreDir(),
      [&](Store& s) {
        std::erase_if(s.users, [&](const UserRecord& x) { return x.name == name; });
        s.users.push_back(u);
        return true;
      },
      true, &error);
  ASSERT_EQ(r, StoreResult::kOk) << error;
}

void PutSettings(const StoreSettings& settings) {
  auto r = UpdateStore(
      StoreDir(),
      [&](Store& s) {
        s.settings = settings;
        return true;
      },
      true, nullptr);
  ASSERT_EQ(r, StoreResult::kOk);
}

UserRecord GetUser(const std::string& name) {
  Store s;
  std::string error;
  EXPECT_EQ(ReadStore(StoreDir(), &s, &error), StoreResult::kOk) << error;
  UserRecord* u = FindUser(s, name);
  return u ? *u : UserRecord{};
}

std::string Code(int steps, int64_t at) { return TokenCode(kSeed, CounterAt(at, 30) + steps, 6); }

}  // namespace kel::test
