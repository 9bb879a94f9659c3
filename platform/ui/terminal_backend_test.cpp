// The terminal back end driven through a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/ui/backends.h"
#include "platform/ui/ui.h"

namespace qv::ui {
namespace {

class TerminalBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) GTEST_SKIP() << "no pseudo-terminals here";
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave_, 0);
    // Keys are typed ahead of the prompt: keep the line discipline from
    // echoing them before the back end takes the terminal.
    struct termios t;
    ASSERT_EQ(tcgetattr(slave_, &t), 0);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ASSERT_EQ(tcsetattr(slave_, TCSANOW, &t), 0);
    // A failing test ends in seconds, not minutes.
    setenv("TAVRIK_UI_TIMEOUT", "10", 1);
    ui_ = internal::MakeTerminalBackendOnFds(slave_, slave_);
  }
  void TearDown() override {
    ui_.reset();
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    unsetenv("TAVRIK_UI_TIMEOUT");
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Everything the back end wrote so far.
  std::string Screen() {
    std::string out;
    char buf[512];
    for (;;) {
      struct pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) break;
      ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }

  static Dialog CodeDialog() {
    Dialog d;
    d.templateId = 101;
    d.caption = "Vexa Quillon Authentication";
    d.texts.push_back({0, "Enter PASSCODE.", true, ""});
    Field user;
    user.id = 1002;
    user.label = "Enter User Name :";
    user.value = "alice";
    user.readOnly = true;
    Field code;
    code.id = 1003;
    code.label = "&Code:";
    code.secret = true;
    code.maxLength = 8;
    code.numericOnly = true;
    d.fields = {user, code};
    d.buttons = {{kIdOk, "OK"}, {kIdCancel, "Cancel"}};
    d.timeoutSeconds = 120;
    return d;
  }

  int master_ = -1;
  int slave_ = -1;
  std::unique_ptr<Backend> ui_;
};

TEST_F(TerminalBackendTest, SecretFieldsAreNotEchoed) {
  Dialog d = CodeDialog();
  // A letter is refused, backspace edits, the tenth digit is beyond the length.
  Type(
      "12x34\x7f"
      "456789\r");
  EXPECT_EQ(ui_->Dialog(d, nullptr), kIdOk);
  EXPECT_EQ(d.fields[1].value, "12345678");
  std::string screen = Screen();
  EXPECT_NE(screen.find("Vexa Quillon Authentication"), std::string::npos);
  EXPECT_NE(screen.find("Enter User Name : alice"), std::string::npos);
  EXPECT_NE(screen.find("Code:"), std::string::npos);
  EXPECT_EQ(screen.find("&Code"), std::string::npos);
  EXPECT_EQ(screen.find("1234"), std::string::npos);
}

TEST_F(TerminalBackendTest, EscapeCancelsAndSilenceTimesOut) {
  Dialog d = CodeDialog();
  Type("12\x1b");
  EXPECT_EQ(ui_->Dialog(d, nullptr), kIdCancel);
  setenv("TAVRIK_UI_TIMEOUT", "1", 1);
  EXPECT_EQ(ui_->Dialog(d, nullptr), kIdTimedOut);
  EXPECT_EQ(ui_->MessageBox("Quillon Authentication", "Access Denied.", kMbOk | kMbIconStop, 60),
            kIdTimedOut);
}

TEST_F(TerminalBackendTest, MessageBoxesTakeReturnOrAButtonLetter) {
  Type("\r");
  EXPECT_EQ(ui_->MessageBox("Quillon Authentication", "Access Denied.", kMbOk, 60), kIdOk);
  Type("\r");
  EXPECT_EQ(ui_->MessageBox("C", "Sure?", kMbYesNo | kMbDefButton2, 60), kIdNo);
  Type("y");
  EXPECT_EQ(ui_->MessageBox("C", "Sure?", kMbYesNo | kMbDefButton2, 60), kIdYes);
  std::string screen = Screen();
  EXPECT_NE(screen.find("[Quillon Authentication]"), std::string::npos);
  EXPECT_NE(screen.find("Access Denied."), std::string::npos);
  EXPECT_NE(screen.find("Yes/No [No]"), std::string::npos);
}

TEST_F(TerminalBackendTest, ChoicesAreAskedByNumber) {
  Dialog d = CodeDialog();
  Choice kind;
  kind.id = 1001;
  kind.label = "Choose Token :";
  kind.items = {{"Vexa Quillon Software Token", 2, true}, {"Vexa Quillon Card", 1, true}};
  kind.selected = 1;
  d.choices.push_back(kind);
  Type("9\r1\r5\r");  // 9 is no item: asked again
  EXPECT_EQ(ui_->Dialog(d, nullptr), kIdOk);
  EXPECT_EQ(d.choices[0].selected, 0);
  EXPECT_EQ(d.fields[1].value, "5");
}

TEST_F(TerminalBackendTest, AnotherThreadClosesTheOpenPrompt) {
  Dialog d = CodeDialog();
  std::atomic<ThreadKey> key{0};
  std::atomic<int> answer{0};
  std::thread prompter([&] {
    key = CurrentThreadKey();
    answer = ui_->Dialog(d, nullptr);
  });
  for (int i = 0; i < 5000 && answer == 0; ++i) {
    if (key != 0) (void)CloseThreadWindows(key);
    usleep(1000);
  }
  prompter.join();
  EXPECT_EQ(answer, kIdClosed);
}

}  // namespace
}  // namespace qv::ui
