// Fixture and process helpers for the kobj tests.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qv::kobj::testing {

// Gives each test a private root, removed afterwards.
class KobjTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Another private root, removed with the fixture.
  std::string NewRoot();
  std::string root_;

 private:
  std::vector<std::string> roots_;
};

// One-way byte channel between a parent and a forked child.
class Pipe {
 public:
  Pipe();
  ~Pipe();
  bool Send(char c);
  // Waits at most 20 s; false on time-out or end of file.
  bool Receive(char* c);

 private:
  int fds_[2] = {-1, -1};
};

// Runs body in a forked child, which exits with its result.
pid_t ForkChild(const std::function<int()>& body);
// The child's exit code, or -1 when it did not exit normally.
int JoinChild(pid_t pid);

// Polls pred until true, at most 20 s.
bool Eventually(const std::function<bool()>& pred);

}  // namespace qv::kobj::testing
