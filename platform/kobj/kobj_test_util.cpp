#include "platform/kobj/kobj_test_util.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/paths/paths.h"

namespace qv::kobj::testing {

void KobjTest::SetUp() {
  root_ = NewRoot();
  qv::paths::SetRootForProcess(root_);
}

void KobjTest::TearDown() {
  qv::paths::SetRootForProcess("");
  std::error_code ec;
  for (const std::string& r : roots_) std::filesystem::remove_all(r, ec);
}

std::string KobjTest::NewRoot() {
  char tmpl[] = "/tmp/kobjtest.XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir) return {};
  roots_.push_back(dir);
  return dir;
}

Pipe::Pipe() {
  if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
}

Pipe::~Pipe() {
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
}

bool Pipe::Send(char c) { return ::write(fds_[1], &c, 1) == 1; }

bool Pipe::Receive(char* c) {
  struct pollfd p {fds_[0], POLLIN, 0};
  if (::poll(&p, 1, 20000) != 1) return false;
  return ::read(fds_[0], c, 1) == 1;
}

pid_t ForkChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

int JoinChild(pid_t pid) {
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Eventually(const std::function<bool()>& pred) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pred();
}

}  // namespace qv::kobj::testing
