#include "runtime/auth/protocol/ui_lock.h"

#include <chrono>
#include <mutex>
#include <new>

#include "platform/eventtext/eventtext.h"
#include "platform/ui/ui.h"

namespace qv::protocol {
namespace {

constexpr char kModule[] = "AMuilock";

std::mutex g_guard;  // guards the pointer, not the user
std::shared_ptr<std::timed_mutex> g_uiLock;
// The holder record: written under the UI lock, read by others under g_record.
std::mutex g_record;
qv::ui::ThreadKey g_holder = 0;
std::string g_holderDesktop;

std::shared_ptr<std::timed_mutex> Current(bool create) {
  std::lock_guard<std::mutex> guard(g_guard);
  if (!g_uiLock && create) g_uiLock.reset(new (std::nothrow) std::timed_mutex);
  return g_uiLock;
}

}  // namespace

bool CreateUiLock() { return Current(true) != nullptr; }

void DeleteUiLock() {
  std::lock_guard<std::mutex> guard(g_guard);
  g_uiLock.reset();
}

bool UiLockExists() { return Current(false) != nullptr; }

bool AcquireUiLock(uint32_t timeoutMs) {
  std::shared_ptr<std::timed_mutex> lock = Current(false);
  return lock && lock->try_lock_for(std::chrono::milliseconds(timeoutMs));
}

void ReleaseUiLock() {
  if (std::shared_ptr<std::timed_mutex> lock = Current(false)) lock->unlock();
}

UiConversation::UiConversation(const std::string& desktop) : lock_(Current(true)) {
  if (lock_) lock_->lock();  // without memory for the lock, nothing to serialise on
  std::lock_guard<std::mutex> guard(g_record);
  g_holder = qv::ui::CurrentThreadKey();
  g_holderDesktop = desktop;
}

UiConversation::~UiConversation() {
  {
    std::lock_guard<std::mutex> guard(g_record);
    g_holder = 0;
    g_holderDesktop.clear();
  }
  if (lock_) lock_->unlock();
}

std::string HolderDesktop() {
  std::lock_guard<std::mutex> guard(g_record);
  return g_holder != 0 ? g_holderDesktop : std::string();
}

bool CloseHolderWindows() {
  qv::ui::ThreadKey holder;
  {
    std::lock_guard<std::mutex> guard(g_record);
    holder = g_holder;
  }
  if (holder == 0) return false;
  qv::ui::CloseThreadWindows(holder);
  return true;
}

}  // namespace qv::protocol

// Other events may arrive inside a signal handler: they are left alone
// without touching a lock or a trace.
extern "C" int ConsoleCtrlHandler(uint32_t controlType) {
  if (controlType != QV_CTRL_LOGOFF_EVENT) return 0;
  QV_TRACE(2, 6, qv::protocol::kModule, "Entering ConsoleCtrlHandler");
  if (!qv::protocol::HolderDesktop().empty()) {
    QV_TRACE(8, 6, qv::protocol::kModule, "ConsoleCtrlHandler: Closing open dialogs before logoff");
    qv::protocol::CloseHolderWindows();
  }
  QV_TRACE(4, 6, qv::protocol::kModule, "Leaving ConsoleCtrlHandler, ret=0");
  return 0;
}
