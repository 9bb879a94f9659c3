// The exported entries of libauthclient.so, against a store in a private root.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "authclient/testsupport.h"
#include "kelclient.h"

extern char** environ;

namespace kel::test {
namespace {

static_assert(sizeof(KEL_PIN_PARAMS) == 28);
static_assert(offsetof(KEL_PIN_PARAMS, cMaxPinLen) == 1);
static_assert(offsetof(KEL_PIN_PARAMS, bSelectable) == 2);
static_assert(offsetof(KEL_PIN_PARAMS, bAlphanumeric) == 3);
static_assert(offsetof(KEL_PIN_PARAMS, szSystemPin) == 4);

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTime(kTime);
    ASSERT_EQ(KelInitialize(), 1);
    ASSERT_EQ(QV_Init(&h), ACM_OK);
    ASSERT_NE(h, 0u);
  }
  void TearDown() override {
    QV_Close(h);
    KelCleanup();
  }
  TempRoot root;
  KEL_HANDLE h = 0;
};

TEST_F(ClientTest, PasscodeAcceptedWithShellAndServerTime) {
  PutUser("alice", "1234");
  uint32_t t = 0;
  EXPECT_EQ(KelGetTime(h, &t), ACM_OK);
  EXPECT_EQ(t, static_cast<uint32_t>(kTime));
  char shell[KEL_SHELL_SIZE] = "x";
  EXPECT_EQ(KelGetShell(h, shell), 0);  // nobody authenticated yet
  EXPECT_EQ(QV_Check(h, ("1234" + Code()).c_str(), "alice"), ACM_OK);
  EXPECT_EQ(KelGetShell(h, shell), 1);
  EXPECT_STREQ(shell, "shell-of-alice");
  EXPECT_EQ(QV_Check(h, ("1234" + Code()).c_str(), "alice"), ACM_ACCESS_DENIED);  // replay
  EXPECT_EQ(KelGetShell(h, shell), 0);
  EXPECT_EQ(QV_Check(h, ("1234" + Code()).c_str(), "nobody"), ACM_ACCESS_DENIED);
  EXPECT_EQ(QV_Check(h, nullptr, "alice"), ACM_SYNTAX_ERR_3);
  EXPECT_EQ(QV_Check(0, "1", "alice"), ACM_INVALID_HANDLE);
  EXPECT_EQ(GetUser("alice").fails, 1);
}

TEST_F(ClientTest, MissingOrCorruptStoreIsAnInvalidServer) {
  EXPECT_EQ(QV_Check(h, ("1234" + Code()).c_str(), "alice"), ACM_INVALID_SERVER);
  PutUser("alice", "1234");
  FILE* f = std::fopen((root.path() + "/var/lib/tavrik/tokens/store").c_str(), "a");
  ASSERT_NE(f, nullptr);
  std::fputs("user name=bob colour=red\n", f);
  std::fclose(f);
  EXPECT_EQ(QV_Check(h, ("1234" + Code()).c_str(), "alice"), ACM_INVALID_SERVER);
}

TEST_F(ClientTest, NewPinInEachSelectableMode) {
  for (int mode = 0; mode <= 2; ++mode) {
    SCOPED_TRACE(mode);
    const int64_t t = kTime + mode * 600;
    SetTime(t);
    PutUser("carol", "", true, PinRules{4, 8, mode, false});
    KEL_PIN_PARAMS p;
    EXPECT_EQ(KelGetPinParams(h, &p), 0);
    ASSERT_EQ(QV_Check(h, Code(0, t).c_str(), "carol"), ACM_NEW_PIN_REQUIRED);
    ASSERT_EQ(KelGetPinParams(h, &p), 1);
    EXPECT_EQ(p.cMinPinLen, 4);
    EXPECT_EQ(p.cMaxPinLen, 8);
    EXPECT_EQ(p.bSelectable, mode);
    EXPECT_EQ(p.bAlphanumeric, 0);
    EXPECT_EQ(KelGetUserSelectable(h), mode);
    std::string system_pin = p.szSystemPin;
    EXPECT_EQ(system_pin.empty(), mode == 2);
    EXPECT_LE(system_pin.size(), 15u);

    EXPECT_EQ(QV_Pin(h, "12"), ACM_NEW_PIN_REJECTED);  // too short: the exchange ends
    EXPECT_EQ(QV_Pin(h, "123456"), ACM_WRONG_STATE);
    EXPECT_EQ(KelGetPinParams(h, &p), 0);

    ASSERT_EQ(QV_Check(h, Code(1, t).c_str(), "carol"), ACM_NEW_PIN_REQUIRED);
    ASSERT_EQ(KelGetPinParams(h, &p), 1);
    std::string pin = mode == 2 ? "24680" : p.szSystemPin;
    if (mode == 0) {
      EXPECT_EQ(QV_Pin(h, "24680"), ACM_NEW_PIN_REJECTED);  // only the system PIN
      ASSERT_EQ(QV_Check(h, Code(2, t).c_str(), "carol"), ACM_NEW_PIN_REQUIRED);
      ASSERT_EQ(KelGetPinParams(h, &p), 1);
      pin = p.szSystemPin;
    }
    EXPECT_EQ(QV_Pin(h, pin.c_str()), ACM_NEW_PIN_ACCEPTED);

    // The tokencode of the exchange once more, with the new PIN; then never again.
    int used = mode == 0 ? 2 : 1;
    EXPECT_EQ(QV_Check(h, (pin + Code(used, t)).c_str(), "carol"), ACM_OK);
    EXPECT_EQ(QV_Check(h, (pin + Code(used, t)).c_str(), "carol"), ACM_ACCESS_DENIED);
  }
}

TEST_F(ClientTest, EmptyPinLeavesNewPinMode) {
  PutUser("dave", "1234", true);
  ASSERT_EQ(QV_Check(h, ("1234" + Code()).c_str(), "dave"), ACM_NEW_PIN_REQUIRED);
  EXPECT_EQ(QV_Pin(h, ""), ACM_NEW_PIN_REJECTED);
  EXPECT_EQ(KelGetMinPinLen(h), -1);
  EXPECT_TRUE(GetUser("dave").new_pin);  // the user still has to change it
}

TEST_F(ClientTest, NextTokencodeAfterFailures) {
  PutUser("erin", "1234");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(QV_Check(h, ("9999" + Code()).c_str(), "erin"), ACM_ACCESS_DENIED);
  EXPECT_EQ(QV_Next(h, Code(1).c_str()), ACM_WRONG_STATE);
  ASSERT_EQ(QV_Check(h, ("1234" + Code()).c_str(), "erin"), ACM_NEXT_CODE_REQUIRED);
  EXPECT_EQ(QV_Next(h, Code(2).c_str()), ACM_NEXT_CODE_REJECTED);
  ASSERT_EQ(QV_Check(h, ("1234" + Code(1)).c_str(), "erin"), ACM_NEXT_CODE_REQUIRED);
  EXPECT_EQ(QV_Next(h, Code(2).c_str()), ACM_OK);
  char shell[KEL_SHELL_SIZE];
  EXPECT_EQ(KelGetShell(h, shell), 1);
  SetTime(kTime + 90);
  // The token ran two steps ahead; the server follows it.
  EXPECT_EQ(QV_Check(h, ("1234" + Code(2, kTime + 90)).c_str(), "erin"), ACM_OK);
}

TEST_F(ClientTest, DisabledTokenDeniesUntilReset) {
  PutSettings(StoreSettings{.next_after = 5, .disable_after = 2, .window = 1, .far_window = 10});
  PutUser("fred", "1234");
  EXPECT_EQ(QV_Check(h, ("1234" + Code(-40)).c_str(), "fred"), ACM_ACCESS_DENIED);
  EXPECT_EQ(QV_Check(h, "1234000000", "fred"), ACM_ACCESS_DENIED);
  EXPECT_TRUE(GetUser("fred").disabled);
  EXPECT_EQ(QV_Check(h, ("1234" + Code()).c_str(), "fred"), ACM_ACCESS_DENIED);
}

// Records what a callback saw.
struct Seen {
  std::mutex m;
  std::condition_variable cv;
  std::vector<KEL_HANDLE> handles;
  std::vector<int> statuses, live;
  std::vector<std::thread::id> threads;
  bool Wait(size_t n) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, std::chrono::seconds(30), [&] { return handles.size() >= n; });
  }
};
Seen* g_seen = nullptr;

void Record(KEL_HANDLE handle) {
  int status = -1;
  void* data = nullptr;
  int live = KelGetUserData(handle, &data);
  KelGetAuthenticationStatus(handle, &status);
  std::lock_guard<std::mutex> lock(g_seen->m);
  g_seen->handles.push_back(handle);
  g_seen->statuses.push_back(status);
  g_seen->live.push_back(live && data == g_seen);
  g_seen->threads.push_back(std::this_thread::get_id());
  g_seen->cv.notify_all();
}

TEST_F(ClientTest, UserDataAndExpiryOnTheLibraryThread) {
  Seen seen;
  g_seen = &seen;
  void* data = nullptr;
  EXPECT_EQ(KelGetUserData(h, &data), 1);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(KelSetUserData(h, &seen), ACM_OK);
  EXPECT_EQ(KelGetUserData(h, &data), 1);
  EXPECT_EQ(data, &seen);
  EXPECT_EQ(KelSetTimeout(h, 1, Record), ACM_OK);
  ASSERT_TRUE(seen.Wait(1));
  EXPECT_EQ(seen.handles[0], h);
  EXPECT_EQ(seen.live[0], 1);  // still live while the routine runs
  EXPECT_NE(seen.threads[0], std::this_thread::get_id());
  for (int i = 0; i < 1000 && KelGetUserData(h, &data); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(KelGetUserData(h, &data), 0);
  EXPECT_EQ(QV_Close(h), ACM_INVALID_HANDLE);
  EXPECT_EQ(KelSetUserData(0, &seen), ACM_INVALID_HANDLE);
}

TEST_F(ClientTest, ShutdownExpiresTimedHandles) {
  Seen seen;
  g_seen = &seen;
  KEL_HANDLE untimed = 0;
  ASSERT_EQ(QV_Init(&untimed), ACM_OK);
  KelSetUserData(h, &seen);
  EXPECT_EQ(KelSetTimeout(h, 300, [](KEL_HANDLE) { ADD_FAILURE() << "own routine called"; }), ACM_OK);
  EXPECT_EQ(KelShutdown(Record), ACM_OK);
  ASSERT_EQ(seen.handles.size(), 1u);
  EXPECT_EQ(seen.handles[0], h);
  EXPECT_EQ(seen.live[0], 1);
  EXPECT_EQ(KelGetUserData(h, nullptr), 0);
  EXPECT_EQ(KelGetUserData(untimed, nullptr), 0);
}

TEST_F(ClientTest, AsynchronousRequestsCompleteThroughTheCallback) {
  PutUser("gina", "", true, PinRules{4, 6, 2, false});
  Seen seen;
  g_seen = &seen;
  KEL_HANDLE a = 0;
  ASSERT_EQ(KelInit(&a, &seen, Record), ACM_REQUEST_PENDING);
  ASSERT_TRUE(seen.Wait(1));
  EXPECT_EQ(seen.handles[0], a);
  EXPECT_EQ(seen.statuses[0], ACM_OK);
  EXPECT_EQ(seen.live[0], 1);
  EXPECT_NE(seen.threads[0], std::this_thread::get_id());

  EXPECT_EQ(KelSetUsername(a, "gina"), ACM_OK);
  EXPECT_EQ(KelSetPasscode(a, Code().c_str()), ACM_OK);
  ASSERT_EQ(KelCheck(a, Record), ACM_REQUEST_PENDING);
  ASSERT_TRUE(seen.Wait(2));
  EXPECT_EQ(seen.statuses[1], ACM_NEW_PIN_REQUIRED);

  EXPECT_EQ(KelSetPin(a, "1357"), ACM_OK);
  ASSERT_EQ(KelCancelPin(a, Record), ACM_REQUEST_PENDING);
  ASSERT_TRUE(seen.Wait(3));
  EXPECT_EQ(seen.statuses[2], ACM_ACCESS_DENIED);

  EXPECT_EQ(KelSetPasscode(a, Code(1).c_str()), ACM_OK);
  ASSERT_EQ(KelCheck(a, Record), ACM_REQUEST_PENDING);
  ASSERT_TRUE(seen.Wait(4));
  ASSERT_EQ(seen.statuses[3], ACM_NEW_PIN_REQUIRED);
  ASSERT_EQ(KelSendPin(a, Record), ACM_REQUEST_PENDING);  // the PIN set before
  ASSERT_TRUE(seen.Wait(5));
  EXPECT_EQ(seen.statuses[4], ACM_NEW_PIN_ACCEPTED);

  EXPECT_EQ(KelSetPasscode(a, ("1357" + Code(2)).c_str()), ACM_OK);
  ASSERT_EQ(KelCheck(a, Record), ACM_REQUEST_PENDING);
  ASSERT_TRUE(seen.Wait(6));
  EXPECT_EQ(seen.statuses[5], ACM_OK);

  ASSERT_EQ(KelClose(a, Record), ACM_REQUEST_PENDING);
  ASSERT_TRUE(seen.Wait(7));
  EXPECT_EQ(seen.statuses[6], ACM_OK);
  EXPECT_EQ(seen.live[6], 1);
  for (int i = 0; i < 1000 && KelGetUserData(a, nullptr); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(KelGetUserData(a, nullptr), 0);
  EXPECT_EQ(KelCheck(a, Record), ACM_INVALID_HANDLE);
}

TEST_F(ClientTest, AsynchronousNextTokencode) {
  PutUser("hal", "1234");
  PutSettings(StoreSettings{.next_after = 1, .disable_after = 10, .window = 1, .far_window = 10});
  Seen seen;
  g_seen = &seen;
  KEL_HANDLE a = 0;
  ASSERT_EQ(KelInit(&a, &seen, Record), ACM_REQUEST_PENDING);
  ASSERT_TRUE(seen.Wait(1));
  KelSetUsername(a, "hal");
  KelSetPasscode(a, "12340000000");
  ASSERT_EQ(KelCheck(a, Record), ACM_REQUEST_PENDING);
  ASSERT_TRUE(seen.Wait(2));
  EXPECT_EQ(seen.statuses[1], ACM_ACCESS_DENIED);
  KelSetPasscode(a, ("1234" + Code()).c_str());
  ASSERT_EQ(KelCheck(a, Record), ACM_REQUEST_PENDING);
  ASSERT_TRUE(seen.Wait(3));
  EXPECT_EQ(seen.statuses[2], ACM_NEXT_CODE_REQUIRED);
  KelSetNextPasscode(a, Code(1).c_str());
  ASSERT_EQ(KelSendNextPasscode(a, Record), ACM_REQUEST_PENDING);
  ASSERT_TRUE(seen.Wait(4));
  EXPECT_EQ(seen.statuses[3], ACM_OK);
  QV_Close(a);
}

TEST_F(ClientTest, TwoProcessesKeepTheStoreConsistent) {
  PutSettings(StoreSettings{.next_after = 1000, .disable_after = 1000, .window = 1, .far_window = 10});
  PutUser("shared", "1234");
  const char* build = std::getenv("QV_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  std::string prog = std::string(build) + "/bin/authclient_stress";
  const int kChecks = 25;
  std::vector<pid_t> pids;
  for (int i = 0; i < 2; ++i) {
    std::string n = std::to_string(kChecks);
    char* argv[] = {prog.data(), const_cast<char*>("shared"), n.data(), nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, prog.c_str(), nullptr, nullptr, argv, environ), 0);
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  }
  // Every wrong passcode of both processes was counted: no update was lost.
  EXPECT_EQ(GetUser("shared").fails, 2 * kChecks);
  EXPECT_EQ(QV_Check(h, ("1234" + Code()).c_str(), "shared"), ACM_OK);
}

TEST_F(ClientTest, OneCallCheckAndConversation) {
  PutUser("ivan", "1234");
  char shell[KEL_SHELL_SIZE];
  EXPECT_EQ(KelClientCheck("ivan", ("1234" + Code()).c_str(), shell), ACM_OK);
  EXPECT_STREQ(shell, "shell-of-ivan");
  KEL_HANDLE c = 0;
  ASSERT_EQ(KelStartAuth(&c, "ivan"), ACM_OK);
  EXPECT_EQ(KelContinueAuth(c, ("1234" + Code(1)).c_str()), ACM_OK);
  EXPECT_EQ(KelCloseAuth(c), ACM_OK);
}

}  // namespace
}  // namespace kel::test
