// The shared library as its callers use it: bound by name, prompting through
// the back end the environment names.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "promptui.h"

namespace {

class PromptLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/promptui-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("TAVRIK_UI", "scripted", 1);
    setenv("TAVRIK_UI_SCRIPT", (dir_ + "/script").c_str(), 1);
    setenv("TAVRIK_UI_RECORD", (dir_ + "/record").c_str(), 1);
    setenv("TAVRIK_TOKENPAD_LIBRARY", "/nonexistent/libtokenpad32.so", 1);
    library_ = dlopen(PROMPTUI_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    init_ = reinterpret_cast<PFN_PROMPTUI>(dlsym(library_, "PROMPTUI_Init"));
    check_ = reinterpret_cast<PFN_PROMPTUI>(dlsym(library_, "PROMPTUI_Check"));
    pin_ = reinterpret_cast<PFN_PROMPTUI>(dlsym(library_, "PROMPTUI_Pin"));
    next_ = reinterpret_cast<PFN_PROMPTUI>(dlsym(library_, "PROMPTUI_Next"));
    close_ = reinterpret_cast<PFN_PROMPTUI_CLOSE>(dlsym(library_, "PROMPTUI_Close"));
    ASSERT_TRUE(init_ && check_ && pin_ && next_ && close_);
  }
  void TearDown() override {
    if (library_ != nullptr) dlclose(library_);
    for (const char* v :
         {"TAVRIK_UI", "TAVRIK_UI_SCRIPT", "TAVRIK_UI_RECORD", "TAVRIK_TOKENPAD_LIBRARY"}) {
      unsetenv(v);
    }
    std::filesystem::remove_all(dir_);
  }

  void Script(const std::string& text) { std::ofstream(dir_ + "/script") << text; }
  std::string Record() {
    std::stringstream s;
    s << std::ifstream(dir_ + "/record").rdbuf();
    return s.str();
  }

  std::string dir_;
  void* library_ = nullptr;
  PFN_PROMPTUI init_ = nullptr, check_ = nullptr, pin_ = nullptr, next_ = nullptr;
  PFN_PROMPTUI_CLOSE close_ = nullptr;
};

TEST_F(PromptLibraryTest, ConversationThroughTheScriptKeepsSecretsOutOfTheRecord) {
  Script(
      "dialog 101 ok 1003=31415926\n"
      "dialog 102 ok 1009=1010 1011=2718 1012=2718\n"
      "dialog 103 ok 1013=16180339\n"
      "dialog 101 cancel\n");
  PROMPT_DATA block;
  std::memset(&block, 0, sizeof block);
  block.wVersion = 1;
  block.bFlags = 14;
  std::strcpy(block.szUsername, "alice");
  block.bMinPinLen = 4;
  block.bMaxPinLen = 8;
  block.bPinSelectable = 1;
  std::strcpy(block.szSystemPin, "99887766");

  EXPECT_EQ(init_(&block), 0);
  EXPECT_EQ(check_(&block), PROMPT_RESULT_OK);
  EXPECT_STREQ(block.szPasscode, "31415926");
  EXPECT_EQ(pin_(&block), PROMPT_RESULT_OK);
  EXPECT_STREQ(block.szNewPin, "2718");
  EXPECT_EQ(next_(&block), PROMPT_RESULT_OK);
  EXPECT_STREQ(block.szNextCode, "16180339");
  EXPECT_EQ(check_(&block), PROMPT_RESULT_CANCEL);
  EXPECT_EQ(check_(&block), PROMPT_RESULT_TIMEOUT);  // script exhausted
  close_(&block);

  std::string record = Record();
  EXPECT_NE(record.find("\"template\":103"), std::string::npos);
  EXPECT_NE(record.find("\"value\":\"alice\""), std::string::npos);
  for (const char* secret : {"31415926", "2718", "16180339", "99887766"}) {
    EXPECT_EQ(record.find(secret), std::string::npos) << secret;
  }
}

}  // namespace
