// The message box through which the runtime shows every message to a user;
// it closes itself when left unanswered for a minute.
// CMake target: qvsettings.
#pragma once

#include <cstdint>

inline constexpr uint32_t QV_MB_SERVICE_NOTIFICATION = 0x00200000;
inline constexpr uint32_t QV_TIMED_MESSAGE_BOX_SECONDS = 60;

extern "C" {

// Shows `text` under `caption` with `style` (message-box style bits, less the
// service-notification flag) and returns the button chosen. Left unanswered,
// the box closes after 60 seconds as if its close button were pressed: the
// answer is Cancel for boxes that have one, OK for an OK box, otherwise the
// ui layer's time-out answer. `owner` names no window on this system and is
// ignored.
int AMTimedMessageBox(void* owner, const char* text, const char* caption, uint32_t style);

}  // extern "C"

namespace qv::auth {
// Replaces the 60-second self-close (tests); 0 restores it.
void SetTimedMessageBoxSecondsForProcess(uint32_t seconds);
}  // namespace qv::auth
