#include "platform/host/host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/registry/registry_fixture.h"

namespace {

using qv::reg::RegistryTest;

class HostTest : public RegistryTest {
 protected:
  void SetName(const std::string& value) {
    auto key = MakeKey(qv::host::kComputerNameKey);
    ASSERT_EQ(qv::reg::SetValue(key.get(), qv::host::kComputerNameValue, qv::reg::REG_SZ, value.c_str(),
                                static_cast<uint32_t>(value.size() + 1)),
              qv::reg::ERROR_SUCCESS);
  }
};

TEST_F(HostTest, ComputerNameDefaultsToShortHostName) {
  char buf[256] = {};
  ASSERT_EQ(gethostname(buf, sizeof buf - 1), 0);
  std::string expected(buf);
  expected = expected.substr(0, expected.find('.')).substr(0, 15);
  std::string name;
  ASSERT_TRUE(qv::host::GetComputerName(&name));
  EXPECT_EQ(name, expected);
}

TEST_F(HostTest, ComputerNameSettingIsCutTo15Characters) {
  const struct {
    const char* setting;
    const char* expected;
  } cases[] = {{"WKS01", "WKS01"}, {"A-VERY-LONG-MACHINE-NAME", "A-VERY-LONG-MAC"}};
  for (const auto& c : cases) {
    SetName(c.setting);
    std::string name;
    ASSERT_TRUE(qv::host::GetComputerName(&name));
    EXPECT_EQ(name, c.expected);
  }
}

TEST_F(HostTest, VolumeFactsFollowTheMachineIdFile) {
  const std::string file = root_ + "/machine-id";
  std::ofstream(file) << "0123456789abcdef0123456789abcdef\n";
  setenv("QV_MACHINE_ID_FILE", file.c_str(), 1);
  qv::host::VolumeFacts facts;
  int error = 0;
  EXPECT_TRUE(qv::host::GetVolumeFacts(&facts, &error));
  EXPECT_EQ(facts.machineId, "0123456789abcdef0123456789abcdef");
  EXPECT_GT(facts.maxComponent, 0u);
  EXPECT_FALSE(facts.fileSystem.empty());

  // An override that cannot be read is an error, not a silent fallback.
  setenv("QV_MACHINE_ID_FILE", (root_ + "/missing").c_str(), 1);
  EXPECT_FALSE(qv::host::GetVolumeFacts(&facts, &error));
  EXPECT_NE(error, 0);
  unsetenv("QV_MACHINE_ID_FILE");
}

}  // namespace
