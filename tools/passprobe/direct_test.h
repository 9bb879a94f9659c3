// The direct test: the prompt library asks, the authentication client
// library judges, on this machine.
#pragma once

#include <string>

#include "promptdata.h"

namespace qv::probe {

// Runs one direct test with `block` (kept by the caller from one test to the
// next; filled at the first one with `user`). 0 authenticated, 1 not, 3 the
// server or the dialogs failed.
int DirectTest(PROMPT_DATA& block, const std::string& user);

// Prints the token server's configuration; false when it cannot be read
// (the message has been shown).
bool ShowConfiguration();

}  // namespace qv::probe
