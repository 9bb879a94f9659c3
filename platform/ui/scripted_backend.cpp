// Scripted back end: answers from a script shared by every process that
// names it; the position in the script is kept in "<script>.pos" under a
// file lock, tagged with the script's identity so a rewritten script starts
// again from its first line.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/ui/backends.h"
#include "platform/ui/box_style.h"
#include "platform/ui/open_window.h"
#include "platform/ui/record.h"
#include "platform/ui/script.h"

namespace qv::ui::internal {
namespace {

constexpr off_t kMaxScriptBytes = 1 << 20;

std::string ScriptIdentity(const struct stat& st) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%llu:%llu:%lld:%lld.%09ld",
                static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino), static_cast<long long>(st.st_size),
                static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
  return buf;
}

bool ReadAll(int fd, std::string& out, off_t limit) {
  out.clear();
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buf, static_cast<size_t>(n));
    if (static_cast<off_t>(out.size()) > limit) return false;
  }
}

// Waits until the window is closed or the time-out passes (0: no limit).
int WaitOpen(const OpenWindow& window, uint32_t timeoutSeconds) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  while (!window.Closed()) {
    int waitMs = 1000;
    if (timeoutSeconds != 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return kIdTimedOut;
      waitMs = static_cast<int>(std::min<long long>(left.count(), 1000));
    }
    if (window.WakeFd() >= 0) {
      struct pollfd p = {window.WakeFd(), POLLIN, 0};
      (void)::poll(&p, 1, waitMs);
    } else {
      ::usleep(10000);
    }
  }
  return kIdClosed;
}

class ScriptedBackend final : public Backend {
 public:
  ScriptedBackend(std::string script, std::string record)
      : script_(std::move(script)), record_(std::move(record)) {}

  const char* Name() const override { return "scripted"; }

  int MessageBox(const std::string& caption, const std::string& text, uint32_t style,
                 uint32_t timeoutSeconds) override {
    OpenWindow window;
    uint32_t timeout = EffectiveTimeout(timeoutSeconds);
    std::optional<ScriptAnswer> line = Take([&](const ScriptAnswer& a) {
      return a.target == ScriptTarget::kBox &&
             (a.boxText.empty() || text.find(a.boxText) != std::string::npos);
    });
    int answer = BoxDefaultButton(style);
    const char* source = "default";
    if (line) {
      answer = line->answer;
      source = "script";
    }
    if (answer == kAnswerWait) answer = WaitOpen(window, timeout);
    if (window.Closed()) answer = kIdClosed;
    AppendRecordLine(record_, BoxRecord(caption, text, style, timeoutSeconds, answer, source));
    return answer;
  }

  int Dialog(qv::ui::Dialog& dialog, DialogHooks* hooks) override {
    OpenWindow window;
    uint32_t timeout = EffectiveTimeout(dialog.timeoutSeconds);
    std::optional<ScriptAnswer> line = Take([&](const ScriptAnswer& a) {
      return a.target != ScriptTarget::kBox &&
             (a.templateId == 0 || a.templateId == dialog.templateId);
    });
    int answer = kIdTimedOut;
    const char* source = "unscripted";
    if (line) {
      source = "script";
      answer = line->answer;
      Apply(*line, dialog, hooks);
    }
    if (answer == kAnswerWait) answer = WaitOpen(window, timeout);
    if (window.Closed()) answer = kIdClosed;
    AppendRecordLine(record_, DialogRecord(dialog, answer, source));
    return answer;
  }

 private:
  // Takes the next script line when `matches` accepts it.
  template <typename Match>
  std::optional<ScriptAnswer> Take(Match matches) {
    if (script_.empty()) return std::nullopt;
    int scriptFd = ::open(script_.c_str(), O_RDONLY | O_CLOEXEC);
    if (scriptFd < 0) return std::nullopt;
    std::optional<ScriptAnswer> taken;
    std::string posPath = script_ + ".pos";
    int posFd = ::open(posPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    struct stat st;
    if (posFd >= 0 && ::flock(posFd, LOCK_EX) == 0 && ::fstat(scriptFd, &st) == 0 &&
        st.st_size <= kMaxScriptBytes) {
      std::string text, pos;
      if (ReadAll(scriptFd, text, kMaxScriptBytes) && ReadAll(posFd, pos, 4096)) {
        std::string identity = ScriptIdentity(st);
        size_t next = 0;
        size_t space = pos.find(' ');
        if (space != std::string::npos && pos.substr(0, space) == identity) {
          next = std::strtoul(pos.c_str() + space + 1, nullptr, 10);
        }
        std::vector<ScriptAnswer> answers = ParseScript(text, nullptr);
        if (next < answers.size() && matches(answers[next])) {
          taken = answers[next];
          std::string updated = identity + ' ' + std::to_string(next + 1) + '\n';
          if (::ftruncate(posFd, 0) == 0) {
            ssize_t ignored = ::pwrite(posFd, updated.data(), updated.size(), 0);
            (void)ignored;
          }
        }
      }
    }
    if (posFd >= 0) ::close(posFd);  // also drops the lock
    ::close(scriptFd);
    return taken;
  }

  // Types the script's values as a user would: choices first (the dialog
  // lays itself out again after each), then the editable fields, with their
  // length and character limits.
  static void Apply(const ScriptAnswer& line, qv::ui::Dialog& dialog, DialogHooks* hooks) {
    for (const auto& [id, value] : line.values) {
      for (size_t c = 0; c < dialog.choices.size(); ++c) {
        Choice& choice = dialog.choices[c];
        if (choice.id != id || !choice.enabled || !choice.visible) continue;
        int wanted = std::atoi(value.c_str());
        for (size_t i = 0; i < choice.items.size(); ++i) {
          if (choice.items[i].value == wanted && choice.items[i].enabled) {
            choice.selected = static_cast<int>(i);
            if (hooks != nullptr) hooks->OnChoiceChanged(dialog, id);
            break;
          }
        }
      }
    }
    for (const auto& [id, value] : line.values) {
      for (Field& field : dialog.fields) {
        if (field.id != id || field.readOnly || !field.enabled || !field.visible) continue;
        std::string typed;
        for (char ch : value) {
          if (field.numericOnly && !((ch >= '0' && ch <= '9') || ch == '.')) continue;
          if (field.maxLength != 0 && typed.size() >= field.maxLength) break;
          typed += ch;
        }
        field.value = typed;
      }
    }
  }

  std::string script_;
  std::string record_;
};

}  // namespace

std::unique_ptr<Backend> MakeScriptedBackend(const std::string& scriptPath,
                                             const std::string& recordPath) {
  return std::make_unique<ScriptedBackend>(scriptPath, recordPath);
}

}  // namespace qv::ui::internal
