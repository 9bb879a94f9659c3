// A private root for a whole test binary: every path of the system under a
// fresh temporary directory, removed again at the end. Events stay out of the
// system log.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/paths/paths.h"

namespace qv::paths::testing {

class PrivateRootEnvironment : public ::testing::Environment {
 public:
  // `prefix` names the directory: /tmp/<prefix>.XXXXXX.
  explicit PrivateRootEnvironment(std::string prefix) : prefix_(std::move(prefix)) {}

  void SetUp() override {
    std::string tmpl = "/tmp/" + prefix_ + ".XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    setenv("TAVRIK_ROOT", root_.c_str(), 1);
    setenv("TAVRIK_EVENT_SYSLOG", "0", 1);
    SetRootForProcess(root_);
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  const std::string& root() const { return root_; }

 private:
  std::string prefix_;
  std::string root_;
};

}  // namespace qv::paths::testing
