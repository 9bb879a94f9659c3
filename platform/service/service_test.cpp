#include "platform/service/service.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/paths/paths.h"

namespace qv::service {
namespace {

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/qvservice_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    qv::paths::SetRootForProcess(root_);
  }
  void TearDown() override {
    qv::paths::SetRootForProcess("");
    std::filesystem::remove_all(root_);
  }
  std::string root_;
};

// A child that holds the lock until told to go; returns its pid.
pid_t HoldInChild(const std::string& name, int* release) {
  int ready[2], go[2];
  if (pipe(ready) != 0 || pipe(go) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    close(go[1]);
    InstanceLock lock;
    char c = lock.Acquire(name) == 0 ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    (void)!read(go[0], &c, 1);
    _exit(0);
  }
  close(ready[1]);
  close(go[0]);
  char c = 0;
  (void)!read(ready[0], &c, 1);
  close(ready[0]);
  *release = go[1];
  return c == 'y' ? pid : -1;
}

TEST_F(ServiceTest, SecondInstanceIsRefusedWhileTheFirstLives) {
  int release = -1;
  pid_t holder = HoldInChild("promptsvc95", &release);
  ASSERT_GT(holder, 0);

  EXPECT_EQ(RunningInstance("promptsvc95"), holder);
  InstanceLock second;
  EXPECT_EQ(second.Acquire("promptsvc95"), EEXIST);
  EXPECT_FALSE(second.held());
  // Another name is independent.
  InstanceLock other;
  EXPECT_EQ(other.Acquire("relaysvc"), 0);

  close(release);
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  EXPECT_EQ(RunningInstance("promptsvc95"), 0);
  EXPECT_EQ(second.Acquire("promptsvc95"), 0);
  EXPECT_EQ(RunningInstance("promptsvc95"), getpid());
}

TEST_F(ServiceTest, StalePidFileOfADeadProcessDoesNotBlock) {
  ASSERT_TRUE(qv::paths::MakeDirs(qv::paths::RunDir()));
  std::ofstream(qv::paths::RunDir() + "/promptsvc95.pid") << "1\n";
  EXPECT_EQ(RunningInstance("promptsvc95"), 0);
  EXPECT_EQ(SignalInstance("promptsvc95", SIGTERM, 100), ESRCH);
  InstanceLock lock;
  EXPECT_EQ(lock.Acquire("promptsvc95"), 0);
}

TEST_F(ServiceTest, StopSignalReachesTheHolderAndWaitsForItToGo) {
  pid_t child = fork();
  if (child == 0) {
    BlockControlSignals();
    InstanceLock lock;
    if (lock.Acquire("svc") != 0) _exit(2);
    for (int i = 0; i < 100; ++i)
      if (WaitControl(100) == Control::kStop) _exit(0);
    _exit(3);
  }
  for (int i = 0; i < 200 && RunningInstance("svc") != child; ++i) usleep(10000);
  ASSERT_EQ(RunningInstance("svc"), child);
  EXPECT_EQ(SignalInstance("svc", SIGTERM, 5000), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ControlTest, SignalsMapToControls) {
  sigset_t old;
  pthread_sigmask(SIG_SETMASK, nullptr, &old);
  ASSERT_EQ(BlockControlSignals(), 0);
  const struct {
    int sig;
    Control want;
  } cases[] = {{SIGTERM, Control::kStop},
               {SIGINT, Control::kStop},
               {SIGUSR1, Control::kSessionEnd},
               {SIGHUP, Control::kInterrogate}};
  for (const auto& c : cases) {
    ASSERT_EQ(pthread_kill(pthread_self(), c.sig), 0);
    EXPECT_EQ(WaitControl(1000), c.want) << c.sig;
  }
  EXPECT_EQ(WaitControl(10), Control::kNone);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

TEST(NotifyTest, ReportsReachTheManagerSocket) {
  char dir[] = "/tmp/qvnotify.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/notify";
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  timeval tv{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setenv("NOTIFY_SOCKET", path.c_str(), 1);

  auto next = [&] {
    char buf[512] = {};
    ssize_t n = recv(fd, buf, sizeof buf - 1, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  };
  ReportStartPending(3000, "Starting");
  std::string m = next();
  EXPECT_NE(m.find("EXTEND_TIMEOUT_USEC=3000000"), std::string::npos) << m;
  ReportRunning("Listening");
  m = next();
  EXPECT_NE(m.find("READY=1"), std::string::npos) << m;
  EXPECT_NE(m.find("STATUS=Listening"), std::string::npos) << m;
  ReportStopPending(2500, nullptr);
  m = next();
  EXPECT_NE(m.find("STOPPING=1"), std::string::npos) << m;
  EXPECT_NE(m.find("EXTEND_TIMEOUT_USEC=2500000"), std::string::npos) << m;
  ReportStopped(0xC00028A5u);
  m = next();
  EXPECT_NE(m.find("0xC00028A5"), std::string::npos) << m;

  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(ManagerPresent());
  ReportRunning("nobody listens");  // no-op, must not fail
  close(fd);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qv::service
