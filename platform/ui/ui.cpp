#include "platform/ui/ui.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ui/backends.h"
#include "platform/ui/open_window.h"

namespace qv::ui {
namespace {

class NoneBackend final : public Backend {
 public:
  const char* Name() const override { return "none"; }
  int MessageBox(const std::string&, const std::string&, uint32_t, uint32_t) override {
    return kIdTimedOut;
  }
  int Dialog(qv::ui::Dialog&, DialogHooks*) override { return kIdTimedOut; }
};

std::mutex g_lock;
Backend* g_override = nullptr;
std::unique_ptr<Backend> g_fromEnvironment;
// Back ends of an earlier environment: another thread may still be inside one.
std::vector<std::unique_ptr<Backend>> g_retired;
std::string g_environmentKey;

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::unique_ptr<Backend> BackendFromEnvironment() {
  std::string choice = EnvOrEmpty("TAVRIK_UI");
  if (choice == "scripted") {
    return internal::MakeScriptedBackend(EnvOrEmpty("TAVRIK_UI_SCRIPT"),
                                         EnvOrEmpty("TAVRIK_UI_RECORD"));
  }
  if (choice == "none") return internal::MakeNoneBackend();
  std::unique_ptr<Backend> terminal = internal::MakeTerminalBackend();
  if (terminal) return terminal;
  return internal::MakeNoneBackend();
}

}  // namespace

namespace internal {
std::unique_ptr<Backend> MakeNoneBackend() { return std::make_unique<NoneBackend>(); }
}  // namespace internal

Backend& CurrentBackend() {
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_override != nullptr) return *g_override;
  // The environment is read again when it changed, so a test or a driver may
  // switch back ends between calls.
  std::string key = EnvOrEmpty("TAVRIK_UI") + '\n' + EnvOrEmpty("TAVRIK_UI_SCRIPT") + '\n' +
                    EnvOrEmpty("TAVRIK_UI_RECORD");
  if (!g_fromEnvironment || key != g_environmentKey) {
    if (g_fromEnvironment) g_retired.push_back(std::move(g_fromEnvironment));
    g_fromEnvironment = BackendFromEnvironment();
    g_environmentKey = key;
  }
  return *g_fromEnvironment;
}

void SetBackendForProcess(Backend* backend) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_override = backend;
}

int ShowMessageBox(const std::string& caption, const std::string& text, uint32_t style,
                   uint32_t timeoutSeconds) {
  return CurrentBackend().MessageBox(caption, text, style, timeoutSeconds);
}

int RunDialog(Dialog& dialog, DialogHooks* hooks) { return CurrentBackend().Dialog(dialog, hooks); }

}  // namespace qv::ui
