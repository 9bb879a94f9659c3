// The desktop role's UI lock: one conversation with the user at a time in
// this process.
//
// A first, minimal form: a process-wide timed mutex created by start-up and
// deleted by rundown. The desktop conversations complete it (waits that
// give way to a user who switched desktops, ownership tracing).
#pragma once

#include <cstdint>

namespace qv::startup {

// Creates the lock (a second call keeps the first lock); false on failure.
bool CreateUiLock();
// Deletes the lock. It must not be held.
void DeleteUiLock();
bool UiLockExists();

// Waits at most `timeoutMs` for the lock; false when it was not taken or
// does not exist.
bool AcquireUiLock(uint32_t timeoutMs);
void ReleaseUiLock();

}  // namespace qv::startup
