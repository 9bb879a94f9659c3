#include "runtime/auth/timed_message_box.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/ui/ui.h"

namespace {

namespace ui = qv::ui;

// Records the box it is asked to show and gives a fixed answer.
class RecordingBackend : public ui::Backend {
 public:
  const char* Name() const override { return "recording"; }
  int MessageBox(const std::string& caption, const std::string& text, uint32_t style,
                 uint32_t timeoutSeconds) override {
    this->caption = caption;
    this->text = text;
    this->style = style;
    this->timeout = timeoutSeconds;
    ++shown;
    return answer;
  }
  int Dialog(ui::Dialog&, ui::DialogHooks*) override { return ui::kIdCancel; }

  std::string caption, text;
  uint32_t style = 0, timeout = 0;
  int shown = 0;
  int answer = ui::kIdTimedOut;
};

class TimedMessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { ui::SetBackendForProcess(&backend_); }
  void TearDown() override {
    ui::SetBackendForProcess(nullptr);
    qv::auth::SetTimedMessageBoxSecondsForProcess(0);
  }
  RecordingBackend backend_;
};

TEST_F(TimedMessageBoxTest, ShowsWithoutServiceNotificationAndClosesAfterAMinute) {
  backend_.answer = ui::kIdOk;
  EXPECT_EQ(AMTimedMessageBox(nullptr, "text", "Quillon Authentication", 0x240010), ui::kIdOk);
  EXPECT_EQ(backend_.caption, "Quillon Authentication");
  EXPECT_EQ(backend_.text, "text");
  EXPECT_EQ(backend_.style, ui::kMbTopmost | ui::kMbIconStop);
  EXPECT_EQ(backend_.timeout, 60u);

  qv::auth::SetTimedMessageBoxSecondsForProcess(1);
  AMTimedMessageBox(nullptr, "t", "c", 0);
  EXPECT_EQ(backend_.timeout, 1u);
}

TEST_F(TimedMessageBoxTest, UnansweredBoxReturnsTheCloseAnswer) {
  struct Case {
    uint32_t buttons;
    int answer;
  } cases[] = {
      {ui::kMbOk, ui::kIdOk},
      {ui::kMbOkCancel, ui::kIdCancel},
      {ui::kMbYesNoCancel, ui::kIdCancel},
      {ui::kMbRetryCancel, ui::kIdCancel},
      {ui::kMbYesNo, ui::kIdTimedOut},
      {ui::kMbAbortRetryIgnore, ui::kIdTimedOut},
  };
  backend_.answer = ui::kIdTimedOut;
  for (const Case& c : cases) {
    EXPECT_EQ(AMTimedMessageBox(nullptr, "t", "c", c.buttons | ui::kMbIconStop), c.answer)
        << c.buttons;
  }
  backend_.answer = ui::kIdClosed;
  EXPECT_EQ(AMTimedMessageBox(nullptr, "t", "c", ui::kMbOk), ui::kIdClosed);
}

}  // namespace

namespace {

// The scripted back end of the ui layer, left unanswered.
TEST(TimedMessageBoxScriptedTest, UnansweredBoxClosesItselfAndIsRecorded) {
  char tmpl[] = "/tmp/qvbox.XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  std::string script = dir + "/script", record = dir + "/record";
  FILE* f = fopen(script.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("box * wait\n", f);
  fclose(f);
  setenv("TAVRIK_UI", "scripted", 1);
  setenv("TAVRIK_UI_SCRIPT", script.c_str(), 1);
  setenv("TAVRIK_UI_RECORD", record.c_str(), 1);
  qv::auth::SetTimedMessageBoxSecondsForProcess(1);

  EXPECT_EQ(AMTimedMessageBox(nullptr, "Nobody answers", "Quillon Authentication", 0x240010),
            ui::kIdOk);

  qv::auth::SetTimedMessageBoxSecondsForProcess(0);
  unsetenv("TAVRIK_UI");
  unsetenv("TAVRIK_UI_SCRIPT");
  unsetenv("TAVRIK_UI_RECORD");
  std::string text;
  if (FILE* r = fopen(record.c_str(), "r")) {
    char buf[1024];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, r)) > 0) text.append(buf, n);
    fclose(r);
  }
  EXPECT_NE(text.find("Quillon Authentication"), std::string::npos) << text;
  EXPECT_NE(text.find("Nobody answers"), std::string::npos) << text;
  std::filesystem::remove_all(dir);
}

}  // namespace
