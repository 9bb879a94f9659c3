#include "platform/desktop/desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qv::desktop {
namespace {

TEST(InputDesktop, EnvironmentOverridesTheSessionState) {
  std::string name;
  setenv("TAVRIK_INPUT_DESKTOP", "Screen-saver", 1);
  EXPECT_EQ(InputDesktopName(name), QV_OK);
  EXPECT_EQ(name, "Screen-saver");
  unsetenv("TAVRIK_INPUT_DESKTOP");
  // Without an override some name is always given; on a machine without a
  // locked graphical session it is the default desktop.
  EXPECT_EQ(InputDesktopName(name), QV_OK);
  EXPECT_TRUE(name == "Default" || name == "Screen-saver") << name;
}

}  // namespace
}  // namespace qv::desktop
