// Terminal back end: prompts on the user's terminal in raw mode, with its own
// line editing so that secret fields are never echoed and every wait has the
// dialog's time-out.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/backends.h"
#include "platform/ui/box_style.h"
#include "platform/ui/open_window.h"

namespace qv::ui::internal {
namespace {

using Clock = std::chrono::steady_clock;

enum class Key { kChar, kReturn, kBackspace, kCancel, kEndOfInput, kTimedOut, kClosed, kOther };

// Puts the terminal in raw mode for its lifetime (when it is a terminal).
class RawMode {
 public:
  explicit RawMode(int fd) : fd_(fd) {
    if (::tcgetattr(fd_, &saved_) != 0) return;
    struct termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(fd_, TCSANOW, &raw) == 0;
  }
  ~RawMode() {
    if (active_) ::tcsetattr(fd_, TCSANOW, &saved_);
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  int fd_;
  struct termios saved_ {};
  bool active_ = false;
};

// The wait of one window: a deadline that user activity may push back.
struct Wait {
  const OpenWindow* window;
  uint32_t timeout;  // 0: no limit
  uint32_t restart;  // seconds a keystroke gives again, 0: none
  Clock::time_point deadline;

  Wait(const OpenWindow* w, uint32_t timeoutSeconds, uint32_t restartSeconds)
      : window(w),
        timeout(EffectiveTimeout(timeoutSeconds)),
        restart(EffectiveTimeout(restartSeconds)),
        deadline(Clock::now() + std::chrono::seconds(timeout)) {}

  void Activity() {
    if (timeout != 0 && restart != 0) deadline = Clock::now() + std::chrono::seconds(restart);
  }
};

class TerminalBackend final : public Backend {
 public:
  TerminalBackend(int in, int out, bool owned) : in_(in), out_(out), owned_(owned) {}
  ~TerminalBackend() override {
    if (owned_) {
      ::close(in_);
      if (out_ != in_) ::close(out_);
    }
  }

  const char* Name() const override { return "terminal"; }

  int MessageBox(const std::string& caption, const std::string& text, uint32_t style,
                 uint32_t timeoutSeconds) override {
    OpenWindow window;  // before the lock: a close request reaches a waiting box
    std::lock_guard<std::mutex> guard(lock_);
    if (window.Closed()) return kIdClosed;
    RawMode raw(in_);
    Wait wait(&window, timeoutSeconds, 0);
    Write("\r\n[" + caption + "]\r\n" + Lines(text) + "\r\n");
    std::vector<int> buttons = BoxButtons(style);
    int fallback = BoxDefaultButton(style);
    bool hasCancel = false;
    for (int b : buttons) hasCancel = hasCancel || b == kIdCancel;
    if (buttons.size() == 1) {
      Write("Press Return to continue.");
    } else {
      std::string choices;
      for (int b : buttons) {
        if (!choices.empty()) choices += '/';
        choices += ButtonText(b);
      }
      Write(choices + " [" + ButtonText(fallback) + "]: ");
    }
    for (;;) {
      char c = 0;
      Key key = ReadKey(wait, c);
      switch (key) {
        case Key::kTimedOut:
          Write("\r\n");
          return kIdTimedOut;
        case Key::kClosed:
          Write("\r\n");
          return kIdClosed;
        case Key::kReturn:
          Write("\r\n");
          return fallback;
        case Key::kCancel:
        case Key::kEndOfInput:
          if (hasCancel || buttons.size() == 1) {
            Write("\r\n");
            return hasCancel ? kIdCancel : kIdOk;
          }
          if (key == Key::kEndOfInput) return kIdTimedOut;
          Beep();
          break;
        case Key::kChar:
          for (int b : buttons) {
            if (buttons.size() > 1 && Lower(c) == Lower(ButtonText(b)[0])) {
              Write(std::string(ButtonText(b)) + "\r\n");
              return b;
            }
          }
          Beep();
          break;
        default:
          break;
      }
    }
  }

  int Dialog(qv::ui::Dialog& dialog, DialogHooks* hooks) override {
    OpenWindow window;
    std::lock_guard<std::mutex> guard(lock_);
    if (window.Closed()) return kIdClosed;
    RawMode raw(in_);
    Wait wait(&window, dialog.timeoutSeconds, dialog.restartSeconds);
    bool hasCancel = false;
    for (const Button& b : dialog.buttons) hasCancel = hasCancel || b.id == kIdCancel;

    Write("\r\n== " + Plain(dialog.caption) + " ==\r\n");
    for (Choice& choice : dialog.choices) {
      int answer = AskChoice(wait, choice);
      if (answer != 0) return Finish(answer);
      if (hooks != nullptr) hooks->OnChoiceChanged(dialog, choice.id);
    }
    for (const StaticText& t : dialog.texts) {
      if (t.visible && !t.text.empty()) Write(Lines(Plain(t.text)) + "\r\n");
    }
    bool asked = false;
    for (Field& field : dialog.fields) {
      if (!field.visible) continue;
      if (field.readOnly || !field.enabled) {
        if (field.readOnly) Write(Plain(field.label) + " " + field.value + "\r\n");
        continue;
      }
      asked = true;
      int answer = ReadField(wait, field);
      if (answer != 0) return Finish(answer);
    }
    if (!asked) {
      Write(hasCancel ? "Press Return for OK, Esc to cancel." : "Press Return to continue.");
      for (;;) {
        char c = 0;
        Key key = ReadKey(wait, c);
        if (key == Key::kReturn) return Finish(kIdOk);
        if (key == Key::kTimedOut) return Finish(kIdTimedOut);
        if (key == Key::kClosed) return Finish(kIdClosed);
        if (key == Key::kCancel || key == Key::kEndOfInput) {
          return Finish(hasCancel ? kIdCancel : kIdTimedOut);
        }
      }
    }
    return kIdOk;
  }

 private:
  int Finish(int answer) {
    Write("\r\n");
    return answer;
  }

  // Lists the items and reads the number of one; 0 when chosen (or nothing to
  // choose), else the dialog's answer.
  int AskChoice(Wait& wait, Choice& choice) {
    if (!choice.visible || !choice.enabled) return 0;
    int enabled = 0;
    for (const ChoiceItem& item : choice.items) enabled += item.enabled ? 1 : 0;
    if (enabled < 2) return 0;
    if (!choice.label.empty()) Write(Plain(choice.label) + "\r\n");
    for (size_t i = 0; i < choice.items.size(); ++i) {
      const ChoiceItem& item = choice.items[i];
      Write("  " + std::to_string(i + 1) + ") " + Plain(item.text) +
            (item.enabled ? "" : " (not available)") + "\r\n");
    }
    for (;;) {
      std::string current =
          choice.selected >= 0 ? std::to_string(choice.selected + 1) : std::string();
      Field number;
      number.label = "Choice [" + current + "]:";
      number.numericOnly = true;
      number.maxLength = 3;
      int answer = ReadField(wait, number);
      if (answer != 0) return answer;
      if (number.value.empty() && choice.selected >= 0) return 0;
      size_t index = static_cast<size_t>(std::atoi(number.value.c_str()));
      if (index >= 1 && index <= choice.items.size() && choice.items[index - 1].enabled) {
        choice.selected = static_cast<int>(index - 1);
        return 0;
      }
      Beep();
    }
  }

  // Edits one field; 0 when Return ended it, else the dialog's answer.
  int ReadField(Wait& wait, Field& field) {
    std::string value = field.secret ? std::string() : field.value;
    Write(Plain(field.label) + " " + (field.secret ? "" : value));
    for (;;) {
      char c = 0;
      Key key = ReadKey(wait, c);
      switch (key) {
        case Key::kReturn:
          Write("\r\n");
          field.value = value;
          return 0;
        case Key::kBackspace:
          if (!value.empty()) {
            value.pop_back();
            if (!field.secret) Write("\b \b");
          }
          break;
        case Key::kChar: {
          bool allowed = !field.numericOnly || (c >= '0' && c <= '9') || c == '.';
          if (!allowed || (field.maxLength != 0 && value.size() >= field.maxLength)) {
            Beep();
          } else {
            value += c;
            if (!field.secret) Write(std::string(1, c));
          }
          break;
        }
        case Key::kCancel:
        case Key::kEndOfInput:
          Wipe(value);
          return key == Key::kCancel ? kIdCancel : kIdTimedOut;
        case Key::kTimedOut:
          Wipe(value);
          return kIdTimedOut;
        case Key::kClosed:
          Wipe(value);
          return kIdClosed;
        case Key::kOther:
          break;
      }
    }
  }

  Key ReadKey(Wait& wait, char& c) {
    for (;;) {
      if (wait.window->Closed()) return Key::kClosed;
      int waitMs = -1;
      if (wait.timeout != 0) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(wait.deadline - Clock::now());
        if (left.count() <= 0) return Key::kTimedOut;
        waitMs = static_cast<int>(std::min<long long>(left.count(), 60000));
      }
      struct pollfd fds[2] = {{in_, POLLIN, 0}, {wait.window->WakeFd(), POLLIN, 0}};
      int n = ::poll(fds, wait.window->WakeFd() >= 0 ? 2 : 1, waitMs);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Key::kEndOfInput;
      }
      if (n == 0) continue;
      if (fds[1].revents != 0) return Key::kClosed;
      if ((fds[0].revents & POLLIN) == 0) return Key::kEndOfInput;
      ssize_t got = ::read(in_, &c, 1);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) return Key::kEndOfInput;
      wait.Activity();
      unsigned char u = static_cast<unsigned char>(c);
      if (c == '\r' || c == '\n') return Key::kReturn;
      if (u == 0x7f || u == 0x08) return Key::kBackspace;
      if (u == 0x1b || u == 0x03) return Key::kCancel;
      if (u == 0x04) return Key::kEndOfInput;
      if (u < 0x20) return Key::kOther;
      return Key::kChar;
    }
  }

  void Write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(out_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  void Beep() { Write("\a"); }

  static void Wipe(std::string& s) {
    volatile char* p = s.data();
    for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
    s.clear();
  }

  static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

  // Drops the '&' that marks a keyboard shortcut ("&&" stands for '&').
  static std::string Plain(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '&') {
        if (i + 1 < text.size() && text[i + 1] == '&') out += '&', ++i;
        continue;
      }
      out += text[i];
    }
    return out;
  }

  // Line breaks as the raw terminal needs them.
  static std::string Lines(const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c == '\n') out += '\r';
      out += c;
    }
    return out;
  }

  int in_;
  int out_;
  bool owned_;
  std::mutex lock_;
};

}  // namespace

std::unique_ptr<Backend> MakeTerminalBackend() {
  int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<TerminalBackend>(fd, fd, true);
}

std::unique_ptr<Backend> MakeTerminalBackendOnFds(int inFd, int outFd) {
  return std::make_unique<TerminalBackend>(inFd, outFd, false);
}

}  // namespace qv::ui::internal
