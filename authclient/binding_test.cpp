#include "authclient/binding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kel {
namespace {

std::string LibDir() {
  const char* build = std::getenv("QV_BUILD_DIR");
  return build ? std::string(build) + "/lib/" : std::string("lib/");
}

TEST(Binding, BindsTheRealLibraryAndRefusesAnIncompleteOne) {
  ClientBinding b;
  ASSERT_EQ(BindClient((LibDir() + "libauthclient.so").c_str(), &b), QV_OK);
  EXPECT_NE(b.library, nullptr);
  ASSERT_NE(b.api.KelInitialize, nullptr);
  EXPECT_EQ(b.api.KelInitialize(), 1);
  UnbindClient(&b);
  EXPECT_EQ(b.library, nullptr);

  EXPECT_EQ(BindClient((LibDir() + "libauthclient_incomplete.so").c_str(), &b), QVS_AM_AUTHCLIENT_FAILED);
  EXPECT_EQ(b.library, nullptr);
  EXPECT_EQ(BindClient((LibDir() + "libnothing-here.so").c_str(), &b), QVS_AM_AUTHCLIENT_FAILED);
  EXPECT_EQ(BindClient(nullptr, &b), QVS_AM_AUTHCLIENT_FAILED);
}

// A lookup that knows every entry but one.
struct Missing {
  const char* name;
};
void* LookupAllBut(void* context, const char* name) {
  static int dummy;
  return std::strcmp(name, static_cast<Missing*>(context)->name) == 0 ? nullptr : &dummy;
}

TEST(Binding, EveryOneOfTheEntriesIsRequired) {
  for (size_t i = 0; i < kClientEntryCount; ++i) {
    Missing m{ClientEntryNames()[i]};
    ClientApi api;
    EXPECT_FALSE(FillClientApi(LookupAllBut, &m, &api)) << m.name;
    EXPECT_EQ(api.QV_Init, nullptr);
  }
  Missing none{""};
  ClientApi api;
  EXPECT_TRUE(FillClientApi(LookupAllBut, &none, &api));
  EXPECT_NE(api.KelCloseAuth, nullptr);
}

}  // namespace
}  // namespace kel
