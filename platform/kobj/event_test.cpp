#include <atomic>
#include <thread>
#include <vector>

#include "platform/kobj/kobj.h"
#include "platform/kobj/kobj_test_util.h"

namespace qv::kobj {
namespace {

using testing::Eventually;
using testing::ForkChild;
using testing::JoinChild;
using testing::Pipe;

class EventTest : public testing::KobjTest {};

struct ResetCase {
  const char* name;
  bool manual;
  WaitResult second_wait;  // after one successful wait
};

TEST_F(EventTest, AutoResetConsumesAndManualResetStays) {
  const ResetCase cases[] = {
      {"Auto", false, WaitResult::Timeout},
      {"Manual", true, WaitResult::Signaled},
      {"", false, WaitResult::Timeout},
      {"", true, WaitResult::Signaled},
  };
  for (const ResetCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.manual ? " manual" : " auto"));
    Event e;
    ASSERT_EQ(e.Create(c.name, c.manual, false), OpenStatus::Created);
    EXPECT_EQ(e.Wait(0), WaitResult::Timeout);
    EXPECT_EQ(e.Wait(30), WaitResult::Timeout);
    ASSERT_TRUE(e.Set());
    EXPECT_TRUE(e.Set());  // already set: no change
    EXPECT_EQ(e.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(e.Wait(0), c.second_wait);
    ASSERT_TRUE(e.Reset());
    EXPECT_EQ(e.Wait(0), WaitResult::Timeout);
  }
}

TEST_F(EventTest, SettingsOfTheCreatorHold) {
  Event first, second;
  ASSERT_EQ(first.Create("Req", false, true), OpenStatus::Created);
  ASSERT_EQ(second.Create("Req", true, false), OpenStatus::AlreadyExists);
  EXPECT_EQ(second.Wait(0), WaitResult::Signaled);  // initially set by the creator
  EXPECT_EQ(first.Wait(0), WaitResult::Timeout);    // and auto-reset
  EXPECT_EQ(second.Open("Missing"), OpenStatus::NotFound);
  EXPECT_FALSE(second.is_open());
  EXPECT_EQ(second.Wait(0), WaitResult::Failed);
  EXPECT_FALSE(second.Set());
  EXPECT_EQ(second.Open(""), OpenStatus::InvalidName);
}

TEST_F(EventTest, UnnamedEventsAreDistinct) {
  Event a, b;
  ASSERT_EQ(a.Create("", false, false), OpenStatus::Created);
  ASSERT_EQ(b.Create("", false, false), OpenStatus::Created);
  a.Set();
  EXPECT_EQ(b.Wait(0), WaitResult::Timeout);
  EXPECT_EQ(a.Wait(0), WaitResult::Signaled);
}

TEST_F(EventTest, AutoResetSetReleasesOneWaiterAtATime) {
  Event e;
  ASSERT_EQ(e.Create("", false, false), OpenStatus::Created);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i)
    waiters.emplace_back([&] {
      if (e.Wait(kInfinite) == WaitResult::Signaled) ++released;
    });
  e.Set();
  ASSERT_TRUE(Eventually([&] { return released.load() >= 1; }));
  // The released waiter took the signal with it.
  EXPECT_EQ(e.Wait(0), WaitResult::Timeout);
  e.Set();
  for (auto& w : waiters) w.join();
  EXPECT_EQ(released.load(), 2);
  EXPECT_EQ(e.Wait(0), WaitResult::Timeout);
}

TEST_F(EventTest, ManualResetSetReleasesAllWaiters) {
  Event e;
  ASSERT_EQ(e.Create("Gate", true, false), OpenStatus::Created);
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i)
    waiters.emplace_back([&] {
      if (e.Wait(kInfinite) == WaitResult::Signaled) ++released;
    });
  e.Set();
  for (auto& w : waiters) w.join();
  EXPECT_EQ(released.load(), 3);
}

TEST_F(EventTest, RequestAndReadyAcrossProcesses) {
  Event request, ready;
  ASSERT_EQ(request.Create("Request", false, false), OpenStatus::Created);
  ASSERT_EQ(ready.Create("Ready", false, false), OpenStatus::Created);
  constexpr int kRounds = 20;
  Pipe up;
  const pid_t child = ForkChild([&] {
    Event req, rdy;
    if (req.Open("Request") != OpenStatus::Opened || rdy.Open("Ready") != OpenStatus::Opened) return 1;
    up.Send('h');
    for (int i = 0; i < kRounds; ++i) {
      if (req.Wait(20000) != WaitResult::Signaled) return 2;
      rdy.Set();
    }
    return 0;
  });
  char ack = 0;
  ASSERT_TRUE(up.Receive(&ack));
  for (int i = 0; i < kRounds; ++i) {
    request.Set();
    ASSERT_EQ(ready.Wait(20000), WaitResult::Signaled) << i;
  }
  EXPECT_EQ(JoinChild(child), 0);
}

}  // namespace
}  // namespace qv::kobj
