#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/ui/backends.h"
#include "platform/ui/ui.h"

namespace qv::ui {
namespace {

class ScriptedBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qvui-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    script_ = dir_ + "/script";
    record_ = dir_ + "/record";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void WriteScript(const std::string& text) { std::ofstream(script_, std::ios::trunc) << text; }

  std::vector<std::string> RecordLines() {
    std::ifstream in(record_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::unique_ptr<Backend> Make() { return internal::MakeScriptedBackend(script_, record_); }

  static Dialog CodeDialog() {
    Dialog d;
    d.templateId = 101;
    d.caption = "Caption";
    d.texts.push_back({0, "Shown", true, ""});
    d.texts.push_back({1018, "New PIN: 4242", true, "New PIN: ********"});
    Field user;
    user.id = 1002;
    user.label = "User";
    user.value = "alice";
    user.readOnly = true;
    Field code;
    code.id = 1003;
    code.label = "Code";
    code.secret = true;
    code.maxLength = 6;
    code.numericOnly = true;
    d.fields = {user, code};
    d.buttons = {{kIdOk, "OK"}, {kIdCancel, "Cancel"}};
    d.timeoutSeconds = 120;
    return d;
  }

  std::string dir_, script_, record_;
};

TEST_F(ScriptedBackendTest, AnswersAsAUserWouldTypeAndRecordsSecretsMasked) {
  WriteScript("dialog 101 ok 1002=mallory 1003=12ab345678\n");
  auto ui = Make();
  Dialog d = CodeDialog();
  EXPECT_EQ(ui->Dialog(d, nullptr), kIdOk);
  EXPECT_EQ(d.fields[0].value, "alice");   // read-only
  EXPECT_EQ(d.fields[1].value, "123456");  // digits only, cut to its length

  auto lines = RecordLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\"template\":101"), std::string::npos);
  EXPECT_NE(lines[0].find("\"answer\":\"ok\""), std::string::npos);
  EXPECT_NE(lines[0].find("\"value\":\"alice\""), std::string::npos);
  EXPECT_NE(lines[0].find("New PIN: ********"), std::string::npos);
  EXPECT_EQ(lines[0].find("123456"), std::string::npos);
  EXPECT_EQ(lines[0].find("4242"), std::string::npos);
}

TEST_F(ScriptedBackendTest, UnscriptedPromptsTimeOutAndBoxesTakeTheirDefault) {
  WriteScript("box \"sure\" yes\n");
  auto ui = Make();
  Dialog d = CodeDialog();
  EXPECT_EQ(ui->Dialog(d, nullptr), kIdTimedOut);  // the next line is not for a dialog
  EXPECT_EQ(ui->MessageBox("C", "Access Denied.", kMbOk | kMbIconStop, 60), kIdOk);
  EXPECT_EQ(ui->MessageBox("C", "Other", kMbYesNo | kMbDefButton2, 60), kIdNo);
  EXPECT_EQ(ui->MessageBox("C", "Are you sure?", kMbYesNo | kMbDefButton2, 60), kIdYes);
  EXPECT_EQ(ui->MessageBox("C", "Are you sure?", kMbYesNo | kMbDefButton2, 60), kIdNo);
  auto lines = RecordLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[0].find("\"source\":\"unscripted\""), std::string::npos);
  EXPECT_NE(lines[1].find("\"source\":\"default\""), std::string::npos);
  EXPECT_NE(lines[3].find("\"source\":\"script\""), std::string::npos);
}

TEST_F(ScriptedBackendTest, ProcessesShareThePositionInTheScript) {
  WriteScript("dialog * ok 1003=111111\ndialog * ok 1003=222222\ndialog * cancel\n");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto ui = Make();
    Dialog d = CodeDialog();
    int answer = ui->Dialog(d, nullptr);
    _exit(answer == kIdOk && d.fields[1].value == "111111" ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  auto ui = Make();
  Dialog d = CodeDialog();
  EXPECT_EQ(ui->Dialog(d, nullptr), kIdOk);
  EXPECT_EQ(d.fields[1].value, "222222");
  EXPECT_EQ(ui->Dialog(d, nullptr), kIdCancel);
  EXPECT_EQ(ui->Dialog(d, nullptr), kIdTimedOut);  // exhausted

  // A new script starts from its first line again.
  WriteScript("dialog * ok 1003=333333 \n");
  EXPECT_EQ(ui->Dialog(d, nullptr), kIdOk);
  EXPECT_EQ(d.fields[1].value, "333333");
}

TEST_F(ScriptedBackendTest, ChoicesAreMadeBeforeTheFieldsAndRelayout) {
  WriteScript("dialog 101 ok 1003=42 1001=2\n");
  struct Hooks : DialogHooks {
    void OnChoiceChanged(Dialog& d, int id) override {
      if (id == 1001) d.fields[1].label = "PIN";
    }
  } hooks;
  Dialog d = CodeDialog();
  Choice kind;
  kind.id = 1001;
  kind.items = {{"Soft", 2, true}, {"Card", 1, true}};
  kind.selected = 1;
  d.choices.push_back(kind);
  auto ui = Make();
  EXPECT_EQ(ui->Dialog(d, &hooks), kIdOk);
  EXPECT_EQ(d.choices[0].selected, 0);
  EXPECT_EQ(d.fields[1].label, "PIN");
  EXPECT_EQ(d.fields[1].value, "42");
}

TEST_F(ScriptedBackendTest, AnotherThreadClosesAWaitingPrompt) {
  WriteScript("dialog 101 wait\n");
  auto ui = Make();
  std::atomic<ThreadKey> key{0};
  std::atomic<int> answer{0};
  std::thread prompter([&] {
    key = CurrentThreadKey();
    Dialog d = CodeDialog();
    d.timeoutSeconds = 300;
    answer = ui->Dialog(d, nullptr);
  });
  // Close until the prompt has opened (bounded).
  for (int i = 0; i < 5000 && answer == 0; ++i) {
    if (key != 0) (void)CloseThreadWindows(key);
    usleep(1000);
  }
  prompter.join();
  EXPECT_EQ(answer, kIdClosed);
  auto lines = RecordLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\"answer\":\"close\""), std::string::npos);
}

TEST_F(ScriptedBackendTest, WaitingPromptEndsWithItsTimeOut) {
  WriteScript("dialog 101 wait\nbox * wait\n");
  setenv("TAVRIK_UI_TIMEOUT", "1", 1);
  auto ui = Make();
  Dialog d = CodeDialog();
  EXPECT_EQ(ui->Dialog(d, nullptr), kIdTimedOut);
  EXPECT_EQ(ui->MessageBox("C", "T", kMbOk, 60), kIdTimedOut);
  unsetenv("TAVRIK_UI_TIMEOUT");
}

TEST_F(ScriptedBackendTest, EnvironmentChoosesTheBackEnd) {
  WriteScript("box * cancel\n");
  setenv("TAVRIK_UI", "scripted", 1);
  setenv("TAVRIK_UI_SCRIPT", script_.c_str(), 1);
  setenv("TAVRIK_UI_RECORD", record_.c_str(), 1);
  EXPECT_STREQ(CurrentBackend().Name(), "scripted");
  EXPECT_EQ(ShowMessageBox("C", "T", kMbOkCancel, 60), kIdCancel);
  setenv("TAVRIK_UI", "none", 1);
  EXPECT_STREQ(CurrentBackend().Name(), "none");
  EXPECT_EQ(ShowMessageBox("C", "T", kMbOk, 60), kIdTimedOut);
  Dialog d = CodeDialog();
  EXPECT_EQ(RunDialog(d, nullptr), kIdTimedOut);
  unsetenv("TAVRIK_UI");
  unsetenv("TAVRIK_UI_SCRIPT");
  unsetenv("TAVRIK_UI_RECORD");
}

}  // namespace
}  // namespace qv::ui
