#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/kobj/kobj.h"
#include "platform/kobj/kobj_test_util.h"
#include "platform/paths/paths.h"

namespace qv::kobj {
namespace {

using testing::ForkChild;
using testing::JoinChild;
using testing::Pipe;

class MutexTest : public testing::KobjTest {};

// Runs fn on another thread and returns its result.
template <typename Fn>
auto OnOtherThread(Fn fn) {
  decltype(fn()) result{};
  std::thread t([&] { result = fn(); });
  t.join();
  return result;
}

TEST_F(MutexTest, CreateOfExistingAnswersAlreadyExistsWithoutOwnership) {
  Mutex first, second;
  ASSERT_EQ(first.Create("Detect", true), OpenStatus::Created);
  ASSERT_EQ(second.Create("Detect", true), OpenStatus::AlreadyExists);
  EXPECT_TRUE(second.is_open());

  // first is owned by this thread; second's Create took nothing.
  EXPECT_EQ(OnOtherThread([&] { return second.Wait(0); }), WaitResult::Timeout);
  EXPECT_TRUE(first.Release());
  EXPECT_FALSE(second.Release());
  EXPECT_EQ(OnOtherThread([&] {
              WaitResult r = second.Wait(0);
              second.Release();
              return r;
            }),
            WaitResult::Signaled);
}

TEST_F(MutexTest, ObjectLivesWhileAnyHandleIsOpen) {
  Mutex m;
  EXPECT_EQ(m.Open("Life"), OpenStatus::NotFound);
  EXPECT_FALSE(m.is_open());

  Mutex a;
  ASSERT_EQ(a.Create("Life", false), OpenStatus::Created);
  EXPECT_EQ(m.Open("Life"), OpenStatus::Opened);
  a.Close();
  Mutex b;
  EXPECT_EQ(b.Create("Life", false), OpenStatus::AlreadyExists);  // m still open
  b.Close();
  m.Close();
  EXPECT_EQ(m.Open("Life"), OpenStatus::NotFound);
  EXPECT_EQ(b.Create("Life", false), OpenStatus::Created);
}

TEST_F(MutexTest, ObjectOfAKilledProcessIsGone) {
  const pid_t child = ForkChild([] {
    Mutex m;
    if (m.Create("Loaded", false) != OpenStatus::Created) return 1;
    ::raise(SIGKILL);
    return 2;
  });
  EXPECT_EQ(JoinChild(child), -1);
  Mutex m;
  EXPECT_EQ(m.Create("Loaded", false), OpenStatus::Created);
}

TEST_F(MutexTest, OwnerMayWaitAgainAndOthersMayNotRelease) {
  Mutex m;
  ASSERT_EQ(m.Create("Rec", false), OpenStatus::Created);
  ASSERT_EQ(m.Wait(0), WaitResult::Signaled);
  ASSERT_EQ(m.Wait(kInfinite), WaitResult::Signaled);
  EXPECT_FALSE(OnOtherThread([&] { return m.Release(); }));
  EXPECT_TRUE(m.Release());
  EXPECT_EQ(OnOtherThread([&] { return m.Wait(0); }), WaitResult::Timeout);  // still held once
  EXPECT_TRUE(m.Release());
  EXPECT_FALSE(m.Release());
  EXPECT_EQ(OnOtherThread([&] {
              WaitResult r = m.Wait(0);
              m.Release();
              return r;
            }),
            WaitResult::Signaled);
}

TEST_F(MutexTest, TimedWaitOnAHeldMutexTimesOut) {
  Mutex m;
  ASSERT_EQ(m.Create("Timed", true), OpenStatus::Created);
  for (std::uint32_t ms : {0u, 1u, 50u}) {
    EXPECT_EQ(OnOtherThread([&] { return m.Wait(ms); }), WaitResult::Timeout) << ms;
  }
  EXPECT_TRUE(m.Release());
}

TEST_F(MutexTest, ClosedHandleFails) {
  Mutex m;
  EXPECT_EQ(m.Wait(0), WaitResult::Failed);
  EXPECT_FALSE(m.Release());
  EXPECT_EQ(m.Create("", false), OpenStatus::InvalidName);
  EXPECT_EQ(m.Open(""), OpenStatus::InvalidName);
}

TEST_F(MutexTest, ThreadsOfOneProcessExcludeEachOther) {
  Mutex shared;
  ASSERT_EQ(shared.Create("Threads", false), OpenStatus::Created);
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> failures{0};
  long counter = 0;  // plain: only touched under the mutex
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Half share one handle, half use their own.
      Mutex own;
      Mutex* m = &shared;
      if (t % 2) {
        if (own.Open("Threads") != OpenStatus::Opened) {
          ++failures;
          return;
        }
        m = &own;
      }
      for (int i = 0; i < kRounds; ++i) {
        if (m->Wait(i % 3 ? kInfinite : 10000) != WaitResult::Signaled) {
          ++failures;
          continue;
        }
        if (inside.fetch_add(1) != 0) ++overlaps;
        long seen = counter;
        std::this_thread::yield();
        counter = seen + 1;
        inside.fetch_sub(1);
        if (!m->Release()) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(counter, kThreads * kRounds);
}

TEST_F(MutexTest, AnotherProcessExcludesUs) {
  Mutex m;
  ASSERT_EQ(m.Create("Procs", false), OpenStatus::Created);
  Pipe up, down;
  const pid_t child = ForkChild([&] {
    Mutex c;
    if (c.Open("Procs") != OpenStatus::Opened || c.Wait(10000) != WaitResult::Signaled) return 1;
    up.Send('h');
    char go;
    if (!down.Receive(&go)) return 2;
    return c.Release() ? 0 : 3;
  });
  char ack = 0;
  ASSERT_TRUE(up.Receive(&ack));
  EXPECT_EQ(m.Wait(0), WaitResult::Timeout);
  EXPECT_EQ(m.Wait(20), WaitResult::Timeout);
  down.Send('g');
  EXPECT_EQ(m.Wait(20000), WaitResult::Signaled);
  EXPECT_TRUE(m.Release());
  EXPECT_EQ(JoinChild(child), 0);
}

class MutexAbandonTest : public MutexTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(MutexAbandonTest, KilledOwnerProcessLeavesItAbandonedToTheNextWaiter) {
  Mutex m;
  ASSERT_EQ(m.Create("Abandon", false), OpenStatus::Created);
  Pipe up;
  const pid_t child = ForkChild([&] {
    Mutex c;
    if (c.Open("Abandon") != OpenStatus::Opened || c.Wait(0) != WaitResult::Signaled) return 1;
    up.Send('h');
    for (int i = 0; i < 300; ++i) ::usleep(100000);  // killed long before
    return 2;
  });
  char ack = 0;
  ASSERT_TRUE(up.Receive(&ack));
  std::thread killer([child] {
    ::usleep(20000);
    ::kill(child, SIGKILL);
  });
  EXPECT_EQ(m.Wait(GetParam()), WaitResult::Abandoned);
  killer.join();
  EXPECT_EQ(JoinChild(child), -1);

  // Abandoned means owned: others are kept out until released, then it is
  // an ordinary mutex again.
  EXPECT_EQ(OnOtherThread([&] { return m.Wait(0); }), WaitResult::Timeout);
  EXPECT_TRUE(m.Release());
  EXPECT_EQ(m.Wait(0), WaitResult::Signaled);
  EXPECT_TRUE(m.Release());
}

INSTANTIATE_TEST_SUITE_P(BlockingAndTimed, MutexAbandonTest, ::testing::Values(kInfinite, 20000u));

TEST_F(MutexTest, OwnerThreadExitingLeavesItAbandoned) {
  Mutex m;
  ASSERT_EQ(m.Create("ThreadGone", false), OpenStatus::Created);
  EXPECT_EQ(OnOtherThread([&] { return m.Wait(0); }), WaitResult::Signaled);
  EXPECT_EQ(m.Wait(0), WaitResult::Abandoned);
  EXPECT_TRUE(m.Release());
  EXPECT_EQ(m.Wait(0), WaitResult::Signaled);
  EXPECT_TRUE(m.Release());
}

TEST_F(MutexTest, NamesAreCaseSensitiveAndAnyBytesAreSafe) {
  Mutex a, b, c, d;
  EXPECT_EQ(a.Create("AgentSubauth-ws/1\\..", false), OpenStatus::Created);
  EXPECT_EQ(b.Create("agentsubauth-WS/1\\..", false), OpenStatus::Created);
  EXPECT_EQ(c.Create(std::string("nul\0byte", 8), false), OpenStatus::Created);
  EXPECT_EQ(d.Create("AgentSubauth-ws/1\\..", false), OpenStatus::AlreadyExists);
}

TEST_F(MutexTest, SameNameUnderTwoRootsIsTwoObjects) {
  Mutex a;
  ASSERT_EQ(a.Create("Shared", true), OpenStatus::Created);
  qv::paths::SetRootForProcess(NewRoot());
  Mutex b;
  ASSERT_EQ(b.Create("Shared", false), OpenStatus::Created);
  EXPECT_EQ(OnOtherThread([&] {
              WaitResult r = b.Wait(0);
              b.Release();
              return r;
            }),
            WaitResult::Signaled);
  EXPECT_TRUE(a.Release());
}

}  // namespace
}  // namespace qv::kobj
