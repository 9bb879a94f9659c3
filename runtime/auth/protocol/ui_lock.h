// The desktop role's UI lock: one conversation with the user at a time in a
// process, and the record of the thread that holds it, so that a later
// session or the logoff handler can close that thread's open prompt.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace qv::protocol {

// The process's UI lock: created by start-up in the desktop role and deleted
// by rundown; a conversation in a process that was not started creates it.
bool CreateUiLock();  // a second call keeps the first lock; false on failure
void DeleteUiLock();  // a conversation holding it keeps it until it ends
bool UiLockExists();
// Waits at most `timeoutMs`; false when it was not taken or does not exist.
bool AcquireUiLock(uint32_t timeoutMs);
void ReleaseUiLock();

// Takes the lock and records the calling thread and the desktop it prompts
// on; the destructor clears the record and releases the lock.
class UiConversation {
 public:
  explicit UiConversation(const std::string& desktop);
  ~UiConversation();
  UiConversation(const UiConversation&) = delete;
  UiConversation& operator=(const UiConversation&) = delete;

 private:
  std::shared_ptr<std::timed_mutex> lock_;
};

// The holder's desktop name, empty when no thread holds a conversation.
std::string HolderDesktop();

// Closes every window of the holding thread; false when none holds one.
bool CloseHolderWindows();

}  // namespace qv::protocol

extern "C" {
// Logoff (control type 5) closes the open prompt; always 0 (not handled), so
// the other handlers run. Logoff must be dispatched from an ordinary thread;
// every other event is ignored at once (safe inside a signal handler).
int ConsoleCtrlHandler(uint32_t controlType);
}

inline constexpr uint32_t QV_CTRL_LOGOFF_EVENT = 5;
