#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/kobj/kobj.h"
#include "platform/kobj/kobj_test_util.h"

namespace qv::kobj {
namespace {

using testing::ForkChild;
using testing::JoinChild;

class AccessTest : public testing::KobjTest {};

// Opens the object of one kind by name; keeps the handle in the child.
struct Kind {
  const char* label;
  std::function<OpenStatus(const char*, Access)> create;
  std::function<OpenStatus(const char*)> open;
};

TEST_F(AccessTest, OnlyObjectsForEveryoneOpenForAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to another user";
  ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);

  Mutex m1, m2;
  Event e1, e2;
  Semaphore s1, s2;
  SharedMemory h1, h2;
  const Kind kinds[] = {
      {"mutex", [&](const char* n, Access a) { return (a == Access::Owner ? m1 : m2).Create(n, false, a); },
       [](const char* n) { Mutex m; return m.Open(n); }},
      {"event", [&](const char* n, Access a) { return (a == Access::Owner ? e1 : e2).Create(n, false, false, a); },
       [](const char* n) { Event e; return e.Open(n); }},
      {"semaphore", [&](const char* n, Access a) { return (a == Access::Owner ? s1 : s2).Create(n, 0, 1, a); },
       [](const char* n) { Semaphore s; return s.Open(n); }},
      {"memory", [&](const char* n, Access a) { return (a == Access::Owner ? h1 : h2).Create(n, 64, a); },
       [](const char* n) { SharedMemory h; return h.Open(n); }},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.label);
    ASSERT_EQ(k.create("Private", Access::Owner), OpenStatus::Created);
    ASSERT_EQ(k.create("Public", Access::Everyone), OpenStatus::Created);
    const pid_t child = ForkChild([&] {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 10;
      if (k.open("Private") != OpenStatus::AccessDenied) return 1;
      if (k.open("Public") != OpenStatus::Opened) return 2;
      return 0;
    });
    EXPECT_EQ(JoinChild(child), 0);
  }
}

}  // namespace
}  // namespace qv::kobj
