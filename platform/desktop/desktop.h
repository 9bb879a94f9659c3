// The desktop that takes the user's input.
//
// The answer is the state of the active session on seat0 when logind can be
// asked: "Screen-saver" while that session is locked, "Default" otherwise (and
// when no session or no logind is found). The environment variable
// TAVRIK_INPUT_DESKTOP overrides the answer (tests, machines without logind).
#pragma once

#include <string>

#include "qvstatus.h"

namespace qv::desktop {

inline constexpr const char* kDefaultDesktop = "Default";
inline constexpr const char* kScreenSaverDesktop = "Screen-saver";

// Writes the input desktop's name; QV_OK (the query always yields a name).
QVSTATUS InputDesktopName(std::string& name);

}  // namespace qv::desktop
