// Test fixture: a private root for the registry, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/paths/paths.h"
#include "platform/registry/registry.h"

namespace qv::reg {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qvreg-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    ::chmod(root_.c_str(), 0755);  // other users may traverse; keys set their own modes
    qv::paths::SetRootForProcess(root_);
  }
  void TearDown() override {
    qv::paths::SetRootForProcess("");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  // Creates a key and returns it open with all access.
  Key MakeKey(const char* path) {
    Key key;
    EXPECT_EQ(key.Create(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS), ERROR_SUCCESS) << path;
    return key;
  }

  std::string RegistryDir() const { return root_ + "/etc/tavrik/registry"; }

  std::string root_;
};

}  // namespace qv::reg
