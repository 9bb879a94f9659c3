// Factories of the back ends (internal).
#pragma once

#include <memory>
#include <string>

#include "platform/ui/ui.h"

namespace qv::ui::internal {

// No user interface: everything ends at once as timed out.
std::unique_ptr<Backend> MakeNoneBackend();

// The user's terminal; nullptr when /dev/tty cannot be opened.
std::unique_ptr<Backend> MakeTerminalBackend();

// Terminal back end on given descriptors (tests drive it through a pty). The
// back end does not close them.
std::unique_ptr<Backend> MakeTerminalBackendOnFds(int inFd, int outFd);

// Answers from `scriptPath`, records to `recordPath` (either may be empty).
std::unique_ptr<Backend> MakeScriptedBackend(const std::string& scriptPath,
                                             const std::string& recordPath);

}  // namespace qv::ui::internal
