// The server clock.
//
// Seconds since 1970. Tests pin it: SetFakeTimeForTest in-process, or the
// environment variable TAVRIK_FAKE_TIME (decimal seconds), which is ignored
// in privileged (set-user-ID, set-group-ID or capability-raised) processes.
#pragma once

#include <cstdint>

namespace kel {

int64_t ServerNow();

// 0 returns to the environment / real clock.
void SetFakeTimeForTest(int64_t seconds);

}  // namespace kel
