#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/netbios/netbios.h"
#include "platform/registry/registry.h"
#include "platform/resolver/resolver.h"
#include "runtime/auth/settings.h"
#include "runtime/session/session_internal.h"

namespace {

using qv::session::internal::ResolveHost;

class FakeNetBios : public qv::netbios::NameService {
 public:
  bool FindName(const unsigned char (&name)[qv::netbios::kNameLength],
                uint32_t* address) override {
    queries.emplace_back(reinterpret_cast<const char*>(name), qv::netbios::kNameLength);
    if (answer) *address = answer;
    return answer != 0;
  }
  std::vector<std::string> queries;
  uint32_t answer = 0;
};

class FakeResolver : public qv::resolver::Resolver {
 public:
  qv::resolver::Result Forward(const char* name, uint32_t* address, int* error) override {
    names.push_back(name);
    *error = answer ? 0 : 1;
    if (!answer) return qv::resolver::Result::kNotFound;
    *address = answer;
    return qv::resolver::Result::kOk;
  }
  qv::resolver::Result Reverse(uint32_t, char*, size_t, int* error) override {
    *error = 1;
    return qv::resolver::Result::kNotFound;
  }
  std::vector<std::string> names;
  uint32_t answer = 0;
};

class ResolveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qv::reg::DeleteKey(qv::reg::HKEY_LOCAL_MACHINE, QV_SETTINGS_KEY);
    qv::netbios::SetForProcess(&netbios_);
    qv::resolver::SetForProcess(&resolver_);
  }
  void TearDown() override {
    qv::netbios::SetForProcess(nullptr);
    qv::resolver::SetForProcess(nullptr);
    qv::reg::DeleteKey(qv::reg::HKEY_LOCAL_MACHINE, QV_SETTINGS_KEY);
  }
  void DisableNetBios(uint32_t v) {
    qv::reg::Key key;
    ASSERT_EQ(key.Create(qv::reg::HKEY_LOCAL_MACHINE, QV_SETTINGS_KEY, qv::reg::KEY_ALL_ACCESS),
              qv::reg::ERROR_SUCCESS);
    ASSERT_EQ(qv::reg::SetValue(key.get(), "DisableNetBIOSLookup", qv::reg::REG_DWORD, &v,
                                sizeof v),
              qv::reg::ERROR_SUCCESS);
  }
  FakeNetBios netbios_;
  FakeResolver resolver_;
};

TEST_F(ResolveTest, LongMultiLabelNameIsCutForNetBiosAndWholeForTheResolver) {
  resolver_.answer = 0x0A00000Au;
  uint32_t a = 0;
  ASSERT_EQ(ResolveHost("workstation-42.corp.example", &a), QV_OK);
  EXPECT_EQ(a, 0x0A00000Au);
  ASSERT_EQ(netbios_.queries.size(), 1u);
  EXPECT_EQ(netbios_.queries[0], "WORKSTATION-42.C");
  ASSERT_EQ(resolver_.names.size(), 1u);
  EXPECT_EQ(resolver_.names[0], "workstation-42.corp.example");

  netbios_.queries.clear();
  ASSERT_EQ(ResolveHost("pc7", &a), QV_OK);
  EXPECT_EQ(netbios_.queries[0], "PC7             ");
}

TEST_F(ResolveTest, NetBiosAnswerIsUsedFirst) {
  netbios_.answer = 0x0B00000Bu;
  resolver_.answer = 0x0A00000Au;
  uint32_t a = 0;
  ASSERT_EQ(ResolveHost("pc7", &a), QV_OK);
  EXPECT_EQ(a, 0x0B00000Bu);
  EXPECT_TRUE(resolver_.names.empty());
}

TEST_F(ResolveTest, DisabledNetBiosMakesNoQueryAndIsReadAtEachUse) {
  resolver_.answer = 0x0A00000Au;
  netbios_.answer = 0x0B00000Bu;
  DisableNetBios(1);
  uint32_t a = 0;
  ASSERT_EQ(ResolveHost("pc7", &a), QV_OK);
  EXPECT_EQ(a, 0x0A00000Au);
  EXPECT_TRUE(netbios_.queries.empty());
  DisableNetBios(0);
  ASSERT_EQ(ResolveHost("pc7", &a), QV_OK);
  EXPECT_EQ(netbios_.queries.size(), 1u);
}

TEST_F(ResolveTest, DottedAddressesAskNobodyAndUnknownNamesFail) {
  uint32_t a = 0;
  ASSERT_EQ(ResolveHost("127.0.0.1", &a), QV_OK);
  EXPECT_EQ(a, 0x0100007Fu);
  EXPECT_TRUE(netbios_.queries.empty());
  EXPECT_TRUE(resolver_.names.empty());

  EXPECT_EQ(ResolveHost("unknown", &a), QVS_SM_HOST_NOT_RESOLVED);
  EXPECT_EQ(ResolveHost("", &a), QVS_SM_HOST_NOT_RESOLVED);
  EXPECT_EQ(ResolveHost(nullptr, &a), QVS_SM_HOST_NOT_RESOLVED);
}

}  // namespace
