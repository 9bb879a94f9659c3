#include <atomic>
#include <thread>
#include <vector>

#include "platform/kobj/kobj.h"
#include "platform/kobj/kobj_test_util.h"

namespace qv::kobj {
namespace {

using testing::ForkChild;
using testing::JoinChild;
using testing::Pipe;

class SemaphoreTest : public testing::KobjTest {};

TEST_F(SemaphoreTest, RejectsBadCounts) {
  struct Case {
    std::int32_t initial, max;
  };
  for (const Case& c : {Case{-1, 1}, Case{2, 1}, Case{0, 0}, Case{0, -5}}) {
    Semaphore s;
    EXPECT_EQ(s.Create("Bad", c.initial, c.max), OpenStatus::InvalidArgument) << c.initial << "/" << c.max;
    EXPECT_EQ(s.Create("", c.initial, c.max), OpenStatus::InvalidArgument) << c.initial << "/" << c.max;
    EXPECT_FALSE(s.is_open());
  }
}

TEST_F(SemaphoreTest, CountsStayWithinTheMaximum) {
  for (const char* name : {"List", ""}) {
    SCOPED_TRACE(name);
    Semaphore s;
    ASSERT_EQ(s.Create(name, 1, 3), OpenStatus::Created);
    std::int32_t previous = -1;
    EXPECT_FALSE(s.Release(3, &previous));  // 1 + 3 > 3: nothing added
    EXPECT_EQ(previous, -1);
    EXPECT_FALSE(s.Release(0));
    EXPECT_FALSE(s.Release(-1));
    EXPECT_TRUE(s.Release(2, &previous));
    EXPECT_EQ(previous, 1);
    EXPECT_FALSE(s.Release(1));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s.Wait(0), WaitResult::Signaled) << i;
    EXPECT_EQ(s.Wait(0), WaitResult::Timeout);
    EXPECT_EQ(s.Wait(30), WaitResult::Timeout);
    EXPECT_TRUE(s.Release(1, &previous));
    EXPECT_EQ(previous, 0);
  }
}

TEST_F(SemaphoreTest, OpenSharesTheCount) {
  Semaphore a, b;
  ASSERT_EQ(a.Create("Shared", 1, 1), OpenStatus::Created);
  ASSERT_EQ(b.Create("Shared", 0, 5), OpenStatus::AlreadyExists);  // counts of the creator hold
  EXPECT_FALSE(b.Release(1));
  EXPECT_EQ(b.Wait(0), WaitResult::Signaled);
  EXPECT_EQ(a.Wait(0), WaitResult::Timeout);
  Semaphore c;
  EXPECT_EQ(c.Open("Missing"), OpenStatus::NotFound);
  EXPECT_EQ(c.Wait(0), WaitResult::Failed);
  EXPECT_FALSE(c.Release(1));
}

TEST_F(SemaphoreTest, ReleaseOfNWakesNWaiters) {
  Semaphore s;
  ASSERT_EQ(s.Create("Wake", 0, 10), OpenStatus::Created);
  std::atomic<int> taken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (s.Wait(kInfinite) == WaitResult::Signaled) ++taken;
    });
  EXPECT_TRUE(s.Release(3));
  for (auto& w : waiters) w.join();
  EXPECT_EQ(taken.load(), 3);
  EXPECT_EQ(s.Wait(0), WaitResult::Timeout);
}

TEST_F(SemaphoreTest, CountsPassBetweenProcesses) {
  Semaphore to_child, to_parent;
  ASSERT_EQ(to_child.Create("ToChild", 0, 1), OpenStatus::Created);
  ASSERT_EQ(to_parent.Create("ToParent", 0, 1), OpenStatus::Created);
  Pipe up;
  const pid_t child = ForkChild([&] {
    Semaphore in, out;
    if (in.Open("ToChild") != OpenStatus::Opened || out.Open("ToParent") != OpenStatus::Opened) return 1;
    up.Send('h');
    for (int i = 0; i < 10; ++i) {
      if (in.Wait(20000) != WaitResult::Signaled) return 2;
      if (!out.Release(1)) return 3;
    }
    return 0;
  });
  char ack = 0;
  ASSERT_TRUE(up.Receive(&ack));
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(to_child.Release(1));
    ASSERT_EQ(to_parent.Wait(20000), WaitResult::Signaled) << i;
  }
  EXPECT_EQ(JoinChild(child), 0);
}

}  // namespace
}  // namespace qv::kobj
