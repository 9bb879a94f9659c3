// authcore.h compiles as C and as C++, and agrees with the runtime's own
// declarations of the same functions (a mismatch is a compile error here).
#include "authcore.h"

#include <gtest/gtest.h>

#include "qvcert.h"
#include "runtime/auth/settings.h"
#include "runtime/auth/timed_message_box.h"
#include "runtime/session/session_manager.h"

extern "C" int AuthcoreHeaderCompilesAsC(void);

namespace {


TEST(AuthcoreHeader, CompilesAsC) { EXPECT_EQ(AuthcoreHeaderCompilesAsC(), 1); }

}  // namespace
