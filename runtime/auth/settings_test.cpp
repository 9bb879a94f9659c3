#include "runtime/auth/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/paths/paths.h"
#include "platform/registry/registry.h"

namespace {

using namespace qv::reg;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qvsettings.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    qv::paths::SetRootForProcess(root_);
  }
  void TearDown() override {
    qv::paths::SetRootForProcess("");
    std::filesystem::remove_all(root_);
  }
  void Set(const char* name, uint32_t type, const void* data, uint32_t size) {
    Key key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, QV_SETTINGS_KEY, KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(SetValue(key.get(), name, type, data, size), ERROR_SUCCESS);
  }
  void SetDword(const char* name, uint32_t v) { Set(name, REG_DWORD, &v, sizeof v); }

  std::string root_;
};

TEST_F(SettingsTest, NoKeyGivesDefaultPorts) {
  uint32_t v = 7;
  EXPECT_EQ(QVAgentGetSetting("KelClientPort", &v, sizeof v), 0);
  EXPECT_EQ(v, 7u);
  KelClientPort = KelProxyPort = 1;
  AMReadPortSettings();
  EXPECT_EQ(KelClientPort, 2334u);
  EXPECT_EQ(KelProxyPort, 2335u);
}

TEST_F(SettingsTest, KeyWithoutPortValuesGivesDefaultPorts) {
  const char path[] = "/etc/tavrik/root.der";
  Set("CACertPath", REG_SZ, path, sizeof path);
  AMReadPortSettings();
  EXPECT_EQ(KelClientPort, 2334u);
  EXPECT_EQ(KelProxyPort, 2335u);
}

TEST_F(SettingsTest, PortValuesAreReadAndOversizedOnesIgnored) {
  SetDword("KelClientPort", 4000);
  const uint8_t eight[8] = {0x10, 0x27, 0, 0, 0, 0, 0, 0};
  Set("KelProxyPort", REG_BINARY, eight, sizeof eight);
  AMReadPortSettings();
  EXPECT_EQ(KelClientPort, 4000u);
  EXPECT_EQ(KelProxyPort, 2335u);

  uint8_t buf[8] = {};
  EXPECT_EQ(QVAgentGetSetting("KelProxyPort", buf, sizeof buf), 1);
  EXPECT_EQ(buf[0], 0x10);
}

TEST_F(SettingsTest, TypeIsNotTestedAndNamesIgnoreCase) {
  // A binary value of 4 bytes reads as a DWORD.
  const uint8_t four[4] = {0x2e, 0x09, 0, 0};
  Set("KelClientPort", REG_BINARY, four, sizeof four);
  uint32_t v = 0;
  EXPECT_EQ(QVAgentGetSetting("kelclientport", &v, sizeof v), 1);
  EXPECT_EQ(v, 0x092eu);
}

TEST_F(SettingsTest, PerUseSettingsFollowChangesWithoutRestart) {
  EXPECT_EQ(qv::auth::TestMode(), 0u);
  EXPECT_FALSE(qv::auth::SendDomainName());
  EXPECT_FALSE(qv::auth::DisableNetBIOSLookup());
  SetDword("TestMode", 2);
  SetDword("SendDomainName", 1);
  SetDword("DisableNetBIOSLookup", 1);
  EXPECT_EQ(qv::auth::TestMode(), 2u);
  EXPECT_TRUE(qv::auth::SendDomainName());
  EXPECT_TRUE(qv::auth::DisableNetBIOSLookup());
  SetDword("TestMode", 5);
  EXPECT_EQ(qv::auth::TestMode(), 5u);
}

TEST_F(SettingsTest, SessionBoundsDefaultWhenMissingOrZero) {
  EXPECT_EQ(qv::auth::HandshakeTimeoutSeconds(), qv::auth::kDefaultHandshakeTimeoutSeconds);
  EXPECT_EQ(qv::auth::MaxSessionThreads(), qv::auth::kDefaultMaxSessionThreads);
  SetDword("SessionHandshakeTimeout", 0);
  SetDword("MaxSessionThreads", 3);
  EXPECT_EQ(qv::auth::HandshakeTimeoutSeconds(), qv::auth::kDefaultHandshakeTimeoutSeconds);
  EXPECT_EQ(qv::auth::MaxSessionThreads(), 3u);
}

TEST_F(SettingsTest, ListenAddressFromSettingThenEnvironment) {
  const char* saved = std::getenv("TAVRIK_LISTEN_ADDRESS");
  std::string restore = saved ? saved : "";
  unsetenv("TAVRIK_LISTEN_ADDRESS");
  EXPECT_EQ(qv::auth::ListenAddress(), "");  // every local address
  setenv("TAVRIK_LISTEN_ADDRESS", "127.0.0.1", 1);
  EXPECT_EQ(qv::auth::ListenAddress(), "127.0.0.1");
  const char kText[] = "127.0.0.2";
  Set("ListenAddress", REG_SZ, kText, sizeof kText);
  EXPECT_EQ(qv::auth::ListenAddress(), "127.0.0.2");  // the setting wins
  if (saved)
    setenv("TAVRIK_LISTEN_ADDRESS", restore.c_str(), 1);
  else
    unsetenv("TAVRIK_LISTEN_ADDRESS");
}

}  // namespace
