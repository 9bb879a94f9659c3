// Runtime start-up and rundown (QVAgentStartup, QVAgentRundown in
// authcore.h), and what start-up leaves for the rest of the runtime: the
// role, the authentication client library's entries (agent role), the UI
// lock and the console control handlers (desktop role).
//
// Start-up and rundown run once each, from one thread, before and after all
// other use of the runtime. CMake target: qvstartup.
#pragma once

#include <cstdint>
#include <string>

#include "authclient/binding.h"
#include "authcore.h"

namespace qv::startup {

// 1 after a desktop-role start-up began, 0 for the agent role.
int DesktopSide();

// The client library's entries once the agent role has started; null
// otherwise.
const kel::ClientApi* ClientApi();

// The name the agent role binds ("authclient" by default); a path is used
// as it stands.
void SetClientLibraryForTest(const std::string& name);

}  // namespace qv::startup
